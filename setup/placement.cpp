#include "placement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "legacy.h"
#include "log.h"
#include "payload.h"
#include "versions.h"

namespace {

const size_t NAME_BUFFER = 4096;  // PATH_MAX of the platform, terminator included
// Temporary and backup files share the prefix, so the clean-up of a later run finds both.
const char* const TEMP_TEMPLATE = "/pk.XXXXXX";
const mode_t INSTALLED_MODE = 0755;

bool pathExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Creates a unique empty file from dir + TEMP_TEMPLATE; false when the name is too long or mkstemp fails.
bool makeUniqueFile(const std::string& dir, std::string& made)
{
    std::string pattern = dir + TEMP_TEMPLATE;
    if (pattern.size() > NAME_BUFFER - 1)
        return false;
    char buffer[NAME_BUFFER] = {};
    memcpy(buffer, pattern.c_str(), pattern.size());
    int fd = mkstemp(buffer);
    if (fd < 1) {
        // Descriptor 0 is not trusted as a result; drop what it created.
        if (fd == 0) {
            close(fd);
            unlink(buffer);
        }
        return false;
    }
    close(fd);
    made = buffer;
    return true;
}

bool syncPath(const std::string& path, int flags)
{
    int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

void startWriteback(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    close(fd);
}

void removeTempFiles(const std::vector<FileResource>& files, size_t from = 0)
{
    for (size_t i = from; i < files.size(); ++i)
        if (!files[i].tempFilename.empty())
            unlink(files[i].tempFilename.c_str());
}

void removeLogged(const std::string& name, int state)
{
    if (unlink(name.c_str()) != 0)
        log_msg(MT_VV, "Failed to remove %s [%d]\n", name.c_str(), state);
}

void rollBack(const std::vector<FilestoMove>& moves)
{
    for (const FilestoMove& m : moves) {
        switch (m.ret) {
        case 0:
        case 3:
        case 7:
            removeLogged(m.OldName, m.ret);
            removeLogged(m.TmpName, m.ret);
            break;
        case 1:
            removeLogged(m.OldName, m.ret);
            removeLogged(m.DestName, m.ret);
            break;
        case 2:
        case 8:
            removeLogged(m.OldName, m.ret);
            break;
        case 4:
            removeLogged(m.TmpName, m.ret);
            break;
        case 6:
            removeLogged(m.DestName, m.ret);
            break;
        default:
            break;
        }
        if (m.ret == 4 || m.ret == 5 || m.ret == 6) {
            if (rename(m.OldName.c_str(), m.DestName.c_str()) != 0)
                log_msg(MT_VV, "Failed to move %s to %s [%d]\n", m.OldName.c_str(), m.DestName.c_str(), m.ret);
        }
    }
}

void commit(const std::vector<FilestoMove>& moves)
{
    for (const FilestoMove& m : moves) {
        const char* dest = m.DestName.c_str();
        const char* old = m.OldName.c_str();
        if (m.ret == 6) {
            if (unlink(old) == 0) {
                log_msg(MT_VV, "Files %s has been deleted \n", old);
            } else {
                log_msg(MT_INFO, "Existing file %s has been moved to %s \n", dest, old);
                log_msg(MT_INFO, "Please remove %s file manually as it is being used by some product\n", old);
            }
        } else if (m.ret == 5) {
            if (rename(old, dest) == 0)
                log_msg(MT_VV, "File %s can not be installed by this setup file, hence it has been left as it is \n",
                        dest);
            else
                log_msg(MT_INFO, "Failed to move back %s to %s [%d]\n Please do it manually before running uninstaller",
                        old, dest, 5);
        } else if (m.ret == 1 || m.ret == 2) {
            if (unlink(old) == 0)
                log_msg(MT_VV, "Files %s has been deleted \n", old);
            else
                log_msg(MT_INFO,
                        "Failed to delete temporary file %s, Please remove it manually before running uninstaller \n",
                        old);
        }
        if (m.ret == 1 || m.ret == 6) {
            if (chmod(dest, INSTALLED_MODE) == 0)
                log_msg(MT_VV, "Set permissions for file %s\n", dest);
            else
                log_msg(MT_INFO, "problem in setting permission for file %s", dest);
        }
    }
}

// Makes one move and returns its state; the destination is examined before anything is renamed.
int moveOne(const FilestoMove& m)
{
    const char* dest = m.DestName.c_str();
    const char* tmp = m.TmpName.c_str();
    const char* old = m.OldName.c_str();
    bool destExists = pathExists(m.DestName);
    bool tmpExists = pathExists(m.TmpName);
    if (destExists) {
        if (rename(dest, old) != 0) {
            log_msg(MT_VV, "Failed to move %s to %s \n", dest, old);
            if (tmpExists) {
                log_msg(MT_VV, " %s file is present [%d] \n", tmp, 7);
                return 7;
            }
            log_msg(MT_VV, "%s file is also not present [%d]\n", tmp, 8);
            return 8;
        }
        log_msg(MT_VV, "Existing %s has been moved to %s \n", dest, old);
        if (rename(tmp, dest) == 0) {
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
    if (rename(tmp, dest) == 0) {
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

bool installFiles(const std::string& installDir, const FileCollection& fcTop, std::vector<FileResource>& files)
{
    // 1. Reserve a temporary file per entry.
    for (FileResource& f : files)
        f.tempFilename.clear();  // only names made here may ever be deleted
    for (size_t i = 0; i < files.size(); ++i) {
        std::string made;
        if (!makeUniqueFile(installDir, made)) {
            removeTempFiles(files, 0);
            return false;
        }
        files[i].tempFilename = made;
        if (made[0] != '/') {
            removeTempFiles(files, 0);
            return false;
        }
    }

    // 2. Extract every file before anything is renamed, and make its content durable. Writeback of
    //    each file starts as soon as it is extracted, so the disk works while the next one is decoded.
    for (const FileResource& f : files) {
        if (!decompressEmbeddedZipToFile(fcTop, f)) {
            log_msg(MT_ERROR, "Failed to decompress %s to %s\n", f.destFilename.c_str(), f.tempFilename.c_str());
            removeTempFiles(files, 0);
            return false;
        }
        startWriteback(f.tempFilename);
    }
    for (const FileResource& f : files) {
        if (!syncPath(f.tempFilename, O_RDONLY)) {
            log_msg(MT_ERROR, "Failed to write %s to disk\n", f.tempFilename.c_str());
            removeTempFiles(files, 0);
            return false;
        }
    }

    // 3. Collect the moves, each with a reserved backup name.
    std::vector<FilestoMove> moves;
    for (size_t i = 0; i < files.size(); ++i) {
        std::string mapped;
        getVersionedLibName(g_thisKitVersionString, files[i].destFilename, mapped);
        FilestoMove m;
        m.DestName = installDir + "/" + mapped;
        m.TmpName = files[i].tempFilename;
        std::string destDir = m.DestName.substr(0, m.DestName.rfind('/'));
        bool reserved = false;
        if (destDir.size() + strlen(TEMP_TEMPLATE) > NAME_BUFFER - 1)
            log_msg(MT_ERROR, "Destination Path %s length is more than PATH MAX \n", m.DestName.c_str());
        else if (!(reserved = makeUniqueFile(destDir, m.OldName)))
            log_msg(MT_ERROR, "Unable to reserve a backup name for %s\n", m.DestName.c_str());
        if (!reserved) {
            // Without a backup name the old file could not be restored: give up on the directory.
            rollBack(moves);
            removeTempFiles(files, i);
            return false;
        }
        m.ret = 0;
        moves.push_back(m);
        log_msg(MT_VV, "Destname=%s TmpName=%s and Oldname=%s \n", m.DestName.c_str(), m.TmpName.c_str(),
                m.OldName.c_str());
    }

    // 4. Move.
    if (moves.empty())
        return true;
    for (FilestoMove& m : moves) {
        m.ret = moveOne(m);
        if (m.ret == 3 || m.ret == 4) {
            log_msg(MT_ERROR, "Failed to move %s  to %s [%d]\n", m.TmpName.c_str(), m.DestName.c_str(), m.ret);
        } else if (m.ret == 7 || m.ret == 8) {
            log_msg(MT_ERROR, "Failed to move %s  to %s [%d]\n", m.DestName.c_str(), m.OldName.c_str(), m.ret);
        } else {
            continue;
        }
        rollBack(moves);
        return false;
    }

    // 5. Commit, once the new names are durable, so that a crash cannot lose both old and new content.
    syncPath(installDir, O_RDONLY | O_DIRECTORY);
    commit(moves);
    return true;
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
