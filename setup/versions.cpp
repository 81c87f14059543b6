#include "versions.h"
std::string g_thisKitVersionString;
uint64_t g_thisKitVersionValue = NO_VERSION;
std::string g_existingVersionString;
uint64_t g_existingVersionValue = NO_VERSION;
std::string getVersionString(uint16_t, uint16_t, uint16_t) { return ""; }
uint64_t getVersionValue(const std::string&) { return NO_VERSION; }
int getExistingVersion(std::string&, uint64_t*, const std::string&) { return 1; }
bool setExistingVersion(const std::string&, const std::string&) { return false; }
bool fileIntegrity(const std::string&, const FileCollection&) { return false; }
bool addDependency(const std::string&) { return false; }
bool checkDependency(const std::string&, std::string&) { return false; }
bool removeDependency(const std::string&) { return false; }
int getNumExistingDependencies(const std::string&) { return -1; }
bool decideUpgrade(const std::string&, const FileCollection&) { return true; }
