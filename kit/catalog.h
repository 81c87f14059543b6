// The installer file's tail as the kit tool writes and reads it:
// program image, one bzip2 stream per payload file, the catalog
// "path=offset;path=offset;" and the trailer "<catalog length + 1>\n".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kit {

// The trailer holds at most five digits, so the catalog is at most this long.
inline constexpr size_t kMaxCatalogBytes = 99998;

struct Entry {
    std::string path;    // catalog path, relative to the install directory
    std::string source;  // file to compress (build input only)
    int64_t offset = 0;  // offset of the stream in the kit
    int line = 0;        // manifest line (build input only)
};

// Empty when the installer accepts path as a catalog path, else why not.
std::string checkCatalogPath(const std::string& path);

// Empty when the entries may share one catalog (no duplicates, no file
// that is also a directory of another), else why not, naming the entries
// by manifest line, or else by number.
std::string checkEntrySet(const std::vector<Entry>& entries);

// Catalog text without trailer, and the trailer that follows it.
std::string formatCatalog(const std::vector<Entry>& entries);
std::string formatTrailer(const std::string& catalog);

// A kit's tail, parsed strictly.
struct Tail {
    std::vector<Entry> entries;
    int64_t catalogStart = 0;  // first byte of the catalog
    int64_t catalogBytes = 0;  // its length, final ";" included
    int64_t fileSize = 0;
};

// Parses the tail of the file at path; empty on success, else why not.
std::string readTail(const std::string& path, Tail& tail);

// The version in the first "TARVO_KIT_VERSION=<major>.<minor>.<build>" and NUL
// within the file's first end bytes (the program image); empty when there is none.
std::string readVersionMark(const std::string& path, int64_t end);

}  // namespace kit
