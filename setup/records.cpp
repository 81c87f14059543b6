#include "records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "autolock.h"  // AutoLock::write_data: whole writes that survive EINTR
#include "log.h"
#include "treedir.h"
#include "types.h"

namespace {

const size_t DELIMITER_LENGTH = std::strlen(SECTION_DELIMITER);
const char MKSTEMP_SUFFIX[] = "XXXXXX";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

char foldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// ASCII case folding only: keys are plain identifiers, and the locale must not matter.
bool equalsIgnoreCase(const std::string& text, size_t pos, const std::string& key)
{
    if (text.size() < pos + key.size())
        return false;
    for (size_t i = 0; i < key.size(); ++i)
        if (foldCase(text[pos + i]) != foldCase(key[i]))
            return false;
    return true;
}

size_t firstNonBlank(const std::string& line)
{
    size_t pos = 0;
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    return pos;
}

// Whole-line rule (read, remove): key, exactly one blank, then at most one word and nothing after.
// On a match, valueStart is the position right after the blank.
bool matchesWholeLine(const std::string& line, const std::string& key, size_t& valueStart)
{
    size_t pos = firstNonBlank(line);
    if (pos == line.size())
        return false;
    if (!equalsIgnoreCase(line, pos, key))
        return false;
    size_t after = pos + key.size();
    if (after >= line.size() || !isBlank(line[after]))
        return false;
    for (size_t i = after + 1; i < line.size(); ++i)
        if (isBlank(line[i]))
            return false;
    valueStart = after + 1;
    return true;
}

// First-word rule (update): the first blank-delimited word of the line is the key.
bool matchesFirstWord(const std::string& line, const std::string& key)
{
    size_t pos = firstNonBlank(line);
    if (pos == line.size())
        return false;
    size_t end = pos;
    while (end < line.size() && !isBlank(line[end]))
        ++end;
    return end - pos == key.size() && equalsIgnoreCase(line, pos, key);
}

long findWholeLineMatch(const std::vector<std::string>& lines, const std::string& key, size_t& valueStart)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (matchesWholeLine(lines[i], key, valueStart))
            return long(i);
    return -1;
}

std::string joinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

// Creates the file when missing without touching its content; false when that is impossible.
bool ensureWritable(const std::string& path)
{
    struct stat st;
    bool existed = stat(path.c_str(), &st) == 0;
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        log_msg(MT_ERROR, "Unable to create/write to file %s\n", path.c_str());
        return false;
    }
    // A new record gets 0644 whatever the umask, so that every user can read the registry.
    if (!existed)
        fchmod(fd, 0644);
    close(fd);
    return true;
}

std::string directoryOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool isRecordTemporary(const char* name)
{
    const size_t prefixLength = std::strlen(RECORD_TEMP_PREFIX);
    if (std::strncmp(name, RECORD_TEMP_PREFIX, prefixLength) != 0 ||
        std::strlen(name) != prefixLength + std::strlen(MKSTEMP_SUFFIX))
        return false;
    for (const char* c = name + prefixLength; *c; ++c)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9')))
            return false;
    return true;
}

void syncDirectory(const std::string& dir)
{
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool readLines(const std::string& path, std::vector<std::string>& lines)
{
    lines.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        content.append(buffer, size_t(n));
    }
    close(fd);
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start));
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

bool replaceRecordFile(const std::string& path, const std::string& content)
{
    // Beside the record, so that the rename stays within one file system. The prefix is ours alone:
    // no payload path may use it, and the start-of-run clean-up deletes nothing else.
    std::string dir = directoryOf(path);

    mode_t mode = 0644;
    struct stat old;
    bool hadOld = stat(path.c_str(), &old) == 0;
    if (hadOld)
        mode = old.st_mode & 07777;

    std::string pattern = dir + "/" + RECORD_TEMP_PREFIX + MKSTEMP_SUFFIX;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const char* tempName = name.data();

    bool ok = AutoLock::write_data(fd, content.data(), content.size()) && fchmod(fd, mode) == 0;
    // Keep a registry that someone handed to another owner with that owner.
    if (ok && hadOld && (old.st_uid != geteuid() || old.st_gid != getegid()))
        ok = fchown(fd, old.st_uid, old.st_gid) == 0;
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(tempName, path.c_str()) == 0) {
        syncDirectory(dir);
        return true;
    }
    unlink(tempName);
    return false;
}

void removeRecordTemporaries(const std::string& installDir)
{
    // Never through a link: the record directory must really lie below the install directory.
    int fd = openTreeDir(installDir, RECORD_SUBDIR, false);
    if (fd < 0)
        return;
    int listFd = dup(fd);
    DIR* listing = listFd < 0 ? nullptr : fdopendir(listFd);
    if (!listing) {
        if (listFd >= 0)
            close(listFd);
        close(fd);
        return;
    }
    const std::string dir = recordDir(installDir);
    while (struct dirent* entry = readdir(listing)) {
        if (!isRecordTemporary(entry->d_name))
            continue;
        std::string path = dir + "/" + entry->d_name;
        if (unlinkat(fd, entry->d_name, 0) == 0)
            log_msg(MT_VV, "Temporary file %s has been deleted \n", path.c_str());
        else
            log_msg(MT_VV, "Temporary file %s is failed to delete \n", path.c_str());
    }
    closedir(listing);
    close(fd);
}

bool rewriteInPlace(const std::string& path, const std::vector<std::string>& lines)
{
    // Truncating the existing inode keeps the owner, mode and any link of a file that is not ours.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const std::string text = joinLines(lines);
    bool ok = AutoLock::write_data(fd, text.data(), text.size());
    ok = (close(fd) == 0) && ok;
    return ok;
}

int readFileLine(const std::string& szFilename, const std::string& szIdentifier, std::string& szValue)
{
    std::vector<std::string> lines;
    if (!readLines(szFilename, lines))
        return -1;
    return findFileLine(lines, szIdentifier, szValue);
}

int findFileLine(const std::vector<std::string>& lines, const std::string& szIdentifier, std::string& szValue)
{
    size_t valueStart = 0;
    long index = findWholeLineMatch(lines, szIdentifier, valueStart);
    if (index < 0)
        return 2;
    const std::string& line = lines[size_t(index)];
    // The match rule leaves no blank after valueStart, so the rest of the line is the value.
    if (valueStart >= line.size()) {
        szValue = "";
        return 1;
    }
    szValue = line.substr(valueStart);
    return 0;
}

bool updateFileLine(const std::string& szFilename, const std::string& szIdentifier, const std::string& szValue,
                    bool bEnd)
{
    if (!ensureWritable(szFilename))
        return false;
    std::vector<std::string> lines;
    if (!readLines(szFilename, lines))
        return false;
    std::string newLine = szIdentifier + " " + szValue;
    bool replaced = false;
    for (std::string& line : lines) {
        if (matchesFirstWord(line, szIdentifier)) {
            line = newLine;
            replaced = true;
            break;
        }
    }
    if (!replaced) {
        if (bEnd)
            lines.push_back(newLine);
        else
            lines.insert(lines.begin(), newLine);
    }
    return replaceRecordFile(szFilename, joinLines(lines));
}

bool removeFileLine(const std::string& szFilename, const std::string& szIdentifier)
{
    if (!ensureWritable(szFilename))
        return false;
    std::vector<std::string> lines;
    if (!readLines(szFilename, lines))
        return false;
    if (lines.empty())
        return true;
    size_t valueStart = 0;
    long index = findWholeLineMatch(lines, szIdentifier, valueStart);
    if (index < 0)
        return true;
    lines.erase(lines.begin() + index);
    return replaceRecordFile(szFilename, joinLines(lines));
}

std::unique_ptr<std::vector<std::string>> readSectionFromFilesDatAsVector(std::string fileName,
                                                                          const char* section_name)
{
    std::vector<std::string> lines;
    if (!readLines(fileName, lines))
        return nullptr;
    return std::make_unique<std::vector<std::string>>(sectionOfLines(lines, section_name));
}

std::vector<std::string> sectionOfLines(const std::vector<std::string>& lines, const char* section_name)
{
    std::string header = std::string(SECTION_DELIMITER) + (section_name ? section_name : "");
    std::vector<std::string> section;
    bool inside = false;
    for (const std::string& line : lines) {
        if (!inside) {
            if (line == header) {
                section.push_back(line);
                inside = true;
            }
        } else if (line.compare(0, DELIMITER_LENGTH, SECTION_DELIMITER) == 0) {
            break;
        } else {
            section.push_back(line);
        }
    }
    return section;
}

std::string readSectionFromFilesDatAsString(std::string fileName, const char* section_name)
{
    std::unique_ptr<std::vector<std::string>> section = readSectionFromFilesDatAsVector(fileName, section_name);
    return section ? joinLines(*section) : std::string();
}

int updateSectionInFilesDat(std::string fileName, const char* section_name,
                            const std::vector<std::string>* section_lines)
{
    std::string header = std::string(SECTION_DELIMITER) + (section_name ? section_name : "");
    std::vector<std::string> lines;
    std::vector<std::string> kept;
    // An unreadable file is replaced by one that holds the new section only.
    if (readLines(fileName, lines)) {
        bool skipping = false;
        for (const std::string& line : lines) {
            if (skipping) {
                if (line.compare(0, DELIMITER_LENGTH, SECTION_DELIMITER) != 0)
                    continue;
                skipping = false;
            }
            if (line == header)
                skipping = true;
            else
                kept.push_back(line);
        }
    }
    if (section_lines)
        kept.insert(kept.end(), section_lines->begin(), section_lines->end());
    return replaceRecordFile(fileName, joinLines(kept)) ? 0 : 1;
}
