#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

Timed timedLock(const char* path = LOCK)
{
    auto start = std::chrono::steady_clock::now();
    int result = lock_file(path);
    std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    return {result, spent.count()};
}

// A live process of our own that does nothing until it is killed.
pid_t startSleeper()
{
    pid_t pid = fork();
    if (pid == 0) {
        for (;;)
            pause();
    }
    return pid;
}

void stop(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

int exitCodeOf(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class LockTest : public testing::Test {
protected:
    void SetUp() override { unlink(LOCK); }
    void TearDown() override { unlink(LOCK); }
};

TEST_F(LockTest, FreeLockIsTakenWithOwnIdAndReleasedByTheDestructor)
{
    {
        AutoLock lock(LOCK);
        EXPECT_TRUE(lock.gotLock);
        EXPECT_EQ(lock.strLockFile, LOCK);
        EXPECT_EQ(readFile(LOCK), pidBytes(getpid()));
        EXPECT_EQ(testutil::modeOf(LOCK), 0700u);
    }
    EXPECT_FALSE(exists(LOCK));
}

TEST_F(LockTest, OwnIdIsConfirmedAtOnceAndDeadOrImpossibleOwnersAreReplacedAtOnce)
{
    writeLock(pidBytes(getpid()));
    Timed t = timedLock();
    EXPECT_EQ(t.result, 1);
    EXPECT_LT(t.seconds, 0.5);

    pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    waitpid(dead, nullptr, 0);
    for (int32_t owner : {static_cast<int32_t>(dead), 0, -1}) {
        SCOPED_TRACE(owner);
        writeLock(pidBytes(owner));
        t = timedLock();
        EXPECT_EQ(t.result, 1);
        EXPECT_LT(t.seconds, 0.5);
        EXPECT_EQ(readFile(LOCK), pidBytes(getpid()));
    }
}

TEST_F(LockTest, LiveOwnerOfThisUserMakesItGiveUpAfterThreeWaits)
{
    pid_t owner = startSleeper();
    writeLock(pidBytes(owner));
    Timed t = timedLock();
    EXPECT_EQ(t.result, 0);
    EXPECT_GT(t.seconds, 2.5);
    EXPECT_LT(t.seconds, 5.0);
    EXPECT_EQ(readFile(LOCK), pidBytes(owner));
    stop(owner);
}

// Runs lock_file as user nobody; the result + 10 is the exit code, 91 when it took too long.
int lockAsNobody()
{
    pid_t child = fork();
    if (child == 0) {
        alarm(10);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(90);
        Timed r = timedLock();
        _exit(r.seconds > 0.5 ? 91 : r.result + 10);
    }
    return exitCodeOf(child);
}

// The probe fails with EPERM only for an unprivileged prober.
TEST_F(LockTest, LockOfAnotherUserIsAnErrorForAnUnprivilegedRun)
{
    // The file is nobody's own, so only the probe can stop it from being taken over.
    writeLock(pidBytes(getpid()), 0644);
    ASSERT_EQ(chown(LOCK, 65534, 65534), 0);
    EXPECT_EQ(lockAsNobody(), 9);  // -1 at once: owner alive, not ours to probe
    EXPECT_EQ(readFile(LOCK), pidBytes(getpid()));

    // A stale file that sticky /tmp does not let us delete must not be retried forever.
    pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    waitpid(dead, nullptr, 0);
    writeLock(pidBytes(dead), 0644);
    EXPECT_EQ(lockAsNobody(), 9);
    EXPECT_EQ(readFile(LOCK), pidBytes(dead));
}

TEST_F(LockTest, ShortFileOfADeadWriterIsTakenOverAfterThreeWaits)
{
    for (size_t size : {0u, 3u}) {
        SCOPED_TRACE(size);
        writeLock(std::string(size, '\x7f'));
        Timed t = timedLock();
        EXPECT_EQ(t.result, 1);
        EXPECT_GT(t.seconds, 2.5);
        EXPECT_LT(t.seconds, 5.0);
        EXPECT_EQ(readFile(LOCK), pidBytes(getpid()));
    }
}

// A writer that is merely slow completes its file; the lock then belongs to it.
TEST_F(LockTest, ShortFileThatGetsItsIdIsRespected)
{
    writeLock("");
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        usleep(1500 * 1000);
        int32_t me = getpid();
        int fd = open(LOCK, O_WRONLY);
        bool ok = fd >= 0 && write(fd, &me, sizeof me) == static_cast<ssize_t>(sizeof me);
        if (fd >= 0)
            close(fd);
        if (!ok)
            _exit(1);
        for (;;)
            pause();
    }
    Timed t = timedLock();
    EXPECT_EQ(t.result, 0);
    EXPECT_EQ(readFile(LOCK), pidBytes(writer));
    stop(writer);
}

TEST_F(LockTest, LinksAndUncreatablePathsAreErrors)
{
    std::string dir = testutil::freshDir("lock");
    std::string target = dir + "/target";
    ASSERT_EQ(symlink(target.c_str(), LOCK), 0);
    {
        AutoLock lock(LOCK);
        EXPECT_FALSE(lock.gotLock);
    }
    EXPECT_TRUE(exists(LOCK));  // not ours to remove
    EXPECT_FALSE(exists(target));

    testutil::writeFile(target, pidBytes(getpid()));
    EXPECT_EQ(lock_file(LOCK), -1);
    EXPECT_EQ(readFile(target), pidBytes(getpid()));

    EXPECT_EQ(lock_file((dir + "/missing/lock").c_str()), -1);
}

TEST_F(LockTest, RacingProcessesNeverHoldTheLockTogether)
{
    std::string marker = testutil::freshDir("race") + "/holder";
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < 4; ++i) {
        pid_t pid = fork();
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
        children.push_back(pid);
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
        ok = ok && AutoLock::write_data(fds[1], "cdef", 4);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    char buf[8] = {};
    EXPECT_TRUE(AutoLock::read_data(fds[0], buf, 4));
    EXPECT_EQ(std::string(buf, 4), "abcd");
    // The writer is gone after two more bytes: a read past the end fails instead of waiting.
    EXPECT_FALSE(AutoLock::read_data(fds[0], buf, 4));
    EXPECT_EQ(exitCodeOf(writer), 0);
    close(fds[0]);
}

}  // namespace
