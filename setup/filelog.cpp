#include "filelog.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log.h"
#include "placement.h"
#include "records.h"
#include "treedir.h"
#include "versions.h"

namespace {

const char* const TEMP_PREFIX = "pk.";

bool isBlank(const std::string& line)
{
    return line.find_first_not_of(" \t") == std::string::npos;
}

bool isSectionLine(const std::string& line)
{
    return line.compare(0, strlen(SECTION_DELIMITER), SECTION_DELIMITER) == 0;
}

std::string firstWord(const std::string& line)
{
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos)
        return "";
    size_t end = line.find_first_of(" \t", start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Depth first: a level's subdirectories come before its own files, each directory once.
void collectLevels(const std::string& top, const std::string& dir, const std::vector<FileResource>& files,
                   std::vector<TreeLevel>& levels)
{
    std::vector<FileResource> here;
    std::vector<FileStructure> subdirs;
    for (const FileResource& f : files) {
        size_t slash = f.destFilename.find('/');
        if (slash == std::string::npos) {
            here.push_back(f);
            continue;
        }
        std::string sub = dir + "/" + f.destFilename.substr(0, slash);
        FileResource rest;
        rest.destFilename = f.destFilename.substr(slash + 1);
        rest.lOffset = f.lOffset;
        auto it = std::find_if(subdirs.begin(), subdirs.end(), FindSubDir{sub});
        if (it == subdirs.end())
            subdirs.push_back(FileStructure{sub, {rest}});
        else
            it->files.push_back(rest);
    }
    for (const FileStructure& sub : subdirs)
        collectLevels(top, sub.installDir, sub.files, levels);
    if (!here.empty())
        levels.push_back(TreeLevel{dir == top ? "" : dir.substr(top.size() + 1), here});
}

}  // namespace

bool readInstalledFilesLog(const std::string& szInstallDir, FileCollection& fcInstallLog, bool* untrusted)
{
    if (untrusted)
        *untrusted = false;
    std::string path = filesDatPath(szInstallDir);
    std::vector<std::string> lines;
    if (!readLines(path, lines)) {
        // A log that is there but cannot be read lists files all the same: rewritten, it would lose them.
        bool absent = errno == ENOENT;
        // Nothing installed, or a release that kept no log: an empty list is the truth.
        bool noLogKept =
            g_existingVersionValue == NO_VERSION || g_existingVersionValue == getVersionValue(LEGACY_VERSION);
        if (absent && noLogKept)
            return true;
        log_msg(MT_ERROR, "Unable to open installed files log file: %s\n", path.c_str());
        if (untrusted)
            *untrusted = !absent;
        return false;
    }
    for (const std::string& line : lines) {
        if (isSectionLine(line))
            break;
        if (isBlank(line))
            continue;
        if (line.find("..") != std::string::npos) {
            log_msg(MT_ERROR,
                    "The installed files log contains an illegal path. This file may have been altered with "
                    "malicious intent. Exiting.\n");
            if (untrusted)
                *untrusted = true;
            return false;
        }
        FileResource entry;
        entry.destFilename = firstWord(line);
        fcInstallLog.files.push_back(entry);
    }
    return true;
}

void ComposeAllFileCollection(const FileCollection& fcZipData, FileCollection& fcInstallLog)
{
    for (const FileResource& payload : fcZipData.files) {
        bool covered = std::any_of(fcInstallLog.files.begin(), fcInstallLog.files.end(), [&](const FileResource& r) {
            return r.destFilename.find(payload.destFilename) != std::string::npos;
        });
        if (!covered)
            fcInstallLog.files.push_back(payload);
    }
}

void RemoveTempFiles(const std::string& szInstallDir, const FileCollection& fcInstallLog)
{
    std::vector<std::string> dirs;
    for (const FileResource& f : fcInstallLog.files) {
        log_msg(MT_VV, "RemoveTempFile: file %s \n", f.destFilename.c_str());
        size_t slash = f.destFilename.rfind('/');
        if (slash == std::string::npos)
            continue;
        std::string dir = szInstallDir + "/" + f.destFilename.substr(0, slash);
        log_msg(MT_VV, "RemoveTempFile: newsubdir %s \n", dir.c_str());
        if (std::find_if(dirs.begin(), dirs.end(), FindDir{dir}) == dirs.end()) {
            log_msg(MT_VV, "RemoveTempFile: pushed subdir %s \n", dir.c_str());
            dirs.push_back(dir);
        }
    }
    for (const std::string& dir : dirs) {
        log_msg(MT_VV, "Finding existance of Temporary file in directory %s \n", dir.c_str());
        // Walked without following links: a link in the tree must not lead the clean-up outside it.
        int fd = openTreeDir(szInstallDir, dir.substr(szInstallDir.size() + 1), false);
        if (fd < 0) {
            if (errno == ELOOP)
                log_msg(MT_ERROR, "A component of %s is a symbolic link, which is never followed\n", dir.c_str());
            continue;
        }
        DIR* listing = fdopendir(fd);
        if (!listing) {
            close(fd);
            continue;
        }
        while (struct dirent* entry = readdir(listing)) {
            log_msg(MT_VV, "File exists are %s \n", entry->d_name);
            if (strncmp(entry->d_name, TEMP_PREFIX, strlen(TEMP_PREFIX)) != 0)
                continue;
            std::string path = dir + "/" + entry->d_name;
            log_msg(MT_VV, "Temporary file exists are %s \n", path.c_str());
            if (unlinkat(fd, entry->d_name, 0) == 0)
                log_msg(MT_VV, "Temporary file %s has been deleted \n", path.c_str());
            else
                log_msg(MT_VV, "Temporary file %s is failed to delete \n", path.c_str());
        }
        closedir(listing);
    }
}

bool installStructure(std::string installDir, const FileCollection& fcTop, const std::vector<FileResource>& files)
{
    int created = createDirectoryPath(installDir);
    if (created == 1 || created == 2) {
        log_msg(MT_ERROR, "Failed to create installation directory\n");
        if (created == 2)
            log_msg(MT_ERROR, "A component of the installation path was not a directory\n");
        return false;
    }
    std::vector<TreeLevel> levels;
    collectLevels(installDir, installDir, files, levels);
    return installTree(installDir, fcTop, levels);
}

bool updateInstalledFilesLog(const std::string& szInstallDir, const FileCollection& fcInstallLog,
                             const std::string& environ_section_contents)
{
    std::string path = filesDatPath(szInstallDir);
    std::string content;
    for (const FileResource& f : fcInstallLog.files)
        content += f.destFilename + "\n";
    content += environ_section_contents;
    if (!replaceRecordFile(path, content)) {
        log_msg(MT_INFO, "Unable to open %s for writing, installed file log update failed.\n", path.c_str());
        return false;
    }
    // Entries are reported only once the log could be written.
    for (const FileResource& f : fcInstallLog.files)
        log_msg(MT_VV, "Making entry for file %s in files.dat file \n", f.destFilename.c_str());
    log_msg(MT_INFO, "Updated installed files log: %s\n", path.c_str());
    return true;
}
