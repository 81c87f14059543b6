// Reads the catalog at the end of the installer file and decompresses the
// bzip2 streams it points at. Layout of the tail, from the end backwards:
// a line feed, up to five digits N, then the catalog "path=offset;..." whose
// last ";" is the last ";" of the file; N is the catalog's length plus one.
#include "payload.h"

#include <bzlib.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "autolock.h"  // AutoLock::write_data: whole writes that survive EINTR
#include "legacy.h"
#include "log.h"

namespace {

// The ";" that ends the catalog must lie among the last bytes of the file:
// at most five digits and a line feed follow it.
const int kSemicolonSearchBytes = 7;
const int kChunkSize = 5000;
const size_t kMaxPayloadPath = 1024;

// The uninstaller's output, decoded once by checkCatalogCopy and copied when it is placed.
struct Decoded {
    std::string file;
    int64_t offset = 0;
    int fd = -1;
} g_decoded;

void closeDecoded()
{
    if (g_decoded.fd >= 0)
        close(g_decoded.fd);
    g_decoded = Decoded();
}

// Returns the position of the last ";" among the last seven bytes, or -1.
// Sets *after to the number of bytes that follow it.
off_t findTrailerSemicolon(FILE* f, int* after)
{
    for (int back = 1; back <= kSemicolonSearchBytes; ++back) {
        if (fseeko(f, -static_cast<off_t>(back), SEEK_END) != 0) {
            return -1;  // the file is shorter than the search window
        }
        int c = fgetc(f);
        if (c == EOF) {
            return -1;
        }
        if (c == ';') {
            *after = back - 1;
            return ftello(f) - 1;
        }
    }
    return -1;
}

bool allDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Damaged bytes may be anything; the log shows them as printable text of bounded length.
std::string shown(const std::string& text)
{
    std::string out = text.substr(0, 200);
    for (char& c : out)
        if (c < ' ' || c > '~')
            c = '?';
    return out;
}

// The catalog length from the bytes after the final ";": digits and the line feed that ends the file.
// 0 after logging when the trailer is damaged.
int32_t readCatalogLength(FILE* f, off_t semicolon, int after)
{
    // Without digits the length is missing rather than damaged.
    if (after <= 1) {
        log_msg(MT_ERROR, "Unable to retieve data section size in embedded file %d \n", 0);
        return 0;
    }
    char bytes[kSemicolonSearchBytes + 1] = {0};
    if (fseeko(f, semicolon + 1, SEEK_SET) != 0 || fread(bytes, 1, size_t(after), f) != size_t(after)) {
        log_msg(MT_ERROR, "Unable to retieve data section size in embedded file %d \n", 0);
        return 0;
    }
    std::string digits(bytes, size_t(after - 1));
    if (bytes[after - 1] != '\n' || !allDigits(digits)) {
        log_msg(MT_ERROR, "The installer file is damaged: it does not end in the catalog length and a line feed\n");
        return 0;
    }
    int32_t n = static_cast<int32_t>(strtol(digits.c_str(), nullptr, 10));
    if (n == 0) {
        log_msg(MT_ERROR, "Unable to retieve data section size in embedded file %d \n", 0);
    } else if (n == 1) {
        // Even a catalog without entries holds its ";", so 1 can only be a damaged length.
        log_msg(MT_ERROR, "The installer file is damaged: it does not end in the catalog length and a line feed\n");
        return 0;
    }
    return n;
}

// Appends one "path=offset" entry; false (after logging) when it is malformed.
bool addEntry(const std::string& entry, FileCollection& fc, std::unordered_set<std::string>& seen)
{
    size_t eq = entry.find('=');
    std::string name = eq == std::string::npos ? entry : entry.substr(0, eq);
    std::string offsetText = eq == std::string::npos ? entry : entry.substr(eq + 1);
    int64_t offset = strtoll(offsetText.c_str(), nullptr, 10);
    if (offset < 1) {
        log_msg(MT_ERROR, "File size retrived from data section is not correct:%d \n", static_cast<int>(offset));
        return false;
    }
    if (eq == std::string::npos || !allDigits(offsetText)) {
        log_msg(MT_ERROR, "The installer file is damaged: catalog entry %s is not a path, \"=\" and an offset\n",
                shown(entry).c_str());
        return false;
    }
    if (const char* problem = payloadPathProblem(name)) {
        log_msg(MT_ERROR, "The installer file is damaged: catalog path %s %s\n", shown(name).c_str(), problem);
        return false;
    }
    if (!seen.insert(name).second) {
        log_msg(MT_ERROR, "The installer file is damaged: the catalog names %s twice\n", name.c_str());
        return false;
    }
    log_msg(MT_VV, "Embedded File name %s and offset=%ld \n", name.c_str(), static_cast<long>(offset));
    FileResource res;
    res.destFilename = name;
    res.lOffset = offset;
    fc.files.push_back(res);
    return true;
}

// The catalog is entries each ended by ";". A lone ";" is a catalog without entries.
bool parseCatalog(const std::string& catalog, FileCollection& fc)
{
    if (catalog == ";")
        return true;
    std::unordered_set<std::string> seen;
    for (size_t start = 0; start < catalog.size();) {
        size_t end = catalog.find(';', start);
        if (!addEntry(catalog.substr(start, end - start), fc, seen))
            return false;
        start = end + 1;
    }
    return true;
}

// Each stream lies after the one before it and before the catalog, and begins with a bzip2 header.
bool checkStreams(FILE* f, const FileCollection& fc, size_t first, off_t catalogStart)
{
    int64_t previous = 0;
    for (size_t i = first; i < fc.files.size(); ++i) {
        const FileResource& r = fc.files[i];
        if (r.lOffset <= previous || r.lOffset > int64_t(catalogStart) - 4) {
            log_msg(MT_ERROR, "The installer file is damaged: the stream of %s does not lie between the one before "
                    "it and the catalog\n", r.destFilename.c_str());
            return false;
        }
        unsigned char header[4] = {0};
        if (fseeko(f, off_t(r.lOffset), SEEK_SET) != 0 || fread(header, 1, 4, f) != 4 ||
            memcmp(header, "BZh", 3) != 0 || header[3] < '1' || header[3] > '9') {
            log_msg(MT_ERROR, "The installer file is damaged: no bzip2 stream begins at offset %lld for %s\n",
                    static_cast<long long>(r.lOffset), r.destFilename.c_str());
            return false;
        }
        previous = r.lOffset;
    }
    return true;
}

int readDataTable(FILE* f, FileCollection& fc, bool withStreams)
{
    int after = 0;
    off_t semicolon = findTrailerSemicolon(f, &after);
    if (semicolon < 0) {
        log_msg(MT_ERROR, "Unable to find semicolon embedded in file \n");
        return 1;
    }

    int32_t n = readCatalogLength(f, semicolon, after);
    if (n == 0)
        return 1;

    // A length that reaches before the file's start cannot describe a catalog.
    off_t start = semicolon - static_cast<off_t>(n) + 2;
    if (start < 0 || fseeko(f, start, SEEK_SET) != 0 || ferror(f)) {
        log_msg(MT_ERROR, "Unable to read data from the starting of data section embedded in file \n");
        return 1;
    }

    // The catalog runs from start up to and including the final ";": exactly n - 1 bytes.
    char* buffer = static_cast<char*>(malloc(static_cast<size_t>(n)));
    if (buffer == nullptr) {
        log_msg(MT_ERROR, "Out of memory\n");
        return 1;
    }
    size_t got = fread(buffer, 1, static_cast<size_t>(n - 1), f);
    std::string catalog(buffer, got);
    free(buffer);
    if (got != static_cast<size_t>(n - 1)) {
        log_msg(MT_ERROR, "Unable to read data from the starting of data section embedded in file \n");
        return 1;
    }

    size_t first = fc.files.size();
    if (!parseCatalog(catalog, fc))
        return 1;
    // The uninstaller's catalog has no streams; it is read only for its paths.
    if (!withStreams)
        return 0;
    if (!checkStreams(f, fc, first, start))
        return 1;
    fc.lCatalogStart = start;
    return 0;
}

}  // namespace

const char* payloadPathProblem(const std::string& path)
{
    const std::string base = std::string(RECORD_SUBDIR) + "/";
    if (path.size() > kMaxPayloadPath)
        return "is longer than 1024 bytes";
    for (char c : path) {
        if (c <= ' ' || c > '~')
            return "holds a blank or a character that is not printable ASCII";
        if (c == ';' || c == '=' || c == '\\')
            return "holds a ';', '=' or '\\'";
    }
    if (path.compare(0, base.size(), base) != 0)
        return "does not begin with TARVO5/Linux/ppc64/64/";
    if (path.size() == base.size())
        return "names nothing below TARVO5/Linux/ppc64/64/";
    if (path.find("..") != std::string::npos)
        return "holds \"..\"";
    for (size_t start = 0;;) {
        size_t slash = path.find('/', start);
        std::string component = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (component.empty())
            return "has an empty component";
        if (component == ".")
            return "has a \".\" component";
        // The start-of-run clean-up deletes the one, the record writer owns the other.
        if (component.compare(0, 3, "pk.") == 0)
            return "has a component that begins with \"pk.\"";
        if (component.compare(0, 10, ".tarvotmp.") == 0)
            return "has a component that begins with \".tarvotmp.\"";
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    // Neither as a file nor as a directory: the records' own names are taken.
    const std::string first = path.substr(base.size(), path.find('/', base.size()) - base.size());
    if (first == FILES_DAT_NAME || first == INSTALLDB_NAME)
        return "names a record file";
    const std::string lib = base + "lib/";
    if (path.compare(0, lib.size(), lib) == 0 && isObsoleteLibraryFile(path.substr(lib.size())))
        return "names an obsolete file that an upgrade deletes";
    return nullptr;
}

int processDataTable(const std::string& zipFilename, FileCollection& fcZipDataTable, bool withStreams)
{
    FILE* f = fopen(zipFilename.c_str(), "rb");
    if (f == nullptr) {
        log_msg(MT_ERROR, "Could not open file %s for reading\n", zipFilename.c_str());
        return 1;
    }
    fcZipDataTable.strFilename = zipFilename;
    int result = readDataTable(f, fcZipDataTable, withStreams);
    fclose(f);
    return result;
}

namespace {

// The output for one stream: the named file, or a second descriptor of outFd that fclose may close.
FILE* openOutput(const char* temp, int outFd)
{
    if (outFd < 0)
        return fopen(temp, "wb");
    int copy = fcntl(outFd, F_DUPFD_CLOEXEC, 3);
    FILE* out = copy < 0 ? nullptr : fdopen(copy, "wb");
    if (out == nullptr && copy >= 0)
        close(copy);
    return out;
}

// Where the stream at offset must end: where the next one begins, or the catalog for the last.
int64_t expectedStreamEnd(const FileCollection& fc, int64_t offset)
{
    int64_t end = fc.lCatalogStart;
    for (const FileResource& r : fc.files)
        if (r.lOffset > offset && r.lOffset < end)
            end = r.lOffset;
    return end;
}

// A catalog whose damaged length or separator hides entries still looks whole; its streams then
// no longer end where the next entry, or the catalog, begins.
bool streamEndsInPlace(const FileCollection& fc, const FileResource& fileRes, FILE* in, BZFILE* bz)
{
    if (fc.lCatalogStart <= 0)
        return true;
    int bzerror = BZ_OK;
    void* unused = nullptr;
    int nUnused = 0;
    BZ2_bzReadGetUnused(&bzerror, bz, &unused, &nUnused);
    off_t position = ftello(in);
    if (bzerror == BZ_OK && position >= 0 && int64_t(position) - nUnused == expectedStreamEnd(fc, fileRes.lOffset))
        return true;
    log_msg(MT_ERROR, "The installer file is damaged: the stream of %s does not end where the next one begins\n",
            fileRes.destFilename.c_str());
    return false;
}

// Places the output that checkCatalogCopy decoded already.
bool copyDecoded(const char* temp, int outFd)
{
    FILE* out = openOutput(temp, outFd);
    char buffer[64 * 1024];
    ssize_t n = 0;
    for (off_t at = 0; out != nullptr && (n = pread(g_decoded.fd, buffer, sizeof buffer, at)) > 0; at += n)
        fwrite(buffer, 1, size_t(n), out);
    bool ok = out != nullptr && n == 0 && !ferror(out);
    if (out != nullptr && fclose(out) != 0)
        ok = false;
    if (!ok)
        log_msg(MT_ERROR, "Error writing to file %s\n", temp);
    else
        log_msg(MT_VV, "Extracted file %s\n", temp);
    return ok;
}

bool decompressTo(const FileCollection& fcZipDataTable, const FileResource& fileRes, int outFd)
{
    const char* source = fcZipDataTable.strFilename.c_str();
    const char* temp = fileRes.tempFilename.c_str();
    const char* dest = fileRes.destFilename.c_str();
    if (g_decoded.fd >= 0 && g_decoded.offset == fileRes.lOffset && g_decoded.file == fcZipDataTable.strFilename)
        return copyDecoded(temp, outFd);

    FILE* in = fopen(source, "rb");
    if (in == nullptr) {
        log_msg(MT_ERROR, "Could not open file %s for reading\n", source);
        return false;
    }
    if (fseeko(in, static_cast<off_t>(fileRes.lOffset), SEEK_SET) != 0 || ferror(in)) {
        log_msg(MT_ERROR, "Unable to extract embedded binary files\n");
        fclose(in);
        return false;
    }

    int bzerror = BZ_OK;
    BZFILE* bz = BZ2_bzReadOpen(&bzerror, in, 0, 0, nullptr, 0);
    if (bzerror != BZ_OK) {
        // The caller reports this one: it knows which file it was placing.
        if (bz != nullptr) {
            BZ2_bzReadClose(&bzerror, bz);
        }
        fclose(in);
        return false;
    }

    static char outBuffer[64 * 1024];  // single-threaded; the stream is closed before we return
    FILE* out = openOutput(temp, outFd);
    if (out == nullptr) {
        log_msg(MT_ERROR, "Error writing to file %s\n", temp);
        int ignored;
        BZ2_bzReadClose(&ignored, bz);
        fclose(in);
        return false;
    }

    // Fewer, larger writes than the 5000-byte pieces bzip2 hands out.
    setvbuf(out, outBuffer, _IOFBF, sizeof outBuffer);
    char buffer[kChunkSize];
    bool failed = false;
    while (bzerror == BZ_OK) {
        int n = BZ2_bzRead(&bzerror, bz, buffer, kChunkSize);
        if (bzerror != BZ_OK && bzerror != BZ_STREAM_END && n <= 0) {
            log_msg(MT_ERROR, "Unable to extract embedded binary file %s\n", dest);
            failed = true;
            break;
        }
        if (n > 0) {
            fwrite(buffer, 1, static_cast<size_t>(n), out);
        }
        if (ferror(out)) {
            log_msg(MT_ERROR, "Error writing to file %s\n", temp);
            failed = true;
            break;
        }
    }

    // Buffered data reaches the disk only here, so a full disk shows up on close.
    bool closed = fclose(out) == 0;
    bool ok = false;
    if (!failed) {
        if (!closed) {
            log_msg(MT_ERROR, "Error writing to file %s\n", temp);
        } else if (bzerror == BZ_STREAM_END) {
            ok = streamEndsInPlace(fcZipDataTable, fileRes, in, bz);
            if (ok)
                log_msg(MT_VV, "Extracted file %s\n", temp);
        } else {
            log_msg(MT_ERROR, "Unable to extract embedded binary file %s\n", dest);
        }
    }

    int ignored;
    BZ2_bzReadClose(&ignored, bz);
    fclose(in);
    return ok;
}

}  // namespace

bool decompressEmbeddedZipToFile(const FileCollection& fcZipDataTable, const FileResource& fileRes)
{
    return decompressTo(fcZipDataTable, fileRes, -1);
}

bool decompressEmbeddedZipToFd(const FileCollection& fcZipDataTable, const FileResource& fileRes, int fd)
{
    return decompressTo(fcZipDataTable, fileRes, fd);
}

namespace {

// Decodes a stream whole into the file copyFd (when it is not -1) and keeps the last bytes of its output,
// enough for any catalog and its trailer. False after logging.
bool decodeKeepingTail(const FileCollection& fc, const FileResource& r, int copyFd, std::string& tail)
{
    const size_t keep = 100000 + 2 * kSemicolonSearchBytes;
    FILE* in = fopen(fc.strFilename.c_str(), "rb");
    if (in == nullptr) {
        log_msg(MT_ERROR, "Could not open file %s for reading\n", fc.strFilename.c_str());
        return false;
    }
    int bzerror = BZ_OK;
    BZFILE* bz = fseeko(in, off_t(r.lOffset), SEEK_SET) == 0 ? BZ2_bzReadOpen(&bzerror, in, 0, 0, nullptr, 0) : nullptr;
    char buffer[kChunkSize];
    bool copied = true;
    while (bz != nullptr && bzerror == BZ_OK) {
        int n = BZ2_bzRead(&bzerror, bz, buffer, kChunkSize);
        if (n > 0 && (bzerror == BZ_OK || bzerror == BZ_STREAM_END)) {
            tail.append(buffer, size_t(n));
            copied = copied && copyFd >= 0 && AutoLock::write_data(copyFd, buffer, size_t(n));
        }
        if (tail.size() > 2 * keep)
            tail.erase(0, tail.size() - keep);
    }
    bool ok = bz != nullptr && bzerror == BZ_STREAM_END;
    if (!ok)
        log_msg(MT_ERROR, "Unable to extract embedded binary file %s\n", r.destFilename.c_str());
    else
        ok = streamEndsInPlace(fc, r, in, bz);
    int ignored;
    if (bz != nullptr)
        BZ2_bzReadClose(&ignored, bz);
    fclose(in);
    if (!copied && copyFd >= 0)
        g_decoded.offset = 0;  // the copy is incomplete: placing decodes again
    return ok;
}

}  // namespace

bool checkCatalogCopy(const FileCollection& fc)
{
    const std::string path = std::string(RECORD_SUBDIR) + "/uninstaller";
    const FileResource* uninstaller = nullptr;
    for (const FileResource& r : fc.files)
        if (r.destFilename == path && r.lOffset > 0)
            uninstaller = &r;
    if (uninstaller == nullptr) {
        log_msg(MT_ERROR, "The installer file is damaged: its catalog does not name %s, which carries its copy\n",
                path.c_str());
        return false;
    }
    // Kept whole, so that placing the uninstaller does not decode it a second time.
    closeDecoded();
    g_decoded.fd = memfd_create("tarvo-uninstaller", MFD_CLOEXEC);
    g_decoded.file = fc.strFilename;
    g_decoded.offset = uninstaller->lOffset;
    std::string tail;
    if (!decodeKeepingTail(fc, *uninstaller, g_decoded.fd, tail)) {
        closeDecoded();
        return false;
    }
    FileCollection copy;
    FILE* m = fmemopen(&tail[0], tail.size(), "rb");
    int read = m == nullptr ? 1 : readDataTable(m, copy, false);
    if (m != nullptr)
        fclose(m);
    if (read != 0) {
        log_msg(MT_ERROR, "The installer file is damaged: %s carries no copy of the catalog\n", path.c_str());
        closeDecoded();
        return false;
    }
    // Entries read from files.dat (offset 0) may precede the catalog's own.
    std::vector<std::string> names;
    for (const FileResource& r : fc.files)
        if (r.lOffset > 0)
            names.push_back(r.destFilename);
    for (size_t i = 0; i < std::max(names.size(), copy.files.size()); ++i) {
        std::string own = i < names.size() ? names[i] : "nothing";
        std::string copied = i < copy.files.size() ? copy.files[i].destFilename : "nothing";
        if (own != copied) {
            log_msg(MT_ERROR, "The installer file is damaged: its catalog names %s where the copy in %s names %s\n",
                    shown(own).c_str(), path.c_str(), shown(copied).c_str());
            closeDecoded();
            return false;
        }
    }
    return true;
}
