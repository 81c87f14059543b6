// Runs started together on one lock, round after round: never may two of them hold it at once.
// Rounds start on a stale lock (a dead owner's file), on one planted by uid 65534, or on one that a
// live run holds and releases as the others start. A holder counts itself in (the count must be 0)
// and out, then wakes the waiting runs, so a round takes milliseconds, not the one-second waits.
// Usage: lock_stress [--rounds N] [--runs N]
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

#include "autolock.h"
#include "types.h"

namespace {

struct Shared {
    std::atomic<int> holders, doubles, taken;
    pid_t runs[65];
} * g_shared;
int g_runs = 6;

// The live holder (readyFd >= 0) takes the lock before the start.
[[noreturn]] void run(int startFd, int readyFd)
{
    struct sigaction sa {};
    sa.sa_handler = [](int) {};  // no SA_RESTART: ends the lock's one-second sleep early
    sigaction(SIGUSR1, &sa, nullptr);
    std::unique_ptr<AutoLock> lock;
    if (readyFd >= 0 && (!(lock = std::make_unique<AutoLock>(LOCK_FILE_PATH))->gotLock || write(readyFd, "r", 1) != 1))
        _exit(2);
    for (char c; read(startFd, &c, 1) > 0;) {
    }
    if (!lock)
        lock = std::make_unique<AutoLock>(LOCK_FILE_PATH);
    if (lock->gotLock) {
        g_shared->doubles += g_shared->holders++ != 0;
        g_shared->taken++;
        usleep(1000);  // long enough to overlap a second holder, were there one
        g_shared->holders--;
    }
    lock.reset();
    for (int i = 0; i <= g_runs; ++i)
        if (g_shared->runs[i] > 0 && g_shared->runs[i] != getpid())
            kill(g_shared->runs[i], SIGUSR1);
    _exit(0);
}

bool plant(int32_t pid, uid_t uid)
{
    pid_t child = fork();
    if (child == 0) {
        if (uid && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
            _exit(1);
        int fd = open(LOCK_FILE_PATH, O_WRONLY | O_CREAT | O_EXCL, 0644);
        _exit(fd >= 0 && write(fd, &pid, sizeof pid) == sizeof pid ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && status == 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    int rounds = 20;
    for (int i = 1; i + 1 < argc; i += 2)
        *(strcmp(argv[i], "--runs") ? &rounds : &g_runs) = atoi(argv[i + 1]);
    if (rounds < 1 || g_runs < 2 || g_runs > 64)
        return fprintf(stderr, "usage: lock_stress [--rounds N] [--runs 2..64]\n"), 2;
    g_shared = static_cast<Shared*>(mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    signal(SIGUSR1, SIG_IGN);
    bool ok = true;
    for (const char* scenario : {"stale", "planted", "live"}) {
        int taken = 0, doubles = 0, empty = 0, left = 0, live = !strcmp(scenario, "live"), start[2], ready[2];
        for (int round = 0; round < rounds; ++round) {
            unlink(LOCK_FILE_PATH);
            memset(static_cast<void*>(g_shared), 0, sizeof(Shared));
            if ((!live && !plant(*scenario == 's' ? 0x3fffffff : 1, *scenario == 's' ? 0 : 65534)) || pipe(start) ||
                pipe(ready))
                return perror("lock_stress: prepare"), 2;
            for (int i = 0; i < g_runs + live; ++i) {
                pid_t pid = fork();
                if (pid == 0) {
                    close(start[1]);
                    run(start[0], i == g_runs ? ready[1] : -1);
                }
                g_shared->runs[i] = pid;
            }
            close(ready[1]);
            char c;
            if (live && read(ready[0], &c, 1) != 1)
                return fprintf(stderr, "lock_stress: the live holder did not get the lock\n"), 2;
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
               "files left %d\n", scenario, rounds, g_runs, taken, doubles, empty, left);
        ok = ok && doubles == 0 && empty == 0 && left == 0;
    }
    return ok ? 0 : 1;
}
