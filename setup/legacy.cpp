#include "legacy.h"
bool getVersionedLibName(const std::string&, const std::string&, std::string&) { return false; }
void removeFile(const std::string&) {}
bool removeOldRSAFiles(const std::string&) { return true; }
bool checkForExistingOldVersion(const std::string&) { return false; }
