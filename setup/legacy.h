// Obsolete files of earlier releases and legacy ORVAN libraries.
#pragma once

#include <string>
#include <vector>

#include "types.h"

bool getVersionedLibName(const std::string& szVerString, const std::string& szLibName, std::string& szVerLibName);
// Deletes name from the directory open at dirFd when it is a regular file (or, with linksToo, a link, which
// is never followed); dirPath is how it is reported. True when the name is gone.
bool removeFile(int dirFd, const std::string& dirPath, const std::string& name, bool linksToo);
bool removeOldRSAFiles(const std::string& installDir);
bool checkForExistingOldVersion(const std::string& szInstallDir);
// Whether an upgrade deletes this name from the record directory's lib directory.
bool isObsoleteLibraryFile(const std::string& name);

// The entries of an earlier installed-files log that this kit's catalog lacks (never a record file).
std::vector<FileResource> droppedFiles(const FileCollection& fcInstallLog, const FileCollection& fcZipData);
// Deletes those files below the install directory, following no link, then the directories they leave empty.
// Returns the entries that must stay listed: their file, or a directory they emptied, could not be removed.
std::vector<FileResource> removeDroppedFiles(const std::string& installDir, const std::vector<FileResource>& dropped,
                                             const FileCollection& fcZipData);
