// Discovery for programs: one JSON object on standard output, from the same choice of directory as an
// install and the same record rules, and nothing locked, logged, created or changed.
#pragma once

#include <string>

inline constexpr const char* DISCOVER_JSON_WORD = "discover=json";

// The process exit status: 0, or 3 for a command line it does not take or output that could not be
// written. Only instdir= and env= may come before the word, each once.
int runJsonDiscovery(int argc, char* argv[], bool removeOnly);
// A JSON string: quote, backslash and control characters escaped, each byte that is not part of valid
// UTF-8 as \u00XX of the byte.
std::string jsonString(const std::string& text);
// The CurrentVersion a registry below installDir records, read without following links below it or
// blocking; false when there is none or it cannot be read.
bool readRecordedVersion(const std::string& installDir, std::string& version);
