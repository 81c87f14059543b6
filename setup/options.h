// The command line: parsing into g_opts, the usage text, the parameters line and discovery.
#pragma once

#include <cstdio>
#include <string>

#include "types.h"

bool parseCommandLine(int argc, char* argv[]);
void usage(const std::string& appName);
// The usage text with the words of the standalone runs, each line after prefix, not logged.
void printUsage(FILE* out, const char* prefix, const std::string& appName, bool removeOnly);
// "Parameters: ..." line, logged by the driver after a successful parse with verbose.
void logParametersLine();
// The report of where the component is installed and who depends on it.
void runDiscovery();
const char* installModeName(InstallMode mode);
