// Obsolete files of earlier releases and legacy ORVAN libraries.
#pragma once

#include <string>

bool getVersionedLibName(const std::string& szVerString, const std::string& szLibName, std::string& szVerLibName);
void removeFile(const std::string& path);
bool removeOldRSAFiles(const std::string& installDir);
bool checkForExistingOldVersion(const std::string& szInstallDir);
// Whether an upgrade deletes this name from the record directory's lib directory.
bool isObsoleteLibraryFile(const std::string& name);
