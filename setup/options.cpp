#include "options.h"
opts g_opts;
bool parseCommandLine(int, char*[]) { return false; }
void usage(const std::string&) {}
void logParametersLine() {}
void runDiscovery() {}
const char* installModeName(InstallMode) { return "unknown"; }
