// The floor for the install benchmark: decode every stream of a kit with libbz2 straight
// into its final place below DESTDIR, and do nothing else (no temporary names, no records,
// no logging). Usage: bench_floor KIT DESTDIR
#include <bzlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::string path;
    long long offset;
};

int die(const char* what, const std::string& detail)
{
    fprintf(stderr, "bench_floor: %s %s: %s\n", what, detail.c_str(), errno ? strerror(errno) : "bad data");
    return 1;
}

// Catalog "path=offset;..." ends the file, followed by its length + 1 and a line feed.
bool readCatalog(FILE* kit, std::vector<Entry>& entries)
{
    if (fseeko(kit, 0, SEEK_END) != 0)
        return false;
    off_t size = ftello(kit);
    if (size < 8)
        return false;
    char tail[8] = {};
    if (fseeko(kit, size - 7, SEEK_SET) != 0 || fread(tail, 1, 7, kit) != 7)
        return false;
    char* semi = static_cast<char*>(memrchr(tail, ';', 7));
    if (!semi)
        return false;
    long n = strtol(semi + 1, nullptr, 10);
    off_t semiPos = size - 7 + (semi - tail);
    off_t start = semiPos - n + 2;
    if (n < 2 || start < 0)
        return false;
    std::string text(static_cast<size_t>(n - 1), '\0');
    if (fseeko(kit, start, SEEK_SET) != 0 || fread(&text[0], 1, text.size(), kit) != text.size())
        return false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string::npos)
            break;
        size_t eq = text.find('=', pos);
        if (eq != std::string::npos && eq < end)
            entries.push_back({text.substr(pos, eq - pos), atoll(text.c_str() + eq + 1)});
        pos = end + 1;
    }
    return true;
}

bool makeParents(const std::string& path, std::set<std::string>& made)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (made.count(dir))
            continue;
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        made.insert(dir);
    }
    return true;
}

bool decode(FILE* kit, const Entry& e, const std::string& dest, std::vector<char>& buf)
{
    if (fseeko(kit, e.offset, SEEK_SET) != 0)
        return false;
    int fd = open(dest.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (fd < 0)
        return false;
    int bzerr = BZ_OK;
    BZFILE* bz = BZ2_bzReadOpen(&bzerr, kit, 0, 0, nullptr, 0);
    bool ok = bzerr == BZ_OK;
    while (ok && bzerr == BZ_OK) {
        int got = BZ2_bzRead(&bzerr, bz, buf.data(), static_cast<int>(buf.size()));
        if (bzerr != BZ_OK && bzerr != BZ_STREAM_END)
            ok = false;
        else if (got > 0 && write(fd, buf.data(), static_cast<size_t>(got)) != got)
            ok = false;
    }
    if (bz) {
        int closeErr;
        BZ2_bzReadClose(&closeErr, bz);
    }
    return close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: bench_floor KIT DESTDIR\n");
        return 2;
    }
    FILE* kit = fopen(argv[1], "rb");
    if (!kit)
        return die("cannot open", argv[1]);
    std::vector<Entry> entries;
    errno = 0;
    if (!readCatalog(kit, entries))
        return die("no catalog in", argv[1]);
    std::set<std::string> made;
    std::vector<char> buf(1 << 16);
    for (const Entry& e : entries) {
        std::string dest = std::string(argv[2]) + "/" + e.path;
        errno = 0;
        if (!makeParents(dest, made) || !decode(kit, e, dest, buf))
            return die("cannot decode", e.path);
    }
    fclose(kit);
    return 0;
}
