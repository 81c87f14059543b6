// The command line: parsing into g_opts, the usage text, the parameters line and discovery.
#pragma once

#include <string>

#include "types.h"

bool parseCommandLine(int argc, char* argv[]);
void usage(const std::string& appName);
// "Parameters: ..." line, logged by the driver after a successful parse with verbose.
void logParametersLine();
// The report of where the component is installed and who depends on it.
void runDiscovery();
const char* installModeName(InstallMode mode);
