// The one output function of the installer: console and /tmp/tarvo_install.log by class and verbosity.
#pragma once

#include "types.h"

void log_msg(MessageType messageType, const char* message, ...) __attribute__((format(printf, 2, 3)));

// Deletes the log file; 0 when it was removed, -1 otherwise.
int remove_temp_install_log_file();
