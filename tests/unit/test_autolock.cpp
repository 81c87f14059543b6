#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <tuple>

#include "autolock.h"
#include "testutil.h"

using namespace testutil;

namespace {

const int32_t NO_SUCH_PROCESS = 0x3fffffff;  // above any pid_max

std::string pidBytes(int32_t pid) { return std::string(reinterpret_cast<const char*>(&pid), sizeof pid); }

// lock_file in a child (stderr in path.err): result + 1, plus 10 after the three waits, 20 after other times.
pid_t startLock(const std::string& path, bool asNobody)
{
    pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        dup2(open((path + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 2);
        g_opts.verbose = true;
        if (asNobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(90);
        auto start = std::chrono::steady_clock::now();
        int result = lock_file(path.c_str());
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        _exit(result + 1 + (s < 0.9 ? 0 : s > 2.5 && s < 6 ? 10 : 20));
    }
    return pid;
}

TEST(Lock, FreeOwnStaleHeldAndReleased)
{
    {
        AutoLock lock(LOCK_FILE_PATH);
        EXPECT_EQ(readFile(LOCK_FILE_PATH), pidBytes(getpid()));
        EXPECT_EQ(modeOf(LOCK_FILE_PATH), 0700u);
        EXPECT_EQ(lock_file(LOCK_FILE_PATH), 1);
    }
    EXPECT_FALSE(exists(LOCK_FILE_PATH));
    EXPECT_EQ(lock_file((freshDir("lock_none") + "/missing/lock").c_str()), -1);

    // A holder that dies without its release leaves the file, but the kernel drops its lock. The release
    // removes only the file it locked, never one that took its name meanwhile.
    pid_t dead = fork();
    if (dead == 0)
        _exit(lock_file(LOCK_FILE_PATH));
    ASSERT_EQ(exitCodeOf(dead), 1);
    EXPECT_EQ(lock_file(LOCK_FILE_PATH), 1);
    writeFile("/tmp/other", "other");
    rename("/tmp/other", LOCK_FILE_PATH);
    remove_lock(LOCK_FILE_PATH);
    EXPECT_EQ(readFile(LOCK_FILE_PATH), "other");
}

TEST(Lock, WhatTheNameMayHold)
{
    // Every case at once, each at its own name in a sticky directory, so that the three waits overlap.
    const std::string dir = freshDir("lock") + "/", target = dir + "target";
    chmod(dir.c_str(), 01777);
    writeFile(target, "keep");
    const std::string running =
        "[TARVO] This installer application is already running in another process.\nLock file: " + dir;
    auto refused = [&](const char* name, const std::string& why) {
        return "[TARVO] The lock file " + dir + name + " " + why + "; remove it and run the installer again\n";
    };
    using Plant = std::function<int(const std::string&)>;
    auto file = [](std::string bytes, bool nobodys = false) -> Plant {
        return [=](const std::string& p) { writeFile(p, bytes); return nobodys ? chown(p.c_str(), 65534, 65534) : 0; };
    };
    std::vector<int> held;
    auto heldFile = [&](bool nobodys) -> Plant {
        return [&, nobodys](const std::string& p) {
            file("", nobodys)(p);
            held.push_back(open(p.c_str(), O_RDONLY));
            return flock(held.back(), LOCK_EX);
        };
    };
    const std::tuple<const char*, Plant, bool, int, std::string> rows[] = {
        // Taken at once: no live owner, whatever the content; an empty directory is removed.
        {"zero", file(pidBytes(0)), false, 2, ""},
        {"short", file("\x7f\x7f\x7f"), false, 2, ""},
        {"emptydir", [](const std::string& p) { return mkdir(p.c_str(), 0777); }, false, 2, ""},
        // Planted by another user: root makes it its own, after which no user can remove it.
        {"foreign", file(pidBytes(1), true), false, 2, ""},
        // Held: by a run's flock, whoever's file it is, or by the live process that an earlier kit names.
        {"held", heldFile(false), false, 11, running + "held\n"},
        {"heldforeign", heldFile(true), false, 11, running + "heldforeign\n"},
        {"live", file(pidBytes(getpid())), false, 11, running + "live\n"},
        // Never followed, opened, written or removed by name: the administrator decides.
        {"link", [&](const std::string& p) { return symlink(target.c_str(), p.c_str()); }, false, 0,
         refused("link", "is not a regular file")},
        {"fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0666); }, false, 0,
         refused("fifo", "is not a regular file")},
        {"linked", [&](const std::string& p) { return link(target.c_str(), p.c_str()); }, false, 0,
         refused("linked", "has more than one link")},
        {"fulldir", [](const std::string& p) { mkdir(p.c_str(), 0777); writeFile(p + "/x", ""); return 0; }, false, 0,
         refused("fulldir", "is not a regular file and cannot be removed (Directory not empty)")},
        // Unprivileged: a live owner that is not ours to probe, and a stale file of root's.
        {"livenobody", file(pidBytes(getpid()), true), true, 0, running + "livenobody\n"},
        {"kept", file(pidBytes(NO_SUCH_PROCESS)), true, 0,
         refused("kept", "belongs to another user and cannot be removed (Operation not permitted)")},
    };
    std::vector<pid_t> runners;
    for (const auto& [name, plant, asNobody, code, message] : rows) {
        ASSERT_EQ(plant(dir + name), 0) << name;
        runners.push_back(startLock(dir + name, asNobody));
    }
    for (size_t i = 0; i < runners.size(); ++i) {
        const auto& [name, plant, asNobody, code, message] = rows[i];
        SCOPED_TRACE(name);
        EXPECT_EQ(exitCodeOf(runners[i]), code);
        struct stat st {};
        lstat((dir + name).c_str(), &st);
        if (code == 2) {
            EXPECT_EQ(readFile(dir + name), pidBytes(runners[i]));
            EXPECT_EQ(st.st_uid, 0u);
        }
        EXPECT_EQ(readFile(dir + name + ".err"), message);
    }
    EXPECT_EQ(readFile(target), "keep");
    for (int fd : held)
        close(fd);
}

}  // namespace
