#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
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

TEST(Lock, FreeOwnStalePlantedShortAndForeignLocks)
{
    {
        AutoLock lock(LOCK_FILE_PATH);
        EXPECT_EQ(readFile(LOCK_FILE_PATH), pidBytes(getpid()));
        EXPECT_EQ(modeOf(LOCK_FILE_PATH), 0700u);
        EXPECT_EQ(lock_file(LOCK_FILE_PATH), 1);
    }
    EXPECT_FALSE(exists(LOCK_FILE_PATH));
    EXPECT_EQ(lock_file((freshDir("lock_none") + "/missing/lock").c_str()), -1);

    // Every other case at once, each at its own name in a sticky directory, so that the three waits overlap.
    const std::string dir = freshDir("lock") + "/", target = dir + "target";
    chmod(dir.c_str(), 01777);
    writeFile(target, "keep");
    const std::string running =
        "[TARVO] This installer application is already running in another process.\nLock file: " + dir;
    auto stuck = [&](const char* name, const char* why, const char* reason) {
        return "[TARVO] The lock file " + dir + name + " " + why + " and cannot be removed (" + reason +
               "); remove it and run the installer again\n";
    };
    using Plant = std::function<int(const std::string&)>;
    auto file = [](std::string bytes, bool nobodys = false) -> Plant {
        return [=](const std::string& p) { writeFile(p, bytes); return nobodys ? chown(p.c_str(), 65534, 65534) : 0; };
    };
    const std::tuple<const char*, Plant, bool, int, std::string> rows[] = {
        {"zero", file(pidBytes(0)), false, 2, ""},  // no process has it; kill() would address a group
        {"link", [&](const std::string& p) { return symlink(target.c_str(), p.c_str()); }, false, 2, ""},
        {"emptydir", [](const std::string& p) { return mkdir(p.c_str(), 0777); }, false, 2, ""},
        // A root run's lock is always root's: another user's file was planted to block every run.
        {"foreign", file(pidBytes(1), true), false, 2, ""},
        {"fulldir", [](const std::string& p) { mkdir(p.c_str(), 0777); writeFile(p + "/x", ""); return 0; }, false, 0,
         stuck("fulldir", "is not a regular file", "Directory not empty")},
        // Unprivileged: a live owner that is not ours to probe, and a stale file that sticky /tmp keeps.
        {"live", file(pidBytes(getpid()), true), true, 0, running + "live\n"},
        {"kept", file(pidBytes(NO_SUCH_PROCESS)), true, 0,
         stuck("kept", "is left from a run that has ended", "Operation not permitted")},
        // Too short for an ID: its writer died, is merely slow, or someone keeps replacing the file.
        {"short", file("\x7f\x7f\x7f"), false, 12, ""},
        {"slow", file(""), false, 11, running + "slow\n"},
        {"replaced", file(""), false, 11, running + "replaced\n"},
    };
    std::vector<pid_t> runners;
    for (const auto& [name, plant, asNobody, code, message] : rows) {
        ASSERT_EQ(plant(dir + name), 0) << name;
        runners.push_back(startLock(dir + name, asNobody));
    }
    // Meanwhile the slow writer completes its file, and the other is replaced by rename, so its name is never free.
    for (int i = 1; i <= 11; ++i) {
        usleep(300 * 1000);
        writeFile(dir + "next", "");
        rename((dir + "next").c_str(), (dir + "replaced").c_str());
        if (i == 5)
            writeFile(dir + "slow", pidBytes(getpid()));
    }
    for (size_t i = 0; i < runners.size(); ++i) {
        const auto& [name, plant, asNobody, code, message] = rows[i];
        SCOPED_TRACE(name);
        EXPECT_EQ(exitCodeOf(runners[i]), code);
        if (code % 10 == 2) {
            EXPECT_EQ(readFile(dir + name), pidBytes(runners[i]));
        }
        EXPECT_EQ(readFile(dir + name + ".err"), message);
    }
    EXPECT_EQ(readFile(target), "keep");
}

}  // namespace
