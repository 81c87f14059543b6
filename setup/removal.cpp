// Deleting an installation: its logged files, its records, the directories that held them,
// and the shared directories above it once nothing else lives there.
#include "removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "filelog.h"
#include "legacy.h"
#include "log.h"
#include "placement.h"
#include "qzprofile.h"
#include "records.h"
#include "treedir.h"
#include "versions.h"

namespace {

enum FileOutcome { FILE_GONE, FILE_REMAINS };

// "a/b/c" -> "a/b" and "c"; a name without "/" lies in the base directory itself.
void splitRelative(const std::string& rel, std::string& dir, std::string& name)
{
    std::string::size_type slash = rel.rfind('/');
    dir = slash == std::string::npos ? std::string() : rel.substr(0, slash);
    name = slash == std::string::npos ? rel : rel.substr(slash + 1);
}

// unlinkat of rel below the install directory, its directory reached through no link; errno is kept.
int unlinkBelow(const std::string& installDir, const std::string& rel, int flags)
{
    std::string parent, name;
    splitRelative(rel, parent, name);
    int fd = openTreeDir(installDir, parent, false);
    if (fd < 0)
        return -1;
    int rc = unlinkat(fd, name.c_str(), flags);
    int error = errno;
    close(fd);
    errno = error;
    return rc;
}

// Adds the entry's directory and every parent below the install directory not yet known; a known
// parent means everything above it is known too, so the walk stops there.
void collectDirectories(const std::string& entry, std::set<std::string>& dirs)
{
    std::string dir, name;
    splitRelative(entry, dir, name);
    while (!dir.empty() && dirs.insert(dir).second) {
        std::string parent;
        splitRelative(dir, parent, name);
        dir = parent;
    }
}

// Deletes one file below the install directory. No link in a directory component is followed, so
// a tampered tree cannot lead the deletion elsewhere; such an entry stays, and is reported.
FileOutcome removeOneFile(const std::string& installDir, const std::string& entry)
{
    // Only the legacy library is installed under a versioned name; keep the entry if no mapping exists.
    std::string onDisk = entry;
    getVersionedLibName(g_existingVersionString, entry, onDisk);
    std::string path = installDir + "/" + onDisk;
    if (unlinkBelow(installDir, onDisk, 0) == 0) {
        log_msg(MT_VV, "Removed file %s\n", path.c_str());
        return FILE_GONE;
    }
    if (errno == ENOENT) {
        log_msg(MT_VV, "File %s is not present for deletion\n", path.c_str());
        return FILE_GONE;
    }
    log_msg(MT_ERROR, "Failed to remove file %s, must be done manually.\n", path.c_str());
    return FILE_REMAINS;
}

// rmdir of a directory below the install directory, through no link; one already gone counts as
// removed, so that a rerun can finish an interrupted removal.
bool removeListedDirectory(const std::string& installDir, const std::string& rel)
{
    std::string dir = installDir + "/" + rel;
    int rc = unlinkBelow(installDir, rel, AT_REMOVEDIR);
    int error = errno;
    if (rc == 0) {
        log_msg(MT_VV, "Removed directory %s\n", dir.c_str());
        return true;
    }
    switch (error) {
    case ENOENT:
        return true;
    case EACCES:
    case EPERM:
        log_msg(MT_ERROR, "Failed to remove %s: Incorrect permissions, must be done manually.\n", dir.c_str());
        break;
    case EBUSY:
        log_msg(MT_ERROR, "Failed to remove %s: Directory in use  , must be done manually.\n", dir.c_str());
        break;
    case ENOTEMPTY:
    case EEXIST:
        log_msg(MT_ERROR, "Failed to remove %s: Directoy not empty , must be done manually.\n", dir.c_str());
        break;
    default:
        log_msg(MT_ERROR, "Failed to remove directory %s, must be done manually.\n", dir.c_str());
        break;
    }
    return false;
}

// files.dat first: while .installdb remains, a rerun still finds the installation and finishes it.
bool removeRecords(const std::string& installDir)
{
    const std::string recordSubdir = RECORD_SUBDIR;
    // Installations of that version kept no files.dat.
    if (g_existingVersionValue != getVersionValue(LEGACY_VERSION) &&
        removeOneFile(installDir, recordSubdir + "/" + FILES_DAT_NAME) != FILE_GONE)
        return false;
    return removeOneFile(installDir, recordSubdir + "/" + INSTALLDB_NAME) == FILE_GONE;
}

// Leaves a files.dat that lists only what is still on disk, its sections kept, for the rerun.
void recordRemainingFiles(const std::string& installDir, const FileCollection& remaining)
{
    if (g_existingVersionValue == getVersionValue(LEGACY_VERSION))
        return;  // the rerun lists this kit's payload again, as this run did
    int fd = openTreeDir(installDir, RECORD_SUBDIR, false);
    if (fd < 0)
        return;  // never written through a link
    close(fd);
    std::vector<std::string> lines;
    std::string sections;
    if (readLines(filesDatPath(installDir), lines)) {
        bool inSections = false;
        for (const std::string& line : lines) {
            inSections = inSections || line.compare(0, std::strlen(SECTION_DELIMITER), SECTION_DELIMITER) == 0;
            if (inSections)
                sections += line + "\n";
        }
    }
    updateInstalledFilesLog(installDir, remaining, sections);
}

bool isRecordDirOrAbove(const std::string& rel)
{
    const std::string recordSubdir = RECORD_SUBDIR;
    return rel == recordSubdir || recordSubdir.compare(0, rel.size() + 1, rel + "/") == 0;
}

// TARVO5/Linux/ppc64/, TARVO5/Linux/, TARVO5/ and finally the install directory itself;
// another product may still keep files there, so failures are only reported.
void removePlatformParents(const std::string& installDir)
{
    const std::string platform = PLATFORM_PATH;
    std::string::size_type slash = platform.rfind('/');
    while (slash != std::string::npos) {
        std::string path = installDir + "/" + platform.substr(1, slash);
        // Below the install directory through no link; the install directory itself by its name.
        int rc = slash == 0 ? rmdir(path.c_str())
                            : unlinkBelow(installDir, platform.substr(1, slash - 1), AT_REMOVEDIR);
        if (rc != 0)
            log_msg(MT_INFO,
                    "Failed to remove directory %s, may be other installation OR user files are present. "
                    "continuing considering it as non-fatal. Please check them manually\n",
                    path.c_str());
        if (slash == 0)
            break;
        slash = platform.rfind('/', slash - 1);
    }
}

// Removes the directory when missing or empty; either way it counts as gone.
bool removeIfUnused(const std::string& dir)
{
    int count = CountFilesAndDirsIn(dir);
    if (count != -1 && count != 0)
        return false;
    rmdir(dir.c_str());
    return true;
}

// Once the record directory is gone: the platform parents, then the shared-components directory
// with its lib and bin, and with them the profile variables and /opt/QZ, when nothing else uses them.
void removeEmptyParents(const std::string& installDir)
{
    removePlatformParents(installDir);

    std::string::size_type slash = installDir.rfind('/');
    if (slash == std::string::npos)
        return;
    const std::string shared = installDir.substr(0, slash);
    bool libGone = removeIfUnused(shared + "/lib");
    bool binGone = removeIfUnused(shared + "/bin");
    bool sharedGone = removeIfUnused(shared);
    if (!(libGone && binGone && sharedGone))
        return;

    if (g_opts.setenv == ALL) {
        delete_env_var_with_temp_qzprofile("QZSHCOMP");
        delete_env_var_with_temp_qzprofile("QZLIB");
        delete_env_var_with_temp_qzprofile("QZBIN");
    }
    if (installDir == DEFAULT_INSTALL_DIR)
        removeIfUnused("/opt/QZ");
}

// Deeper trees than any installation makes are not taken for leftovers; this also bounds the
// descriptors held open while walking.
const int MAX_LEFTOVER_DEPTH = 32;

// Adds rel and every directory below it to dirs, when the directory open at fd holds nothing but
// directories down to the bottom; false as soon as anything else, a link included, turns up.
bool collectEmptyTree(int fd, const std::string& rel, int depth, std::set<std::string>& dirs)
{
    dirs.insert(rel);
    int listFd = dup(fd);
    DIR* listing = listFd < 0 ? nullptr : fdopendir(listFd);
    if (!listing) {
        if (listFd >= 0)
            close(listFd);
        return false;
    }
    bool onlyDirectories = true;
    while (struct dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        int sub = depth < MAX_LEFTOVER_DEPTH
                      ? openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                      : -1;
        onlyDirectories = sub >= 0 && collectEmptyTree(sub, rel + "/" + name, depth + 1, dirs);
        if (sub >= 0)
            close(sub);
        if (!onlyDirectories)
            break;
    }
    closedir(listing);
    return onlyDirectories;
}

}  // namespace

bool removeFiles(const std::string& installDir, const FileCollection& fc)
{
    // A set is both free of duplicates and in byte-wise order, so every directory
    // sorts before the paths below it.
    std::set<std::string> dirs;
    dirs.insert(RECORD_SUBDIR);
    FileCollection remaining;
    for (const FileResource& file : fc.files) {
        collectDirectories(file.destFilename, dirs);
        if (removeOneFile(installDir, file.destFilename) == FILE_REMAINS)
            remaining.files.push_back(file);
    }
    // The records outlive every file they list, so that a rerun by any caller can finish the job.
    if (!remaining.files.empty()) {
        recordRemainingFiles(installDir, remaining);
        return false;
    }

    // Deepest first, so each directory is empty by the time its parent is tried. The records go only
    // once every other listed directory is gone, so that a rerun still finds what one left behind;
    // the record directory and those above it are still tried, to report them.
    std::vector<std::string> recordDirAndAbove;
    bool allRemoved = true;
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
        if (isRecordDirOrAbove(*it))
            recordDirAndAbove.push_back(*it);
        else if (!removeListedDirectory(installDir, *it))
            allRemoved = false;
    }
    if (allRemoved && !removeRecords(installDir))
        allRemoved = false;
    for (const std::string& dir : recordDirAndAbove)
        if (!removeListedDirectory(installDir, dir))
            allRemoved = false;
    if (!allRemoved)
        return false;
    removeEmptyParents(installDir);
    return true;
}

LeftoverTree removeLeftoverTree(const std::string& installDir)
{
    // A removal killed after the record directory went leaves its empty parents: start at the
    // deepest part of the platform path that is still there.
    std::string root = RECORD_SUBDIR;
    int fd = openTreeDir(installDir, root, false);
    while (fd < 0 && errno == ENOENT && root.find('/') != std::string::npos) {
        root.erase(root.rfind('/'));
        fd = openTreeDir(installDir, root, false);
    }
    if (fd < 0)
        return NO_LEFTOVER_TREE;
    std::set<std::string> dirs;
    bool onlyDirectories = collectEmptyTree(fd, root, 0, dirs);
    close(fd);
    if (!onlyDirectories)
        return NO_LEFTOVER_TREE;

    log_msg(MT_INFO, "Removing the empty directories left by an interrupted removal\n");
    // A set sorts every directory before those below it, so the reverse walk goes deepest first.
    bool allRemoved = true;
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it)
        if (!removeListedDirectory(installDir, *it))
            allRemoved = false;
    if (!allRemoved)
        return LEFTOVER_TREE_STAYS;
    removeEmptyParents(installDir);
    return LEFTOVER_TREE_REMOVED;
}
