// Release tool: appends the payload to the installer program and checks kits.
#include <bzlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "catalog.h"
#include "compress.h"
#include "temporary.h"
#include "versions.h"

namespace {

const char* const kSynopsis =
    "usage: tarvo_kit build --program PROG --manifest MANIFEST --out KIT [-j N]\n"
    "       tarvo_kit catalog-only --program PROG --manifest MANIFEST --out FILE\n"
    "       tarvo_kit list KIT\n"
    "       tarvo_kit verify KIT\n"
    "       tarvo_kit --help | --version\n";
const char* const kUsage =
    "\n"
    "build         writes KIT: a copy of PROG, one bzip2 stream (block size 9) per\n"
    "              manifest entry, the catalog and its trailer. -j N compresses\n"
    "              up to N files at once (default: the number of processors);\n"
    "              the kit's bytes do not depend on N. On a terminal, a kit of\n"
    "              more than 16 MB shows its progress on standard error.\n"
    "catalog-only  writes FILE: a copy of PROG followed directly by the catalog of\n"
    "              the manifest's paths, every offset 9, and its trailer; no\n"
    "              streams. The payload's uninstaller reads its paths from it.\n"
    "list          prints \"version V\", the version the kit's program carries\n"
    "              (\"version unknown\" without one), then each entry's catalog\n"
    "              path, offset and compressed size.\n"
    "verify        prints the version line, decompresses every stream and checks\n"
    "              that each one ends where the next begins, the last where the\n"
    "              catalog begins. A catalog-only file has its paths checked.\n"
    "\n"
    "Options also take the forms --program=PROG and -jN; a KIT beginning with\n"
    "'-' follows --. SUBCOMMAND --help prints this text.\n"
    "Exit status: 0 done, 1 failed (the reason on standard error), 2 a bad\n"
    "command line.\n"
    "\n"
    "MANIFEST lists one payload file a line, in catalog order:\n"
    "    catalog-path<TAB>source-file\n"
    "Lines end in LF alone (a carriage return is refused); blank lines and\n"
    "lines starting with '#' are ignored. A catalog path must\n"
    "be one the installer accepts and keeps, by the installer's own rule: a\n"
    "relative path below TARVO5/Linux/ppc64/64/ in printable ASCII; a refusal\n"
    "names the part of the rule it breaks. A relative source-file is relative\n"
    "to the directory that holds MANIFEST. catalog-only does not read the\n"
    "source files.\n"
    "The output is written to a temporary file beside it and renamed into place\n"
    "only when complete; SIGINT, SIGTERM and SIGHUP remove it. The output gets\n"
    "PROG's permission bits. The same inputs always give the same bytes.\n";

// Offset written for every entry of a catalog without streams; any value
// the installer accepts (at least 1) would do.
const int64_t kCatalogOnlyOffset = 9;
const long kMaxJobs = 256;

int fail(const std::string& message)
{
    fprintf(stderr, "tarvo_kit: %s\n", message.c_str());
    return 1;
}

// A bad command line: what is wrong, then the synopsis.
int usageError(const std::string& message)
{
    fprintf(stderr, "tarvo_kit: %s\n%s", message.c_str(), kSynopsis);
    return 2;
}

int help()
{
    fputs(kSynopsis, stdout);
    fputs(kUsage, stdout);
    return 0;
}

bool isHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

std::string errnoText() { return strerror(errno); }

std::string dirOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Reads the manifest; empty on success, else why not.
std::string readManifest(const std::string& manifest, std::vector<kit::Entry>& entries)
{
    std::ifstream in(manifest);
    if (!in) {
        return "cannot read manifest " + manifest;
    }
    std::string base = dirOf(manifest);
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::string where = manifest + ":" + std::to_string(lineNo) + ": ";
        if (line.find('\r') != std::string::npos) {
            return where + "the line holds a carriage return; a manifest has Unix line ends (LF alone)";
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t tab = line.find('\t');
        if (tab == std::string::npos || tab + 1 == line.size()) {
            return where + "expected catalog-path<TAB>source-file";
        }
        kit::Entry e;
        e.line = lineNo;
        e.path = line.substr(0, tab);
        e.source = line.substr(tab + 1);
        if (e.source[0] != '/') {
            e.source = base + "/" + e.source;
        }
        std::string why = kit::checkCatalogPath(e.path);
        if (!why.empty()) {
            return where + why;
        }
        entries.push_back(e);
    }
    if (in.bad()) {
        return "cannot read manifest " + manifest;
    }
    if (entries.empty()) {
        return "manifest " + manifest + " lists no payload file";
    }
    std::string why = kit::checkEntrySet(entries);
    return why.empty() ? "" : manifest + ": " + why;
}

bool copyInto(FILE* out, const std::string& source, std::string& error)
{
    FILE* in = fopen(source.c_str(), "rb");
    if (in == nullptr) {
        error = "cannot read " + source + ": " + errnoText();
        return false;
    }
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (fwrite(buffer, 1, n, out) != n) {
            error = "write error: " + errnoText();
            fclose(in);
            return false;
        }
    }
    bool readOk = !ferror(in);
    fclose(in);
    if (!readOk) {
        error = "cannot read " + source;
    }
    return readOk;
}

// Writes PROG, the streams (unless catalogOnly), the catalog and the trailer
// to a temporary file beside out and renames it to out.
int writeKit(const std::string& prog, std::vector<kit::Entry>& entries, const std::string& out, bool catalogOnly,
             unsigned jobs)
{
    struct stat progStat;
    if (stat(prog.c_str(), &progStat) != 0 || !S_ISREG(progStat.st_mode)) {
        return fail("program " + prog + " is not a readable file");
    }
    if (progStat.st_size == 0) {
        return fail("program " + prog + " is empty");
    }
    if (!catalogOnly) {
        for (const kit::Entry& e : entries) {
            struct stat st;
            if (stat(e.source.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(e.source.c_str(), R_OK) != 0) {
                return fail("source file " + e.source + " of " + e.path + " is missing or unreadable");
            }
        }
    }

    std::string temp;
    int fd = kit::createTemporary(out, temp);
    if (fd < 0) {
        return fail("cannot create a temporary file beside " + out + ": " + errnoText());
    }
    FILE* f = fdopen(fd, "wb");
    if (f == nullptr) {
        close(fd);
        kit::removeTemporary();
        return fail("cannot write " + temp);
    }

    std::string error;
    bool ok = copyInto(f, prog, error);
    if (ok && catalogOnly) {
        for (kit::Entry& e : entries) {
            e.offset = kCatalogOnlyOffset;
        }
    } else if (ok) {
        error = kit::appendStreams(f, ftello(f), entries, jobs, isatty(STDERR_FILENO) != 0);
        ok = error.empty();
    }
    if (ok) {
        std::string catalog = kit::formatCatalog(entries);
        if (catalog.size() > kit::kMaxCatalogBytes) {
            error = "the catalog would be " + std::to_string(catalog.size()) +
                    " bytes; its five-digit trailer allows at most " + std::to_string(kit::kMaxCatalogBytes);
            ok = false;
        } else {
            std::string tail = catalog + kit::formatTrailer(catalog);
            if (fwrite(tail.data(), 1, tail.size(), f) != tail.size()) {
                error = "write error: " + errnoText();
                ok = false;
            }
        }
    }
    if (ok && (fflush(f) != 0 || fsync(fileno(f)) != 0)) {
        error = "cannot write " + temp + ": " + errnoText();
        ok = false;
    }
    if (ok && fchmod(fileno(f), progStat.st_mode & 0777) != 0) {
        error = "cannot set the permissions of " + temp + ": " + errnoText();
        ok = false;
    }
    if (fclose(f) != 0 && ok) {
        error = "cannot write " + temp + ": " + errnoText();
        ok = false;
    }
    if (ok && kit::renameTemporary(out) != 0) {
        error = "cannot rename " + temp + " to " + out + ": " + errnoText();
        ok = false;
    }
    if (!ok) {
        kit::removeTemporary();
        return fail(error);
    }
    return 0;
}

int cmdWrite(int argc, char** argv, bool catalogOnly)
{
    std::string prog, manifest, out, jobsText;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i], name = arg, value;
        if (isHelp(arg)) {
            return help();
        }
        size_t eq = arg.find('=');
        bool joined = arg.compare(0, 2, "--") == 0 && eq != std::string::npos;
        if (joined) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        } else if (arg.size() > 2 && arg.compare(0, 2, "-j") == 0) {
            name = "-j";
            value = arg.substr(2);
            joined = true;
        }
        std::string* target = name == "--program"    ? &prog
                              : name == "--manifest" ? &manifest
                              : name == "--out"      ? &out
                              : name == "-j"         ? &jobsText
                                                     : nullptr;
        if (target == nullptr) {
            return usageError((name[0] == '-' ? "unknown option " : "unexpected argument ") + name);
        }
        if (!joined) {
            if (i + 1 >= argc) {
                return usageError("option " + name + " needs a value");
            }
            value = argv[++i];
        }
        if (value.empty()) {
            return usageError("option " + name + " needs a value");
        }
        if (!target->empty()) {
            return usageError("option " + name + " is given twice");
        }
        *target = value;
    }
    if (prog.empty() || manifest.empty() || out.empty()) {
        return usageError(std::string(argv[1]) + " needs --program, --manifest and --out");
    }
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    unsigned jobs = cores > 0 ? static_cast<unsigned>(cores) : 1;
    if (!jobsText.empty()) {
        char* end = nullptr;
        errno = 0;
        long n = strtol(jobsText.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || jobsText[0] < '0' || jobsText[0] > '9' || n < 1 || n > kMaxJobs) {
            return usageError("-j needs a number from 1 to " + std::to_string(kMaxJobs) + ", not \"" + jobsText + "\"");
        }
        jobs = static_cast<unsigned>(n);
    }
    std::vector<kit::Entry> entries;
    std::string why = readManifest(manifest, entries);
    if (!why.empty()) {
        return fail(why);
    }
    kit::catchStopSignals();
    return writeKit(prog, entries, out, catalogOnly, jobs);
}

// A catalog without streams, as catalog-only writes it: every entry shares
// one offset (for a single entry, the one catalog-only uses).
bool isCatalogOnly(const kit::Tail& tail)
{
    for (const kit::Entry& e : tail.entries) {
        if (e.offset != tail.entries[0].offset) {
            return false;
        }
    }
    return tail.entries.size() > 1 || tail.entries[0].offset == kCatalogOnlyOffset;
}

// The line naming the version the kit's program carries: the program image is
// everything before the first stream, or before the catalog when there is none.
void printVersion(const std::string& path, const kit::Tail& tail)
{
    int64_t image = tail.entries.empty() || isCatalogOnly(tail) ? tail.catalogStart : tail.entries[0].offset;
    std::string version = kit::readVersionMark(path, image);
    printf("version %s\n", version.empty() ? "unknown" : version.c_str());
}

int cmdList(const std::string& path)
{
    kit::Tail tail;
    std::string why = kit::readTail(path, tail);
    if (!why.empty()) {
        return fail(path + ": " + why);
    }
    printVersion(path, tail);
    // A catalog without streams repeats one offset: no sizes to show then.
    bool sized = !isCatalogOnly(tail);
    for (size_t i = 0; i + 1 < tail.entries.size(); ++i) {
        sized = sized && tail.entries[i].offset < tail.entries[i + 1].offset;
    }
    for (size_t i = 0; i < tail.entries.size(); ++i) {
        const kit::Entry& e = tail.entries[i];
        int64_t next = i + 1 < tail.entries.size() ? tail.entries[i + 1].offset : tail.catalogStart;
        std::string size = sized ? std::to_string(next - e.offset) : "-";
        printf("%s\t%lld\t%s\n", e.path.c_str(), static_cast<long long>(e.offset), size.c_str());
    }
    return 0;
}

// Decompresses the stream at offset to nowhere; empty when it is one complete
// stream ending exactly at end, else what is wrong.
std::string checkStream(const std::string& path, int64_t offset, int64_t end)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return "cannot open " + path;
    }
    if (fseeko(f, offset, SEEK_SET) != 0) {
        fclose(f);
        return "cannot seek to its offset";
    }
    int bzerror = BZ_OK;
    BZFILE* bz = BZ2_bzReadOpen(&bzerror, f, 0, 0, nullptr, 0);
    std::string why;
    char buffer[65536];
    while (bzerror == BZ_OK) {
        BZ2_bzRead(&bzerror, bz, buffer, sizeof buffer);
    }
    if (bzerror != BZ_STREAM_END) {
        why = "not a complete bzip2 stream (bzip2 error " + std::to_string(bzerror) + ")";
    } else {
        void* unused = nullptr;
        int nUnused = 0;
        BZ2_bzReadGetUnused(&bzerror, bz, &unused, &nUnused);
        int64_t streamEnd = ftello(f) - nUnused;
        if (streamEnd != end) {
            why = "its stream ends at " + std::to_string(streamEnd) + ", but the next piece begins at " +
                  std::to_string(end);
        }
    }
    if (bz != nullptr) {
        int ignored;
        BZ2_bzReadClose(&ignored, bz);
    }
    fclose(f);
    return why;
}

int cmdVerify(const std::string& path)
{
    kit::Tail tail;
    std::string why = kit::readTail(path, tail);
    if (!why.empty()) {
        return fail(path + ": " + why);
    }
    printVersion(path, tail);
    if (isCatalogOnly(tail)) {
        for (size_t i = 0; i < tail.entries.size() && why.empty(); ++i) {
            why = kit::checkCatalogPath(tail.entries[i].path);
        }
        why = why.empty() ? kit::checkEntrySet(tail.entries) : why;
        if (!why.empty()) {
            return fail(path + ": " + why);
        }
        printf("%s: catalog-only file (no streams): %zu paths checked, catalog of %lld bytes, file of %lld bytes\n",
               path.c_str(), tail.entries.size(), static_cast<long long>(tail.catalogBytes),
               static_cast<long long>(tail.fileSize));
        return 0;
    }
    for (size_t i = 0; i < tail.entries.size(); ++i) {
        const kit::Entry& e = tail.entries[i];
        std::string name = "entry " + std::to_string(i + 1) + " (" + e.path + ")";
        int64_t next = i + 1 < tail.entries.size() ? tail.entries[i + 1].offset : tail.catalogStart;
        why = kit::checkCatalogPath(e.path);
        if (why.empty() && next <= e.offset) {
            why = "offset " + std::to_string(e.offset) + " does not lie before the next piece at " + std::to_string(next);
        }
        if (why.empty()) {
            why = checkStream(path, e.offset, next);
        }
        if (!why.empty()) {
            return fail(path + ": " + name + ": " + why);
        }
    }
    why = kit::checkEntrySet(tail.entries);
    if (!why.empty()) {
        return fail(path + ": " + why);
    }
    printf("%s: %zu entries verified, catalog of %lld bytes, kit of %lld bytes\n", path.c_str(),
           tail.entries.size(), static_cast<long long>(tail.catalogBytes), static_cast<long long>(tail.fileSize));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "build" || cmd == "catalog-only") {
        return cmdWrite(argc, argv, cmd == "catalog-only");
    }
    if (cmd == "list" || cmd == "verify") {
        std::vector<std::string> operands;
        bool options = true;
        for (int i = 2; i < argc; ++i) {
            std::string arg = argv[i];
            if (options && isHelp(arg)) {
                return help();
            }
            if (options && arg == "--") {
                options = false;
            } else if (options && arg.size() > 1 && arg[0] == '-') {
                return usageError("unknown option " + arg);
            } else {
                operands.push_back(arg);
            }
        }
        if (operands.size() != 1) {
            return usageError(cmd + " takes one KIT");
        }
        return cmd == "list" ? cmdList(operands[0]) : cmdVerify(operands[0]);
    }
    if (isHelp(cmd) || cmd == "help") {
        return help();
    }
    if (cmd == "--version") {
        if (argc > 2) {
            return usageError("--version takes no argument");
        }
        printf("tarvo_kit %s\n", thisKitVersion());
        return 0;
    }
    return usageError(cmd.empty() ? "no command given" : "unknown command " + cmd);
}
