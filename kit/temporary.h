// The output's temporary file, removed when SIGINT, SIGTERM or SIGHUP stops the
// tool. The main thread alone takes these signals: every other thread must be
// started with them blocked (blockStopSignals).
#pragma once

#include <signal.h>

#include <string>

namespace kit {

// Installs the handlers (a signal ignored at start stays ignored).
void catchStopSignals();

// Blocks the stop signals in the calling thread; returns the mask to restore.
sigset_t blockStopSignals();
void restoreSignals(const sigset_t& mask);

// Creates a new file "<out>.XXXXXX" and records its name for removal; the
// descriptor, or -1 with errno set. name receives the file's name.
int createTemporary(const std::string& out, std::string& name);
// Renames the recorded temporary to out: 0, after which it is no longer
// removed, or -1 with errno set.
int renameTemporary(const std::string& out);
// Removes the recorded temporary.
void removeTemporary();

}  // namespace kit
