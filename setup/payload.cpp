// Reads the catalog at the end of the installer file and decompresses the
// bzip2 streams it points at. Layout of the tail, from the end backwards:
// a line feed, up to five digits N, then the catalog "path=offset;..." whose
// last ";" is the last ";" of the file; N is the catalog's length plus one.
#include "payload.h"

#include <bzlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"

namespace {

// The ";" that ends the catalog must lie among the last bytes of the file:
// at most five digits and a line feed follow it.
const int kSemicolonSearchBytes = 7;
const int kChunkSize = 5000;
const size_t kMaxPayloadPath = 1024;

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

// The trailer digits: every byte after the ";" except the final one, which
// is taken to be the line feed and never read.
int32_t readCatalogLength(FILE* f, off_t semicolon, int after)
{
    char digits[kSemicolonSearchBytes + 1] = {0};
    int count = after > 1 ? after - 1 : 0;
    if (count > 0) {
        if (fseeko(f, semicolon + 1, SEEK_SET) != 0) {
            return 0;
        }
        size_t got = fread(digits, 1, static_cast<size_t>(count), f);
        digits[got] = '\0';
    }
    return static_cast<int32_t>(strtol(digits, nullptr, 10));
}

// Appends one catalog entry; false (after logging) when its offset is bad.
bool addEntry(const std::string& entry, FileCollection& fc)
{
    size_t eq = entry.find('=');
    std::string name = eq == std::string::npos ? entry : entry.substr(0, eq);
    std::string offsetText = eq == std::string::npos ? entry : entry.substr(eq + 1);
    int64_t offset = strtoll(offsetText.c_str(), nullptr, 10);
    if (offset < 1) {
        log_msg(MT_ERROR, "File size retrived from data section is not correct:%d \n", static_cast<int>(offset));
        return false;
    }
    log_msg(MT_VV, "Embedded File name %s and offset=%ld \n", name.c_str(), static_cast<long>(offset));
    FileResource res;
    res.destFilename = name;
    res.lOffset = offset;
    fc.files.push_back(res);
    return true;
}

// Splits the catalog at runs of ";". Text after the last ";" counts only
// when it is the sole entry.
bool parseCatalog(const std::string& catalog, FileCollection& fc)
{
    size_t start = catalog.find_first_not_of(';');
    if (start == std::string::npos) {
        return true;
    }
    size_t end = catalog.find(';', start);
    for (;;) {
        size_t len = end == std::string::npos ? std::string::npos : end - start;
        if (!addEntry(catalog.substr(start, len), fc)) {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = catalog.find_first_not_of(';', end);
        if (start == std::string::npos) {
            return true;
        }
        end = catalog.find(';', start);
        if (end == std::string::npos) {
            return true;
        }
    }
}

int readDataTable(FILE* f, FileCollection& fc)
{
    int after = 0;
    off_t semicolon = findTrailerSemicolon(f, &after);
    if (semicolon < 0) {
        log_msg(MT_ERROR, "Unable to find semicolon embedded in file \n");
        return 1;
    }

    int32_t n = readCatalogLength(f, semicolon, after);
    if (n == 0) {
        log_msg(MT_ERROR, "Unable to retieve data section size in embedded file %d \n", 0);
        return 1;
    }

    // A length that reaches before the file's start cannot describe a catalog.
    off_t start = semicolon - static_cast<off_t>(n) + 2;
    if (start < 0 || fseeko(f, start, SEEK_SET) != 0 || ferror(f)) {
        log_msg(MT_ERROR, "Unable to read data from the starting of data section embedded in file \n");
        return 1;
    }

    // No buffer of a negative length exists.
    char* buffer = n < 0 ? nullptr : static_cast<char*>(malloc(static_cast<size_t>(n)));
    if (buffer == nullptr) {
        log_msg(MT_ERROR, "Out of memory\n");
        return 1;
    }
    buffer[0] = '\0';
    if (fgets(buffer, n, f) == nullptr) {
        buffer[0] = '\0';
    }
    std::string catalog(buffer);
    free(buffer);

    return parseCatalog(catalog, fc) ? 0 : 1;
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
    if (path == base + FILES_DAT_NAME || path == base + INSTALLDB_NAME)
        return "names a record file";
    return nullptr;
}

int processDataTable(const std::string& zipFilename, FileCollection& fcZipDataTable)
{
    FILE* f = fopen(zipFilename.c_str(), "rb");
    if (f == nullptr) {
        log_msg(MT_ERROR, "Could not open file %s for reading\n", zipFilename.c_str());
        return 1;
    }
    fcZipDataTable.strFilename = zipFilename;
    int result = readDataTable(f, fcZipDataTable);
    fclose(f);
    return result;
}

bool decompressEmbeddedZipToFile(const FileCollection& fcZipDataTable, const FileResource& fileRes)
{
    const char* source = fcZipDataTable.strFilename.c_str();
    const char* temp = fileRes.tempFilename.c_str();
    const char* dest = fileRes.destFilename.c_str();

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
    FILE* out = fopen(temp, "wb");
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
            log_msg(MT_VV, "Extracted file %s\n", temp);
            ok = true;
        } else {
            log_msg(MT_ERROR, "Unable to extract embedded binary file %s\n", dest);
        }
    }

    int ignored;
    BZ2_bzReadClose(&ignored, bz);
    fclose(in);
    return ok;
}
