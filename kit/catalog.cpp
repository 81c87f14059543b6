#include "catalog.h"

#include <cstdio>
#include <map>

#include "payload.h"

namespace kit {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

std::string checkCatalogPath(const std::string& path)
{
    // The installer's own rule: a name it would reject or delete is never shipped.
    const char* problem = payloadPathProblem(path);
    return problem == nullptr ? "" : "catalog path " + quoted(path) + " " + problem;
}

std::string checkEntrySet(const std::vector<Entry>& entries)
{
    // Entries from a manifest are named by line, those of a catalog by number.
    auto number = [&](size_t i) { return std::to_string(entries[i].line > 0 ? entries[i].line : int(i + 1)); };
    auto place = [&](size_t i) { return (entries[i].line > 0 ? "line " : "entry ") + number(i); };
    std::map<std::string, size_t> seen;  // path -> index
    for (size_t i = 0; i < entries.size(); ++i) {
        auto at = seen.emplace(entries[i].path, i);
        if (!at.second) {
            return "catalog path " + quoted(entries[i].path) + " is listed twice (" +
                   (entries[i].line > 0 ? "lines " : "entries ") + number(at.first->second) + " and " + number(i) +
                   ")";
        }
    }
    // A path that is also the directory of another path cannot be installed.
    for (const auto& it : seen) {
        // Siblings such as "a.so" sort between "a" and "a/...", so look for "a/" itself.
        const std::string& path = it.first;
        auto below = seen.lower_bound(path + "/");
        if (below != seen.end() && below->first.compare(0, path.size() + 1, path + "/") == 0) {
            return "catalog path " + quoted(path) + " (" + place(it.second) + ") is also the directory of " +
                   quoted(below->first) + " (" + place(below->second) + ")";
        }
    }
    return "";
}

std::string formatCatalog(const std::vector<Entry>& entries)
{
    std::string catalog;
    for (const Entry& e : entries) {
        catalog += e.path + "=" + std::to_string(e.offset) + ";";
    }
    return catalog;
}

std::string formatTrailer(const std::string& catalog) { return std::to_string(catalog.size() + 1) + "\n"; }

namespace {

std::string parseCatalog(const std::string& catalog, Tail& tail)
{
    size_t begin = 0;
    while (begin < catalog.size()) {
        size_t end = catalog.find(';', begin);
        std::string entry = catalog.substr(begin, end - begin);
        size_t index = tail.entries.size() + 1;
        size_t eq = entry.find('=');
        if (entry.empty() || eq == std::string::npos) {
            return "catalog entry " + std::to_string(index) + " is not of the form path=offset";
        }
        Entry e;
        e.path = entry.substr(0, eq);
        std::string digits = entry.substr(eq + 1);
        if (digits.empty() || digits.size() > 18) {
            return "catalog entry " + std::to_string(index) + " has a bad offset";
        }
        for (char c : digits) {
            if (!isDigit(c)) {
                return "catalog entry " + std::to_string(index) + " has a bad offset";
            }
            e.offset = e.offset * 10 + (c - '0');
        }
        if (e.offset < 1 || e.offset >= tail.catalogStart) {
            return "catalog entry " + std::to_string(index) + " has offset " + digits +
                   ", outside the file before the catalog";
        }
        tail.entries.push_back(e);
        begin = end + 1;
    }
    return "";
}

}  // namespace

std::string readTail(const std::string& path, Tail& tail)
{
    tail = Tail();
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return "cannot open " + path;
    }
    std::string error;
    char end[7];
    size_t want = 0;
    if (fseeko(f, 0, SEEK_END) != 0 || (tail.fileSize = ftello(f)) < 0) {
        error = "cannot read " + path;
    } else {
        want = tail.fileSize < 7 ? static_cast<size_t>(tail.fileSize) : 7;
        if (fseeko(f, -static_cast<off_t>(want), SEEK_END) != 0 || fread(end, 1, want, f) != want) {
            error = "cannot read " + path;
        }
    }
    int64_t semicolon = -1;
    int32_t n = 0;
    if (error.empty()) {
        size_t i = want;
        if (i == 0 || end[i - 1] != '\n') {
            error = "the file does not end in a catalog trailer (no final line feed)";
        } else {
            --i;
            size_t digitsEnd = i;
            while (i > 0 && isDigit(end[i - 1])) {
                --i;
            }
            size_t digits = digitsEnd - i;
            if (digits < 1 || digits > 5 || i == 0 || end[i - 1] != ';') {
                error = "the file does not end in a catalog trailer (\";\", 1 to 5 digits, line feed)";
            } else {
                for (size_t k = i; k < digitsEnd; ++k) {
                    n = n * 10 + (end[k] - '0');
                }
                semicolon = tail.fileSize - static_cast<int64_t>(want - i) - 1;
            }
        }
    }
    if (error.empty()) {
        tail.catalogStart = semicolon - n + 2;
        tail.catalogBytes = n - 1;
        if (n < 2 || tail.catalogStart < 1) {
            error = "the catalog length " + std::to_string(n) + " does not fit the file";
        }
    }
    std::string catalog;
    if (error.empty()) {
        catalog.resize(static_cast<size_t>(n - 1));
        if (fseeko(f, tail.catalogStart, SEEK_SET) != 0 || fread(&catalog[0], 1, catalog.size(), f) != catalog.size()) {
            error = "cannot read the catalog of " + path;
        }
    }
    fclose(f);
    if (!error.empty()) {
        return error;
    }
    for (char c : catalog) {
        // The installer reads the catalog as one line of text.
        if (c < ' ' || c > '~') {
            return "the catalog contains a line feed or a non-printable character";
        }
    }
    return parseCatalog(catalog, tail);
}

namespace {

// The version after a mark at the start of text, with its NUL; empty when it is not one.
std::string versionAt(const char* text, size_t size)
{
    int digits = 0, dots = 0;
    for (size_t i = 0; i < size; ++i) {
        char c = text[i];
        if (c == '\0') {
            return digits > 0 && dots == 2 ? std::string(text, i) : "";
        }
        if (isDigit(c) && digits < 4) {
            ++digits;
        } else if (c == '.' && digits > 0 && dots < 2) {
            ++dots;
            digits = 0;
        } else {
            return "";
        }
    }
    return "";
}

}  // namespace

std::string readVersionMark(const std::string& path, int64_t end)
{
    static const char kMark[] = "TARVO_KIT_VERSION=";
    const size_t markSize = sizeof kMark - 1, keep = markSize + 16;  // a mark and the longest version
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return "";
    }
    // A window of the file: the last keep bytes of the previous chunk, then the next chunk.
    std::string window;
    std::vector<char> chunk(1u << 16);
    int64_t left = end;
    std::string version;
    while (version.empty() && left > 0) {
        size_t want = left < static_cast<int64_t>(chunk.size()) ? static_cast<size_t>(left) : chunk.size();
        size_t n = fread(chunk.data(), 1, want, f);
        if (n == 0) {
            break;
        }
        left -= static_cast<int64_t>(n);
        window.append(chunk.data(), n);
        // A mark whose version may go on into the next chunk is looked at again there.
        size_t from = 0, complete = window.size();
        if (left > 0) {
            complete = complete > keep ? complete - keep : 0;
        }
        while (version.empty()) {
            size_t at = window.find(kMark, from, markSize);
            if (at == std::string::npos || at >= complete) {
                break;
            }
            version = versionAt(window.data() + at + markSize, window.size() - at - markSize);
            from = at + 1;
        }
        if (window.size() > keep) {
            window.erase(0, window.size() - keep);
        }
    }
    fclose(f);
    return version;
}

}  // namespace kit
