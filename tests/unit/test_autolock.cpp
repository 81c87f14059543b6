#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "autolock.h"
#include "testutil.h"

using testutil::exists;
using testutil::readFile;

namespace {

const char* const LOCK = LOCK_FILE_PATH;

std::string pidBytes(int32_t pid)
{
    return std::string(reinterpret_cast<const char*>(&pid), sizeof pid);
}

void writeLock(const std::string& content, mode_t mode = 0700)
{
    unlink(LOCK);
    testutil::writeFile(LOCK, content);
    chmod(LOCK, mode);
}

struct Timed {
    int result;
    double seconds;
};

Timed timedLock()
{
    auto start = std::chrono::steady_clock::now();
    int result = lock_file(LOCK);
    std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    return {result, spent.count()};
}

int exitCodeOf(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t deadPid()
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

class LockTest : public testing::Test {
protected:
    void SetUp() override { unlink(LOCK); }
    void TearDown() override { unlink(LOCK); }
};

// A free lock, one holding our own ID and one of a dead or impossible owner are all ours at once.
TEST_F(LockTest, FreeOwnOrStaleLockIsTakenAtOnceAndReleasedByTheDestructor)
{
    {
        AutoLock lock(LOCK);
        EXPECT_TRUE(lock.gotLock);
        EXPECT_EQ(lock.strLockFile, LOCK);
        EXPECT_EQ(readFile(LOCK), pidBytes(getpid()));
        EXPECT_EQ(testutil::modeOf(LOCK), 0700u);
    }
    EXPECT_FALSE(exists(LOCK));

    for (int32_t owner : {static_cast<int32_t>(getpid()), static_cast<int32_t>(deadPid()), 0, -1}) {
        SCOPED_TRACE(owner);
        writeLock(pidBytes(owner));
        Timed t = timedLock();
        EXPECT_EQ(t.result, 1);
        EXPECT_LT(t.seconds, 0.5);
        EXPECT_EQ(readFile(LOCK), pidBytes(getpid()));
    }
}

// Runs lock_file in a child, as user nobody when asked; the result + 10 is the exit code,
// 91 when it took too long, -1 when it hung.
int lockInChild(bool asNobody)
{
    pid_t child = fork();
    if (child == 0) {
        alarm(10);
        if (asNobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(90);
        Timed r = timedLock();
        _exit(r.seconds > 0.5 ? 91 : r.result + 10);
    }
    return exitCodeOf(child);
}

// Both are -1 at once for an unprivileged run: a live owner that is not ours to probe
// (the file is nobody's, so only the probe stops a takeover), and a stale file that
// sticky /tmp does not let us delete, which must not be retried forever.
TEST_F(LockTest, LockOfAnotherUserIsAnErrorForAnUnprivilegedRun)
{
    for (pid_t owner : {getpid(), deadPid()}) {
        SCOPED_TRACE(owner);
        testutil::resetOptions();
        writeLock(pidBytes(owner), 0644);
        if (owner == getpid()) {
            ASSERT_EQ(chown(LOCK, 65534, 65534), 0);
        }
        EXPECT_EQ(lockInChild(true), 9);
        EXPECT_EQ(readFile(LOCK), pidBytes(owner));
        EXPECT_EQ(readFile(LOG_FILE_PATH),
                  owner == getpid() ? "This installer application is already running in another process.\n"
                                      "Lock file: /tmp/.QZ_TARVO_Installer.lock\n"
                                    : "The lock file /tmp/.QZ_TARVO_Installer.lock is left from a run that has "
                                      "ended and cannot be removed (Operation not permitted); remove it and run "
                                      "the installer again\n");
    }
}

// Anything but a regular file at the name is removed and the lock taken at once, without
// blocking on a FIFO or touching what a link leads to; what cannot be removed refuses the run.
TEST_F(LockTest, PlantedNonRegularFilesAreReplacedAndLinkTargetsKept)
{
    std::string dir = testutil::freshDir("lock");
    std::string target = dir + "/target";
    testutil::writeFile(target, "keep");
    auto socketAt = [](const char* path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strcpy(address.sun_path, path);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        int rc = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        close(fd);
        return rc;
    };
    struct Row {
        const char* what;
        std::function<int()> plant;
    };
    const Row rows[] = {
        {"fifo", [] { return mkfifo(LOCK, 0666); }},
        {"socket", [&] { return socketAt(LOCK); }},
        {"dangling link", [&] { return symlink((dir + "/missing").c_str(), LOCK); }},
        {"link to a file", [&] { return symlink(target.c_str(), LOCK); }},
        {"hard link", [&] { return link(target.c_str(), LOCK); }},
        {"empty directory", [] { return mkdir(LOCK, 0777); }},
        // A regular file of another user holding a live ID: a root run's lock is always root's.
        {"another user's file", [] {
             testutil::writeFile(LOCK, pidBytes(1));
             return chown(LOCK, 65534, 65534);
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        unlink(LOCK);
        ASSERT_EQ(r.plant(), 0);
        EXPECT_EQ(lockInChild(false), 11);
        struct stat st;
        EXPECT_TRUE(lstat(LOCK, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 4);
        EXPECT_EQ(readFile(target), "keep");
        EXPECT_FALSE(exists(dir + "/missing"));
    }

    unlink(LOCK);
    testutil::resetOptions();
    ASSERT_EQ(mkdir(LOCK, 0777), 0);
    testutil::writeFile(std::string(LOCK) + "/x", "");
    EXPECT_EQ(lockInChild(false), 9);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "The lock file /tmp/.QZ_TARVO_Installer.lock is not a regular file and "
                                       "cannot be removed (Directory not empty); remove it and run the installer "
                                       "again\n");
    std::system("rm -rf /tmp/.QZ_TARVO_Installer.lock");
}

// Someone who keeps replacing a short file must not keep a run waiting for ever.
TEST_F(LockTest, ShortFileThatKeepsBeingReplacedIsRefused)
{
    writeLock("");
    pid_t replacer = fork();
    ASSERT_GE(replacer, 0);
    if (replacer == 0) {
        // A new empty file by rename, so that the name is never free for the run to take.
        const std::string next = std::string(LOCK) + ".next";
        for (;;) {
            usleep(300 * 1000);
            close(open(next.c_str(), O_CREAT | O_WRONLY, 0600));
            rename(next.c_str(), LOCK);
        }
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(10);
        _exit(lock_file(LOCK) + 10);
    }
    int code = exitCodeOf(child);
    kill(replacer, SIGKILL);
    waitpid(replacer, nullptr, 0);
    EXPECT_EQ(code, 10);
}

// A file too short for an ID is taken over after three waits, its writer having died;
// a writer that is merely slow completes it, and its live owner makes us give up.
TEST_F(LockTest, ShortFileIsTakenOverAfterThreeWaitsUnlessItGetsItsId)
{
    for (int size : {0, 3, -1}) {
        SCOPED_TRACE(size);
        writeLock(std::string(size < 0 ? 0 : size, '\x7f'));
        pid_t writer = size < 0 ? fork() : 0;
        ASSERT_GE(writer, 0);
        if (size < 0 && writer == 0) {
            usleep(1500 * 1000);
            int32_t me = getpid();
            int fd = open(LOCK, O_WRONLY);
            if (fd < 0 || write(fd, &me, sizeof me) != static_cast<ssize_t>(sizeof me))
                _exit(1);
            for (;;)
                pause();
        }
        Timed t = timedLock();
        EXPECT_EQ(t.result, writer > 0 ? 0 : 1);
        EXPECT_GT(t.seconds, 2.5);
        EXPECT_LT(t.seconds, 5.0);
        EXPECT_EQ(readFile(LOCK), pidBytes(writer > 0 ? writer : getpid()));
        if (writer > 0) {
            kill(writer, SIGKILL);
            waitpid(writer, nullptr, 0);
        }
    }
}

TEST_F(LockTest, UncreatablePathIsAnError)
{
    EXPECT_EQ(lock_file((testutil::freshDir("lock") + "/missing/lock").c_str()), -1);
}

TEST_F(LockTest, RacingProcessesNeverHoldTheLockTogether)
{
    std::string marker = testutil::freshDir("race") + "/holder";
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t children[4];
    for (pid_t& pid : children) {
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(go[1]);
            char c;
            if (read(go[0], &c, 1) != 0)
                _exit(3);
            int got = lock_file(LOCK);
            if (got != 1)
                _exit(got == 0 ? 1 : 4);
            int fd = open(marker.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
            if (fd < 0)
                _exit(2);  // someone else holds it too
            close(fd);
            usleep(200 * 1000);
            unlink(marker.c_str());
            remove_lock(LOCK);
            _exit(0);
        }
    }
    close(go[0]);
    close(go[1]);  // start them all at once
    int winners = 0;
    for (pid_t pid : children) {
        int code = exitCodeOf(pid);
        EXPECT_TRUE(code == 0 || code == 1) << code;
        winners += code == 0;
    }
    EXPECT_GE(winners, 1);
    EXPECT_FALSE(exists(LOCK));
}

TEST(LockData, ReadAndWriteMoveExactlyTheCountAcrossPartialTransfers)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        close(fds[0]);
        bool ok = AutoLock::write_data(fds[1], "ab", 2);
        usleep(100 * 1000);
        _exit(ok && AutoLock::write_data(fds[1], "cdef", 4) ? 0 : 1);
    }
    close(fds[1]);
    char buf[4];
    EXPECT_TRUE(AutoLock::read_data(fds[0], buf, 4));
    EXPECT_EQ(std::string(buf, 4), "abcd");
    // The writer is gone after two more bytes: a read past the end fails instead of waiting.
    EXPECT_FALSE(AutoLock::read_data(fds[0], buf, 4));
    EXPECT_EQ(exitCodeOf(writer), 0);
    close(fds[0]);
}

}  // namespace
