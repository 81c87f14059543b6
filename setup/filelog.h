// The installed-files log files.dat, leftover temporary files and placing the payload tree.
#pragma once

#include <string>
#include <vector>

#include "types.h"

struct FileStructure {
    std::string installDir;
    std::vector<FileResource> files;
};

struct FindDir {
    std::string dirToFind;
    bool operator()(const std::string& dir) const { return dir == dirToFind; }
};

struct FindSubDir {
    std::string dirToFind;
    bool operator()(const FileStructure& sub) const { return sub.installDir == dirToFind; }
};

// Appends the file part of files.dat. *untrusted (when given) tells a log that no run may act on or replace
// (tampered, or there but unreadable) from a missing one.
bool readInstalledFilesLog(const std::string& szInstallDir, FileCollection& fcInstallLog, bool* untrusted = nullptr);
void ComposeAllFileCollection(const FileCollection& fcZipData, FileCollection& fcInstallLog);
void RemoveTempFiles(const std::string& szInstallDir, const FileCollection& fcInstallLog);
bool installStructure(std::string installDir, const FileCollection& fcTop, const std::vector<FileResource>& files);
bool updateInstalledFilesLog(const std::string& szInstallDir, const FileCollection& fcInstallLog,
                             const std::string& environ_section_contents);
