#include "placement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "legacy.h"
#include "log.h"
#include "payload.h"
#include "treedir.h"
#include "versions.h"

namespace {

const size_t NAME_BUFFER = 4096;  // PATH_MAX of the platform, terminator included
// Temporary and backup files share the prefix, so the clean-up of a later run finds both.
const char* const TEMP_PREFIX = "pk.";
const mode_t INSTALLED_MODE = 0755;
const int NAME_TRIES = 100;

// A level while it is placed: its open directory and the moves of its files.
struct OpenLevel {
    std::string path;  // for messages
    int fd = -1;
    std::vector<FileResource>* files = nullptr;
    std::vector<FilestoMove> moves;
};

const char* leaf(const std::string& path) { return path.c_str() + path.rfind('/') + 1; }

// "pk." and six characters from [A-Za-z0-9].
std::string tempName()
{
    static const char chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned counter = 0;
    unsigned char bytes[6];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
        // Uniqueness, not secrecy, is what matters: O_EXCL and linkat refuse a name that exists.
        unsigned seed = unsigned(getpid()) * 2654435761u ^ unsigned(time(nullptr)) ^ (++counter * 40503u);
        for (unsigned char& b : bytes) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<unsigned char>(seed >> 16);
        }
    }
    std::string name = TEMP_PREFIX;
    for (unsigned char b : bytes)
        name += chars[b % (sizeof chars - 1)];
    return name;
}

bool nameExists(int dirFd, const char* name)
{
    struct stat st;
    return fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Creates a new empty temporary file in dirFd; its descriptor, or -1.
int makeTempFile(int dirFd, std::string& name)
{
    for (int i = 0; i < NAME_TRIES; ++i) {
        name = tempName();
        int fd = openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd > 0)
            return fd;
        // Descriptor 0 is not trusted as a result; drop what it created.
        if (fd == 0) {
            close(fd);
            unlinkat(dirFd, name.c_str(), 0);
            return -1;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// A free backup name in dirFd; false when none was found.
bool pickBackupName(int dirFd, std::string& name)
{
    for (int i = 0; i < NAME_TRIES; ++i) {
        name = tempName();
        if (!nameExists(dirFd, name.c_str()))
            return true;
    }
    return false;
}

void removeLogged(int dirFd, const std::string& name, int state)
{
    if (unlinkat(dirFd, leaf(name), 0) != 0)
        log_msg(MT_VV, "Failed to remove %s [%d]\n", name.c_str(), state);
}

// The temporary files made for the files of a level that have no move yet.
void sweepTempFiles(const OpenLevel& level)
{
    for (size_t i = level.moves.size(); i < level.files->size(); ++i) {
        const std::string& temp = (*level.files)[i].tempFilename;
        if (!temp.empty())
            unlinkat(level.fd, leaf(temp), 0);
    }
}

// Puts every level back as it was. The backup is a link to the old file, so a replaced destination
// returns with one rename and is never missing.
void rollBack(std::vector<OpenLevel>& levels)
{
    for (OpenLevel& level : levels) {
        if (level.fd < 0)
            continue;
        sweepTempFiles(level);
        for (const FilestoMove& m : level.moves) {
            switch (m.ret) {
            case 0:
            case 3:
            case 7:
                removeLogged(level.fd, m.TmpName, m.ret);
                break;
            case 1:
                removeLogged(level.fd, m.DestName, m.ret);
                break;
            case 4:
                removeLogged(level.fd, m.OldName, m.ret);
                removeLogged(level.fd, m.TmpName, m.ret);
                break;
            case 5:
                removeLogged(level.fd, m.OldName, m.ret);
                break;
            case 6:
                if (renameat(level.fd, leaf(m.OldName), level.fd, leaf(m.DestName)) != 0)
                    log_msg(MT_VV, "Failed to move %s to %s [%d]\n", m.OldName.c_str(), m.DestName.c_str(), m.ret);
                break;
            default:
                break;
            }
        }
    }
}

void commit(const OpenLevel& level)
{
    for (const FilestoMove& m : level.moves) {
        const char* dest = m.DestName.c_str();
        const char* old = m.OldName.c_str();
        if (m.ret == 6) {
            if (unlinkat(level.fd, leaf(m.OldName), 0) == 0) {
                log_msg(MT_VV, "Files %s has been deleted \n", old);
            } else {
                log_msg(MT_INFO, "Existing file %s has been moved to %s \n", dest, old);
                log_msg(MT_INFO, "Please remove %s file manually as it is being used by some product\n", old);
            }
        } else if (m.ret == 5) {
            // The destination never left; only its backup link goes.
            if (unlinkat(level.fd, leaf(m.OldName), 0) == 0)
                log_msg(MT_VV, "File %s can not be installed by this setup file, hence it has been left as it is \n",
                        dest);
            else
                log_msg(MT_INFO,
                        "Failed to delete temporary file %s, Please remove it manually before running uninstaller \n",
                        old);
        }
        if (m.ret == 1 || m.ret == 6) {
            if (m.modeSet)
                log_msg(MT_VV, "Set permissions for file %s\n", dest);
            else
                log_msg(MT_INFO, "problem in setting permission for file %s", dest);
        }
    }
}

// Makes one move and returns its state; the destination is examined before anything is changed.
int moveOne(int dirFd, const FilestoMove& m)
{
    const char* dest = m.DestName.c_str();
    const char* tmp = m.TmpName.c_str();
    const char* old = m.OldName.c_str();
    bool destExists = nameExists(dirFd, leaf(m.DestName));
    bool tmpExists = nameExists(dirFd, leaf(m.TmpName));
    if (destExists) {
        // A second name for the old file, then one rename over it: the destination is never missing.
        if (linkat(dirFd, leaf(m.DestName), dirFd, leaf(m.OldName), 0) != 0) {
            log_msg(MT_VV, "Failed to move %s to %s \n", dest, old);
            if (tmpExists) {
                log_msg(MT_VV, " %s file is present [%d] \n", tmp, 7);
                return 7;
            }
            log_msg(MT_VV, "%s file is also not present [%d]\n", tmp, 8);
            return 8;
        }
        log_msg(MT_VV, "Existing %s has been moved to %s \n", dest, old);
        if (renameat(dirFd, leaf(m.TmpName), dirFd, leaf(m.DestName)) == 0) {
            log_msg(MT_VV, "Files %s has been moved to %s [%d]\n", tmp, dest, 6);
            return 6;
        }
        log_msg(MT_VV, "Files %s has not been moved to %s \n", tmp, dest);
        if (tmpExists) {
            log_msg(MT_VV, "Even %s file is present [%d] \n", tmp, 4);
            return 4;
        }
        log_msg(MT_VV, "Since %s file is not present [%d]\n", tmp, 5);
        return 5;
    }
    log_msg(MT_VV, "Files %s Does not exist \n", dest);
    if (renameat(dirFd, leaf(m.TmpName), dirFd, leaf(m.DestName)) == 0) {
        log_msg(MT_VV, "File %s has been moved to %s [%d]\n", tmp, dest, 1);
        return 1;
    }
    log_msg(MT_VV, "File %s has not been moved to %s \n", tmp, dest);
    if (tmpExists) {
        log_msg(MT_VV, "Even %s file is present [%d] \n", tmp, 3);
        return 3;
    }
    log_msg(MT_VV, "Since %s file is not present [%d]\n", tmp, 2);
    return 2;
}

// Opens (making it when missing) the directory of one level; false after logging.
bool openLevel(const std::string& installDir, const TreeLevel& level, OpenLevel& open)
{
    open.path = level.relDir.empty() ? installDir : installDir + "/" + level.relDir;
    open.fd = openTreeDir(installDir, level.relDir, true);
    if (open.fd >= 0)
        return true;
    int err = errno;
    log_msg(MT_ERROR, "Failed to create installation directory\n");
    if (err == ENOTDIR)
        log_msg(MT_ERROR, "A component of the installation path was not a directory\n");
    else if (err == ELOOP)
        log_msg(MT_ERROR, "A component of %s is a symbolic link, which is never followed\n", open.path.c_str());
    return false;
}

// Decodes every file of a level to a new temporary file, its writeback started at once so that the
// disk works while the next one is decoded.
bool extractLevel(const FileCollection& fcTop, OpenLevel& level)
{
    for (FileResource& f : *level.files) {
        std::string name;
        int fd = makeTempFile(level.fd, name);
        if (fd < 0)
            return false;
        f.tempFilename = level.path + "/" + name;
        bool ok = decompressEmbeddedZipToFd(fcTop, f, fd);
        if (ok)
            sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        close(fd);
        if (!ok) {
            log_msg(MT_ERROR, "Failed to decompress %s to %s\n", f.destFilename.c_str(), f.tempFilename.c_str());
            return false;
        }
    }
    return true;
}

// Makes each extracted file durable with its final mode and pairs it with its destination and a
// backup name; false after logging.
bool collectLevel(OpenLevel& level)
{
    for (const FileResource& f : *level.files) {
        FilestoMove m;
        m.TmpName = f.tempFilename;
        int fd = openat(level.fd, leaf(f.tempFilename), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        m.modeSet = fd >= 0 && fchmod(fd, INSTALLED_MODE) == 0;
        bool synced = fd >= 0 && fsync(fd) == 0;
        if (fd >= 0 && close(fd) != 0)
            synced = false;
        if (!synced) {
            log_msg(MT_ERROR, "Failed to write %s to disk\n", f.tempFilename.c_str());
            return false;
        }
        std::string mapped;
        getVersionedLibName(g_thisKitVersionString, f.destFilename, mapped);
        m.DestName = level.path + "/" + mapped;
        std::string backup;
        if (m.DestName.size() > NAME_BUFFER - 1) {
            log_msg(MT_ERROR, "Destination Path %s length is more than PATH MAX \n", m.DestName.c_str());
            return false;
        }
        if (!pickBackupName(level.fd, backup)) {
            log_msg(MT_ERROR, "Unable to reserve a backup name for %s\n", m.DestName.c_str());
            return false;
        }
        m.OldName = level.path + "/" + backup;
        level.moves.push_back(m);
        log_msg(MT_VV, "Destname=%s TmpName=%s and Oldname=%s \n", m.DestName.c_str(), m.TmpName.c_str(),
                m.OldName.c_str());
    }
    return true;
}

bool moveLevel(OpenLevel& level)
{
    for (FilestoMove& m : level.moves) {
        m.ret = moveOne(level.fd, m);
        if (m.ret == 3 || m.ret == 4) {
            log_msg(MT_ERROR, "Failed to move %s  to %s [%d]\n", m.TmpName.c_str(), m.DestName.c_str(), m.ret);
            return false;
        }
        if (m.ret == 7 || m.ret == 8) {
            log_msg(MT_ERROR, "Failed to move %s  to %s [%d]\n", m.DestName.c_str(), m.OldName.c_str(), m.ret);
            return false;
        }
    }
    return true;
}

// The passes over the whole tree; false after logging, with everything already placed put back.
bool placeLevels(const std::string& installDir, const FileCollection& fcTop, std::vector<TreeLevel>& levels,
                 std::vector<OpenLevel>& open)
{
    for (TreeLevel& level : levels) {
        for (FileResource& f : level.files)
            f.tempFilename.clear();  // only names made here may ever be deleted
        open.emplace_back();
        open.back().files = &level.files;
        if (!openLevel(installDir, level, open.back()))
            return false;
    }
    // Every stream is decoded before the first destination is touched.
    for (OpenLevel& level : open) {
        if (!extractLevel(fcTop, level)) {
            log_msg(MT_ERROR, "Failed to install files\n");
            return false;
        }
    }
    for (OpenLevel& level : open) {
        if (!collectLevel(level)) {
            log_msg(MT_ERROR, "Failed to install files\n");
            return false;
        }
    }
    for (OpenLevel& level : open) {
        if (!moveLevel(level)) {
            log_msg(MT_ERROR, "Failed to install files\n");
            return false;
        }
    }
    return true;
}

}  // namespace

int createDirectoryPath(std::string path)
{
    if (path.empty())
        return 1;
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : 2;
    // ENOTDIR: a leading component is not a directory; the walk below finds and reports it.
    if (errno != ENOENT && errno != ENOTDIR)
        return -1;

    size_t pos = path.find_first_not_of('/');
    while (pos != std::string::npos && pos < path.size()) {
        size_t slash = path.find('/', pos);
        size_t end = slash == std::string::npos ? path.size() : path.find_first_not_of('/', slash);
        if (end == std::string::npos)
            end = path.size();
        std::string prefix = path.substr(0, end);
        if (stat(prefix.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return 2;
        } else {
            // The prefix ends in "/": a regular file there reports ENOTDIR, the earlier prefixes being directories.
            if (errno == ENOTDIR)
                return 2;
            if (errno != ENOENT)
                return 1;
            // chmod after mkdir: the umask must not narrow the mode.
            if (mkdir(prefix.c_str(), 0755) != 0 || chmod(prefix.c_str(), 0755) != 0)
                return 1;
            log_msg(MT_VV, "Created directory %s\n", prefix.c_str());
        }
        pos = end;
    }
    return 0;
}

bool installTree(const std::string& installDir, const FileCollection& fcTop, std::vector<TreeLevel>& levels)
{
    std::vector<OpenLevel> open;
    open.reserve(levels.size());
    bool ok = placeLevels(installDir, fcTop, levels, open);
    if (ok) {
        // The new names are made durable before any backup goes, so that a crash cannot lose both.
        for (OpenLevel& level : open)
            fsync(level.fd);
        for (OpenLevel& level : open)
            commit(level);
    } else {
        rollBack(open);
    }
    for (OpenLevel& level : open)
        if (level.fd >= 0)
            close(level.fd);
    return ok;
}

bool installFiles(const std::string& installDir, const FileCollection& fcTop, std::vector<FileResource>& files)
{
    if (files.empty())
        return true;
    std::vector<TreeLevel> levels{TreeLevel{"", files}};
    bool ok = installTree(installDir, fcTop, levels);
    files = levels[0].files;
    return ok;
}

int CountFilesAndDirsIn(const std::string& directory)
{
    DIR* dir = opendir(directory.c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (struct dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            ++count;
    }
    closedir(dir);
    return count;
}
