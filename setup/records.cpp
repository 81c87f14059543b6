#include "records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

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

// First-word rule (update), on whole keys: the line begins with the key, then a blank or its end. For a
// key without blanks that is its first word; a caller ID with inner blanks thus finds its own line again.
bool matchesFirstWord(const std::string& line, const std::string& key)
{
    size_t pos = firstNonBlank(line);
    if (pos == line.size())
        return false;
    size_t end = pos + key.size();
    return equalsIgnoreCase(line, pos, key) && (end == line.size() || isBlank(line[end]));
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
// O_EXCL: a dangling link at the name must not make us create the file it names.
bool ensureWritable(const std::string& path)
{
    std::string name;
    int dir = openParentDir(path, name);
    struct stat st;
    int fd = dir < 0 ? -1 : openRegularAt(dir, name, O_WRONLY | O_APPEND, st, path);
    if (fd < 0 && dir >= 0 && errno == ENOENT) {
        fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        // A new record gets 0644 whatever the umask, so that every user can read the registry.
        if (fd >= 0)
            fchmod(fd, 0644);
    }
    if (dir >= 0)
        close(dir);
    if (fd < 0) {
        log_msg(MT_ERROR, "Unable to create/write to file %s\n", path.c_str());
        return false;
    }
    close(fd);
    return true;
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

void closeKeepingErrno(int fd)
{
    int saved = errno;
    close(fd);
    errno = saved;
}

// Six letters or digits, as mkstemp makes them. O_EXCL settles a collision, so when the kernel has no
// random bytes to give, a counter does.
std::string randomSuffix()
{
    static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned long counter = (unsigned long)(getpid()) ^ (unsigned long)(time(nullptr));
    unsigned char bytes[6];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
        unsigned long value = ++counter * 2654435761UL;
        for (unsigned char& b : bytes) {
            b = (unsigned char)(value);
            value >>= 5;
        }
    }
    std::string suffix;
    for (unsigned char b : bytes)
        suffix += LETTERS[b % (sizeof LETTERS - 1)];
    return suffix;
}

// Replaces path whole, keeping the owner and mode of the plain file there; newMode for a new one.
bool replaceByPath(const std::string& path, const std::string& content, mode_t newMode)
{
    std::string name;
    int dir = openParentDir(path, name);
    if (dir < 0)
        return false;
    struct stat old;
    int fd = openRegularAt(dir, name, O_RDONLY, old, path);
    bool existed = fd >= 0;
    if (existed)
        close(fd);
    bool ok = (existed || errno == ENOENT) && replaceAt(dir, name, content, existed ? &old : nullptr, newMode);
    close(dir);
    return ok;
}

}  // namespace

namespace {

// shownPath names a refused file in the log; empty, nothing is logged.
bool readLinesShown(const std::string& path, std::vector<std::string>& lines, int accessMode,
                    const std::string& shownPath)
{
    lines.clear();
    struct stat st;
    int fd = openRegularFile(path, accessMode, st, shownPath);
    if (fd < 0)
        return false;
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            closeKeepingErrno(fd);
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

}  // namespace

bool readLines(const std::string& path, std::vector<std::string>& lines, int accessMode)
{
    return readLinesShown(path, lines, accessMode, path);
}

bool readLinesSilently(const std::string& path, std::vector<std::string>& lines)
{
    return readLinesShown(path, lines, O_RDONLY, "");
}

std::string directoryOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int openRegularFile(const std::string& path, int flags, struct stat& st, const std::string& shownPath)
{
    std::string name;
    int dir = openParentDir(path, name);
    if (dir < 0)
        return -1;
    int fd = openRegularAt(dir, name, flags, st, shownPath);
    closeKeepingErrno(dir);
    return fd;
}

int openParentDir(const std::string& path, std::string& name)
{
    std::string dir = directoryOf(path);
    name = path.substr(path.rfind('/') + 1);
    // A record directory is reached component by component: any directory below the install
    // directory may have been replaced by a link.
    const std::string recordSuffix = std::string("/") + RECORD_SUBDIR;
    if (dir.size() > recordSuffix.size() &&
        dir.compare(dir.size() - recordSuffix.size(), recordSuffix.size(), recordSuffix) == 0)
        return openTreeDir(dir.substr(0, dir.size() - recordSuffix.size()), RECORD_SUBDIR, false);
    return open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int openRegularAt(int dirFd, const std::string& name, int flags, struct stat& st, const std::string& shownPath)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer (or a reader) that never comes.
    int fd = openat(dirFd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const char* refusal = nullptr;
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT || fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            errno = error;
            return -1;
        }
        if (S_ISLNK(st.st_mode))
            refusal = "a symbolic link";
        else if (!S_ISREG(st.st_mode))
            refusal = "not a regular file";  // a FIFO without a reader refuses O_WRONLY (ENXIO)
        else {
            errno = error;
            return -1;
        }
    } else if (fstat(fd, &st) != 0) {
        closeKeepingErrno(fd);
        return -1;
    } else if (!S_ISREG(st.st_mode)) {
        refusal = "not a regular file";
    } else if (st.st_nlink != 1) {
        refusal = "a file with more than one link";
    } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        closeKeepingErrno(fd);
        return -1;
    }
    if (!refusal)
        return fd;
    if (fd >= 0)
        close(fd);
    if (!shownPath.empty())
        log_msg(MT_ERROR, "%s is %s; it is neither read nor written\n", shownPath.c_str(), refusal);
    errno = S_ISLNK(st.st_mode) ? ELOOP : EINVAL;
    return -1;
}

bool replaceAt(int dirFd, const std::string& name, const std::string& content, const struct stat* old,
               mode_t newMode)
{
    // Beside the file, so that the rename stays within one file system. The prefix is ours alone:
    // no payload path may use it, and the start-of-run clean-up deletes nothing else.
    std::string tempName;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tempName = std::string(RECORD_TEMP_PREFIX) + randomSuffix();
        fd = openat(dirFd, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    mode_t mode = old ? old->st_mode & 07777 : newMode;
    bool ok = AutoLock::write_data(fd, content.data(), content.size()) && fchmod(fd, mode) == 0;
    // Keep a file that someone handed to another owner with that owner.
    struct stat mine;
    if (ok && old && fstat(fd, &mine) == 0 && (old->st_uid != mine.st_uid || old->st_gid != mine.st_gid))
        ok = fchown(fd, old->st_uid, old->st_gid) == 0 && fchmod(fd, mode) == 0;  // chown drops set-id bits
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && renameat(dirFd, tempName.c_str(), dirFd, name.c_str()) == 0) {
        fsync(dirFd);
        return true;
    }
    unlinkat(dirFd, tempName.c_str(), 0);
    return false;
}

bool replaceRecordFile(const std::string& path, const std::string& content)
{
    return replaceByPath(path, content, 0644);
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
    mode_t mask = umask(0);
    umask(mask);
    return replaceByPath(path, joinLines(lines), 0666 & ~mask);
}

bool recordFilesAreSafe(const std::string& installDir)
{
    int dir = openTreeDir(installDir, RECORD_SUBDIR, false);
    if (dir < 0)
        return errno == ENOENT;  // nothing installed yet; other failures are reported by the caller
    bool safe = true;
    for (const char* name : {FILES_DAT_NAME, INSTALLDB_NAME}) {
        struct stat st;
        int fd = openRegularAt(dir, name, O_RDONLY, st, recordDir(installDir) + "/" + name);
        if (fd >= 0)
            close(fd);
        else if (errno == ELOOP || errno == EINVAL)
            safe = false;
    }
    close(dir);
    return safe;
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
