// Many runs at once on one lock, round after round: at no moment may two of them hold it.
// Each round starts its runs together on a stale lock (a dead owner's file), a lock planted by
// another user, or a lock that a live run holds and then releases. A holder counts itself in on
// entry (the count must be 0) and out on release, then wakes the runs that wait, so that a round
// takes milliseconds rather than the lock's one-second waits. Usage: lock_stress [--rounds N] [--runs N]
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "autolock.h"
#include "types.h"

namespace {

const int MAX_RUNS = 64;

struct Shared {
    std::atomic<int> holders, doubles, taken;
    pid_t runs[MAX_RUNS + 1];
};

Shared* g_shared;
int g_runCount;

void wake(int) {}

// One run: wait for the start, take the lock, check it is alone, release, wake the others.
// The live holder (readyFd >= 0) takes the lock first and releases it once the others start.
[[noreturn]] void run(int startFd, int readyFd)
{
    struct sigaction sa {};
    sa.sa_handler = wake;  // no SA_RESTART: the signal ends the lock's one-second sleep early
    sigaction(SIGUSR1, &sa, nullptr);
    std::unique_ptr<AutoLock> lock;
    if (readyFd >= 0) {
        lock = std::make_unique<AutoLock>(LOCK_FILE_PATH);
        if (!lock->gotLock || write(readyFd, "r", 1) != 1)
            _exit(2);
    }
    char c;
    while (read(startFd, &c, 1) > 0) {
    }
    if (!lock)
        lock = std::make_unique<AutoLock>(LOCK_FILE_PATH);
    if (lock->gotLock) {
        if (g_shared->holders.fetch_add(1) != 0)
            g_shared->doubles++;
        g_shared->taken++;
        usleep(1000);  // a while to overlap with a second holder, were there one
        g_shared->holders.fetch_sub(1);
    }
    lock.reset();
    for (int i = 0; i <= g_runCount; ++i)
        if (g_shared->runs[i] > 0 && g_shared->runs[i] != getpid())
            kill(g_shared->runs[i], SIGUSR1);
    _exit(0);
}

// The file that the round starts on, as its scenario wants it.
bool prepare(const std::string& scenario)
{
    int32_t deadPid = 0x3fffffff;  // above any pid_max
    if (scenario == "stale") {
        int fd = open(LOCK_FILE_PATH, O_WRONLY | O_CREAT | O_EXCL, 0700);
        return fd >= 0 && write(fd, &deadPid, sizeof deadPid) == sizeof deadPid && close(fd) == 0;
    }
    if (scenario == "planted") {  // by another user, naming a live process
        pid_t pid = fork();
        if (pid == 0) {
            int32_t init = 1;
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(1);
            int fd = open(LOCK_FILE_PATH, O_WRONLY | O_CREAT | O_EXCL, 0644);
            _exit(fd >= 0 && write(fd, &init, sizeof init) == sizeof init ? 0 : 1);
        }
        int status = 0;
        return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    int rounds = 20, runs = 6;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--rounds"))
            rounds = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--runs"))
            runs = atoi(argv[i + 1]);
    }
    if (rounds < 1 || runs < 2 || runs > MAX_RUNS) {
        fprintf(stderr, "usage: lock_stress [--rounds N] [--runs 2..%d]\n", MAX_RUNS);
        return 2;
    }
    g_runCount = runs;
    g_shared = static_cast<Shared*>(mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    signal(SIGUSR1, SIG_IGN);
    bool ok = true;
    for (const char* scenario : {"stale", "planted", "live"}) {
        int taken = 0, doubles = 0, empty = 0, left = 0;
        for (int round = 0; round < rounds; ++round) {
            unlink(LOCK_FILE_PATH);
            memset(static_cast<void*>(g_shared), 0, sizeof(Shared));
            int start[2], ready[2];
            if (!prepare(scenario) || pipe(start) != 0 || pipe(ready) != 0) {
                perror("lock_stress: prepare");
                return 2;
            }
            bool live = !strcmp(scenario, "live");
            for (int i = 0; i < runs + (live ? 1 : 0); ++i) {
                pid_t pid = fork();
                if (pid == 0) {
                    close(start[1]);
                    close(ready[0]);
                    run(start[0], i == runs ? ready[1] : -1);
                }
                g_shared->runs[i] = pid;
            }
            close(ready[1]);
            char c;
            if (live && read(ready[0], &c, 1) != 1) {
                fprintf(stderr, "lock_stress: the live holder did not get the lock\n");
                return 2;
            }
            close(start[1]);  // all start together
            while (wait(nullptr) > 0) {
            }
            close(start[0]);
            close(ready[0]);
            taken += g_shared->taken;
            doubles += g_shared->doubles;
            empty += g_shared->taken == 0;
            left += access(LOCK_FILE_PATH, F_OK) == 0;
        }
        printf("%-8s rounds %d, runs %d: lock taken %d times, double holders %d, rounds without a holder %d, "
               "files left %d\n", scenario, rounds, runs, taken, doubles, empty, left);
        ok = ok && doubles == 0 && empty == 0 && left == 0;
    }
    return ok ? 0 : 1;
}
