// The lasting trace of every run that held the lock: one record in the system log.
#pragma once

#include <string>

// Noted when the run has the lock: which program runs.
void noteRunProgram(bool removeOnly);
// Noted as soon as the run knows it: the install directory, and the version recorded there before.
void noteRunInstallDir(const std::string& installDir);
// Sends the record of the run: its mode ("discover" for a discover-only run), the install directory,
// the recorded version before and after, the result, and who ran it.
void recordRun(const char* mode, int status);
// One value for the record: double quotes, with quote, backslash and every byte outside printable
// ASCII escaped, so that a value can neither end the record nor forge another field.
std::string recordValue(const std::string& text);
