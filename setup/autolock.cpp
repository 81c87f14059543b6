#include "autolock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {

const int MAX_FAILED_ATTEMPTS = 2;  // the third failed attempt gives up

enum class ReadResult { PID, SHORT, ERROR, NO_ACCESS };

// Reads the owner's ID from an existing lock file. SHORT: the file ends before
// four bytes; seen then identifies it, so that a later removal can check it is the same file.
ReadResult readOwner(const char* path, int32_t* pid, struct stat* seen)
{
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return ReadResult::NO_ACCESS;
    ReadResult result = ReadResult::PID;
    if (!AutoLock::read_data(fd, pid, sizeof *pid)) {
        result = ReadResult::ERROR;
        if (fstat(fd, seen) == 0 && S_ISREG(seen->st_mode) && seen->st_size < static_cast<off_t>(sizeof *pid))
            result = ReadResult::SHORT;
    }
    close(fd);
    return result;
}

// True when path still names the file seen earlier and it is still too short to hold an ID.
bool stillSameShortFile(const char* path, const struct stat& seen)
{
    struct stat now;
    return lstat(path, &now) == 0 && now.st_dev == seen.st_dev && now.st_ino == seen.st_ino &&
           now.st_size < static_cast<off_t>(sizeof(int32_t));
}

// A stale file we may not delete (another user's, in sticky /tmp) would otherwise be retried forever.
bool removeStale(const char* path)
{
    return unlink(path) == 0 || errno == ENOENT;
}

}  // namespace

AutoLock::AutoLock(const std::string& lockFile) : gotLock(false), strLockFile(lockFile)
{
    gotLock = lock_file(strLockFile.c_str()) > 0;
}

AutoLock::~AutoLock()
{
    if (gotLock)
        remove_lock(strLockFile.c_str());
}

bool AutoLock::read_data(int fd, void* buffer, size_t count)
{
    char* p = static_cast<char*>(buffer);
    while (count > 0) {
        ssize_t n = read(fd, p, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)  // end of file before all bytes: the caller must not wait for more
            return false;
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool AutoLock::write_data(int fd, const void* buffer, size_t count)
{
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        ssize_t n = write(fd, p, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

int lock_file(const char* path)
{
    const int32_t ownPid = static_cast<int32_t>(getpid());
    int failed = 0;
    for (;;) {
        int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
        if (fd >= 0) {
            bool written = AutoLock::write_data(fd, &ownPid, sizeof ownPid);
            close(fd);
            if (!written)
                return -1;
            // Confirmed only by reading our ID back: a racing process may have replaced the file.
            continue;
        }
        if (errno != EEXIST)
            return -1;

        int32_t owner = 0;
        struct stat seen {};
        ReadResult read = readOwner(path, &owner, &seen);
        if (read == ReadResult::NO_ACCESS)
            return -1;
        if (read == ReadResult::PID) {
            if (owner == ownPid)
                return 1;
            // No process has an ID below 1; kill() would address a whole group instead.
            bool stale = owner <= 0;
            if (!stale && kill(owner, 0) != 0) {
                if (errno != ESRCH)
                    return -1;
                stale = true;
            }
            if (stale) {
                if (!removeStale(path))
                    return -1;
                continue;
            }
        }
        sleep(1);
        if (++failed > MAX_FAILED_ATTEMPTS) {
            if (read != ReadResult::SHORT)
                return 0;
            // Still without an ID after three waits: its writer died between creating and writing it.
            if (stillSameShortFile(path, seen) && !removeStale(path))
                return -1;
        }
    }
}

void remove_lock(const char* path)
{
    unlink(path);
}
