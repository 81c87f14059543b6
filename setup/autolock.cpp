#include "autolock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>

#include "log.h"

namespace {

const int MAX_FAILED_ATTEMPTS = 2;  // the third failed attempt gives up
// Restarts happen when the file changes under us (a holder ends, a racer wins). A name that keeps
// changing is someone's game: after this many restarts in a row, they count as a failed attempt.
const int MAX_RESTARTS = 100;

// Locks this process holds, by path: the descriptor carries the flock, closing it releases the lock.
std::map<std::string, int> g_held;

// Outcome of one attempt. DONE: obtained or refused, result in *result.
enum class Attempt { DONE, BUSY, RESTART };

Attempt done(int* result, int value)
{
    *result = value;
    return Attempt::DONE;
}

// Every refusal names the file and says what is wrong: only a live owner means that another installer runs.
int refuseRunning(const char* path)
{
    log_msg(MT_ERROR, "This installer application is already running in another process.\nLock file: %s\n", path);
    return 0;
}

// Something at the name that no run may lock or remove safely: the administrator decides.
int refuseStuck(const char* path, const char* why, int error)
{
    if (error)
        log_msg(MT_ERROR, "The lock file %s %s and cannot be removed (%s); remove it and run the installer again\n",
                path, why, strerror(error));
    else
        log_msg(MT_ERROR, "The lock file %s %s; remove it and run the installer again\n", path, why);
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

const char NOT_REGULAR[] = "is not a regular file";
const char LINKED[] = "has more than one link";
const char NOT_OURS[] = "belongs to another user";

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when the name still leads to the open file, and that file has no other name.
bool nameLeadsTo(const char* path, int fd)
{
    struct stat byName, byFd;
    return lstat(path, &byName) == 0 && fstat(fd, &byFd) == 0 && sameFile(byName, byFd) && byFd.st_nlink == 1;
}

// A live process other than this one, named by a file that was already ours: a kit of an earlier
// release holds its lock by the file alone. Its kill() probe answers for a process of another user.
bool heldByEarlierKit(int fd, int32_t ownPid, int* error)
{
    int32_t owner = 0;
    *error = 0;
    if (pread(fd, &owner, sizeof owner, 0) != static_cast<ssize_t>(sizeof owner) || owner <= 0 || owner == ownPid)
        return false;
    if (kill(owner, 0) == 0)
        return true;
    *error = errno == ESRCH ? 0 : errno;
    return *error != 0;
}

// Opens the file at the name without following a link and without blocking. Only a regular file with
// a single link is opened at all: a FIFO or a device is never opened, a link never followed.
// RESTART with *fd -1: the name changed meanwhile; DONE with *fd -1: refused, result in *result.
Attempt openExisting(const char* path, int* fd, int* result)
{
    *fd = -1;
    struct stat st;
    if (lstat(path, &st) != 0) {
        return errno == ENOENT ? Attempt::RESTART : done(result, refuseAccess(path, "read"));
    }
    if (S_ISDIR(st.st_mode)) {
        // rmdir removes nothing but a directory, so it cannot take a lock file that a racer has just made.
        if (rmdir(path) == 0 || errno == ENOENT || errno == ENOTDIR)
            return Attempt::RESTART;
        return done(result, refuseStuck(path, NOT_REGULAR, errno));
    }
    // Removing anything else by name could remove a lock that another run has just put in its place.
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1)
        return done(result, refuseStuck(path, S_ISREG(st.st_mode) ? LINKED : NOT_REGULAR, 0));
    *fd = open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (*fd < 0 && errno == EACCES)  // another user's file: reading is enough to see whether it is held
        *fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (*fd < 0) {
        if (errno == ENOENT || errno == ELOOP || errno == ENXIO)  // replaced since lstat
            return Attempt::RESTART;
        return done(result, refuseAccess(path, "read"));
    }
    struct stat now;
    if (fstat(*fd, &now) == 0 && sameFile(now, st))
        return Attempt::DONE;
    close(*fd);
    *fd = -1;
    return Attempt::RESTART;
}

Attempt tryLock(const char* path, int32_t ownPid, int* result)
{
    bool created = true;
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0700);
    if (fd < 0) {
        if (errno != EEXIST)
            return done(result, refuseAccess(path, "create"));
        created = false;
        Attempt attempt = openExisting(path, &fd, result);
        if (fd < 0)
            return attempt;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        close(fd);
        if (error == EWOULDBLOCK)
            return Attempt::BUSY;
        errno = error;
        return done(result, refuseAccess(path, "lock"));
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int refused = refuseAccess(path, "read");
        close(fd);
        return done(result, refused);
    }
    bool ours = st.st_uid == geteuid();
    if (!ours) {
        // Planted, or left by a run of another user. Once root owns it, no user can remove or replace
        // it (sticky /tmp), so holding its flock is as safe as holding a file of our own making.
        if (geteuid() != 0 || fchown(fd, 0, getegid()) != 0 || fchmod(fd, 0700) != 0) {
            int error = geteuid() != 0 ? EPERM : errno;
            close(fd);
            return done(result, refuseStuck(path, NOT_OURS, error));
        }
    }
    // A holder unlinks its file before it releases it: we may have locked a file that has left the name.
    if (!nameLeadsTo(path, fd)) {
        close(fd);
        return Attempt::RESTART;
    }
    int error = 0;
    if (!created && ours && heldByEarlierKit(fd, ownPid, &error)) {
        close(fd);
        if (error == 0)
            return Attempt::BUSY;
        refuseRunning(path);
        return done(result, -1);
    }
    if (lseek(fd, 0, SEEK_SET) != 0 || !AutoLock::write_data(fd, &ownPid, sizeof ownPid) ||
        ftruncate(fd, sizeof ownPid) != 0) {
        int refused = refuseAccess(path, "write");  // before close() can change errno
        close(fd);
        return done(result, refused);
    }
    g_held[path] = fd;
    return done(result, 1);
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
    if (g_held.count(path))
        return 1;
    const int32_t ownPid = static_cast<int32_t>(getpid());
    int failed = 0, restarts = 0;
    for (;;) {
        int result = -1;
        Attempt attempt = tryLock(path, ownPid, &result);
        if (attempt == Attempt::DONE)
            return result;
        if (attempt == Attempt::RESTART && ++restarts < MAX_RESTARTS)
            continue;
        restarts = 0;
        sleep(1);
        if (++failed > MAX_FAILED_ATTEMPTS)
            return refuseRunning(path);
    }
}

void remove_lock(const char* path)
{
    auto held = g_held.find(path);
    if (held == g_held.end())
        return;
    // Unlinked while still locked: a run that opened it meanwhile sees it gone from the name and starts again.
    struct stat byName, byFd;
    if (lstat(path, &byName) == 0 && fstat(held->second, &byFd) == 0 && sameFile(byName, byFd))
        unlink(path);
    close(held->second);
    g_held.erase(held);
}
