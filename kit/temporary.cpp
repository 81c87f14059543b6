#include "temporary.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kit {

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What the handler reads: a name that is complete whenever armed is set, since
// both change only while the signals are blocked.
char g_name[PATH_MAX + 8];
volatile sig_atomic_t g_armed = 0;

void onStop(int sig)
{
    if (g_armed) {
        unlink(g_name);
    }
    // Die of the signal, as the caller expects of a stopped command.
    signal(sig, SIG_DFL);
    raise(sig);
}

sigset_t stopSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kStopSignals) {
        sigaddset(&set, sig);
    }
    return set;
}

}  // namespace

void catchStopSignals()
{
    for (int sig : kStopSignals) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;  // e.g. SIGHUP under nohup
        }
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = onStop;
        sa.sa_mask = stopSet();
        sigaction(sig, &sa, nullptr);
    }
}

sigset_t blockStopSignals()
{
    sigset_t set = stopSet(), old;
    pthread_sigmask(SIG_BLOCK, &set, &old);
    return old;
}

void restoreSignals(const sigset_t& mask) { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }

int createTemporary(const std::string& out, std::string& name)
{
    std::string pattern = out + ".XXXXXX";
    if (pattern.size() >= sizeof g_name) {
        errno = ENAMETOOLONG;
        return -1;
    }
    sigset_t old = blockStopSignals();
    memcpy(g_name, pattern.c_str(), pattern.size() + 1);
    int fd = mkstemp(g_name);
    g_armed = fd >= 0;
    int error = errno;
    name = g_name;
    restoreSignals(old);
    errno = error;
    return fd;
}

int renameTemporary(const std::string& out)
{
    sigset_t old = blockStopSignals();
    int rc = rename(g_name, out.c_str());
    int error = errno;
    if (rc == 0) {
        g_armed = 0;
    }
    restoreSignals(old);
    errno = error;
    return rc;
}

void removeTemporary()
{
    sigset_t old = blockStopSignals();
    if (g_armed) {
        unlink(g_name);
    }
    g_armed = 0;
    restoreSignals(old);
}

}  // namespace kit
