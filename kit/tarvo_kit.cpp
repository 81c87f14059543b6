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

namespace {

const char* const kUsage =
    "usage: tarvo_kit build --program PROG --manifest MANIFEST --out KIT [-j N]\n"
    "       tarvo_kit catalog-only --program PROG --manifest MANIFEST --out FILE\n"
    "       tarvo_kit list KIT\n"
    "       tarvo_kit verify KIT\n"
    "\n"
    "build         writes KIT: a copy of PROG, one bzip2 stream (block size 9) per\n"
    "              manifest entry, the catalog and its trailer. -j N compresses\n"
    "              up to N files at once (default: the number of processors);\n"
    "              the kit's bytes do not depend on N. On a terminal, a kit of\n"
    "              more than 16 MB shows its progress on standard error.\n"
    "catalog-only  writes FILE: a copy of PROG followed directly by the catalog of\n"
    "              the manifest's paths, every offset 9, and its trailer; no\n"
    "              streams. The payload's uninstaller reads its paths from it.\n"
    "list          prints each entry's catalog path, offset and compressed size.\n"
    "verify        decompresses every stream and checks that each one ends where\n"
    "              the next begins, the last where the catalog begins.\n"
    "\n"
    "MANIFEST lists one payload file a line, in catalog order:\n"
    "    catalog-path<TAB>source-file\n"
    "Blank lines and lines starting with '#' are ignored. A catalog path must\n"
    "be one the installer accepts and keeps, by the installer's own rule: a\n"
    "relative path below TARVO5/Linux/ppc64/64/ in printable ASCII; a refusal\n"
    "names the part of the rule it breaks. A relative source-file is relative\n"
    "to the directory that holds MANIFEST. catalog-only does not read the\n"
    "source files.\n"
    "The output is written to a temporary file beside it and renamed into place\n"
    "only when complete; it gets PROG's permission bits. The same inputs always\n"
    "give the same bytes.\n";

// Offset written for every entry of a catalog without streams; any value
// the installer accepts (at least 1) would do.
const int64_t kCatalogOnlyOffset = 9;
const long kMaxJobs = 256;

int fail(const std::string& message)
{
    fprintf(stderr, "tarvo_kit: %s\n", message.c_str());
    return 1;
}

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
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t tab = line.find('\t');
        if (tab == std::string::npos || tab + 1 == line.size()) {
            return where + "expected catalog-path<TAB>source-file";
        }
        kit::Entry e;
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
    return kit::checkEntrySet(entries);
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

    std::string temp = out + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        return fail("cannot create a temporary file beside " + out + ": " + errnoText());
    }
    temp = name.data();
    FILE* f = fdopen(fd, "wb");
    if (f == nullptr) {
        close(fd);
        unlink(temp.c_str());
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
    if (ok && rename(temp.c_str(), out.c_str()) != 0) {
        error = "cannot rename " + temp + " to " + out + ": " + errnoText();
        ok = false;
    }
    if (!ok) {
        unlink(temp.c_str());
        return fail(error);
    }
    return 0;
}

int cmdWrite(int argc, char** argv, bool catalogOnly)
{
    std::string prog, manifest, out, jobsText;
    for (int i = 2; i < argc; i += 2) {
        std::string opt = argv[i];
        if (i + 1 >= argc) {
            return fail("option " + opt + " needs a value");
        }
        std::string* target = opt == "--program"    ? &prog
                              : opt == "--manifest" ? &manifest
                              : opt == "--out"      ? &out
                              : opt == "-j"         ? &jobsText
                                                    : nullptr;
        if (target == nullptr) {
            return fail("unknown option " + opt);
        }
        *target = argv[i + 1];
    }
    if (prog.empty() || manifest.empty() || out.empty()) {
        fputs(kUsage, stderr);
        return 2;
    }
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    unsigned jobs = cores > 0 ? static_cast<unsigned>(cores) : 1;
    if (!jobsText.empty()) {
        char* end = nullptr;
        errno = 0;
        long n = strtol(jobsText.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || jobsText[0] < '0' || jobsText[0] > '9' || n < 1 || n > kMaxJobs) {
            return fail("-j needs a number from 1 to " + std::to_string(kMaxJobs) + ", not \"" + jobsText + "\"");
        }
        jobs = static_cast<unsigned>(n);
    }
    std::vector<kit::Entry> entries;
    std::string why = readManifest(manifest, entries);
    if (!why.empty()) {
        return fail(why);
    }
    return writeKit(prog, entries, out, catalogOnly, jobs);
}

int cmdList(const std::string& path)
{
    kit::Tail tail;
    std::string why = kit::readTail(path, tail);
    if (!why.empty()) {
        return fail(path + ": " + why);
    }
    // A catalog without streams repeats one offset: no sizes to show then.
    bool sized = true;
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
    if ((cmd == "list" || cmd == "verify") && argc == 3) {
        return cmd == "list" ? cmdList(argv[2]) : cmdVerify(argv[2]);
    }
    if (cmd == "-h" || cmd == "--help" || cmd == "help") {
        fputs(kUsage, stdout);
        return 0;
    }
    fputs(kUsage, stderr);
    return 2;
}
