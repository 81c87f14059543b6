#include "autolock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "log.h"

namespace {

const int MAX_FAILED_ATTEMPTS = 2;  // the third failed attempt gives up

enum class ReadResult { PID, SHORT, ERROR, NO_ACCESS, GONE, NOT_REGULAR };

// Reads the owner's ID from an existing lock file. SHORT: the file ends before
// four bytes; seen then identifies it, so that a later removal can check it is the same file.
// Anyone can plant a FIFO, socket, link or directory at the name: such a thing is
// never waited on (O_NONBLOCK) nor read, only reported as NOT_REGULAR.
ReadResult readOwner(const char* path, int32_t* pid, struct stat* seen)
{
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int openError = errno;
        struct stat st;
        if (lstat(path, &st) != 0)
            return errno == ENOENT ? ReadResult::GONE : ReadResult::NO_ACCESS;
        errno = openError;
        return S_ISREG(st.st_mode) ? ReadResult::NO_ACCESS : ReadResult::NOT_REGULAR;
    }
    if (fstat(fd, seen) != 0 || !S_ISREG(seen->st_mode)) {
        close(fd);
        return ReadResult::NOT_REGULAR;
    }
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
    if (unlink(path) == 0 || errno == ENOENT)
        return true;
    // An empty directory planted at the name goes too; anything with content stays and refuses the run.
    return errno == EISDIR && (rmdir(path) == 0 || errno == ENOENT);
}

// Every refusal names the file and says what is wrong: only a live owner means that another installer runs.
int refuseRunning(const char* path)
{
    log_msg(MT_ERROR, "This installer application is already running in another process.\nLock file: %s\n", path);
    return 0;
}

// A stale or planted lock file that stays would block every later run: say so, and what to do.
int refuseStuck(const char* path, const char* why)
{
    log_msg(MT_ERROR, "The lock file %s %s and cannot be removed (%s); remove it and run the installer again\n", path,
            why, strerror(errno));
    return -1;
}

// Callers know this refusal by its usual text; the reason follows on a line of its own.
int refuseAccess(const char* path, const char* action)
{
    int error = errno;
    refuseRunning(path);
    log_msg(MT_ERROR, "Unable to %s the lock file %s (%s)\n", action, path, strerror(error));
    return -1;
}

const char STALE[] = "is left from a run that has ended";
const char NOT_REGULAR[] = "is not a regular file";
const char NOT_OURS[] = "belongs to another user";

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
                return refuseAccess(path, "write");
            // Confirmed only by reading our ID back: a racing process may have replaced the file.
            continue;
        }
        if (errno != EEXIST)
            return refuseAccess(path, "create");

        int32_t owner = 0;
        struct stat seen {};
        ReadResult read = readOwner(path, &owner, &seen);
        if (read == ReadResult::GONE)  // released between our create and our open
            continue;
        if (read == ReadResult::NO_ACCESS)
            return refuseAccess(path, "read");
        if (read == ReadResult::NOT_REGULAR) {
            if (!removeStale(path))
                return refuseStuck(path, NOT_REGULAR);
            continue;
        }
        // A root run's lock is root's file: one of another user's was planted to block every run.
        if ((read == ReadResult::PID || read == ReadResult::SHORT) && geteuid() == 0 && seen.st_uid != 0) {
            if (!removeStale(path))
                return refuseStuck(path, NOT_OURS);
            continue;
        }
        if (read == ReadResult::PID) {
            if (owner == ownPid)
                return 1;
            // No process has an ID below 1; kill() would address a whole group instead.
            bool stale = owner <= 0;
            if (!stale && kill(owner, 0) != 0) {
                if (errno != ESRCH) {
                    refuseRunning(path);
                    return -1;
                }
                stale = true;
            }
            if (stale) {
                if (!removeStale(path))
                    return refuseStuck(path, STALE);
                continue;
            }
        }
        sleep(1);
        if (++failed > MAX_FAILED_ATTEMPTS) {
            if (read != ReadResult::SHORT)
                return refuseRunning(path);
            // Still without an ID after three waits: its writer died between creating and writing it.
            // A short file that keeps being replaced is someone's game, not a writer: refuse.
            if (!stillSameShortFile(path, seen))
                return refuseRunning(path);
            if (!removeStale(path))
                return refuseStuck(path, STALE);
        }
    }
}

void remove_lock(const char* path)
{
    unlink(path);
}
