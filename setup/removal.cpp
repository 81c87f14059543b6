// Deleting an installation: its logged files, its records, the directories that held them,
// and the shared directories above it once nothing else lives there.
#include "removal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "legacy.h"
#include "log.h"
#include "placement.h"
#include "qzprofile.h"
#include "versions.h"

namespace {

// Adds the entry's directory and every parent not yet known; a known parent means
// everything above it is known too, so the walk stops there.
void collectDirectories(const std::string& installDir, const std::string& entry, std::set<std::string>& dirs)
{
    std::string::size_type slash = entry.rfind('/');
    if (slash == std::string::npos)
        return;
    std::string dir = installDir + "/" + entry.substr(0, slash);
    while (!dir.empty() && dirs.insert(dir).second) {
        slash = dir.rfind('/');
        if (slash == std::string::npos)
            break;
        dir.erase(slash);
    }
}

void removeOneFile(const std::string& installDir, const std::string& entry)
{
    // Only the legacy library is installed under a versioned name; keep the entry if no mapping exists.
    std::string onDisk = entry;
    getVersionedLibName(g_existingVersionString, entry, onDisk);
    std::string path = installDir + "/" + onDisk;
    if (unlink(path.c_str()) == 0) {
        log_msg(MT_VV, "Removed file %s\n", path.c_str());
        return;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        log_msg(MT_VV, "File %s is not present for deletion\n", path.c_str());
    else
        log_msg(MT_ERROR, "Failed to remove file %s, must be done manually.\n", path.c_str());
}

bool removeListedDirectory(const std::string& dir)
{
    if (rmdir(dir.c_str()) == 0) {
        log_msg(MT_VV, "Removed directory %s\n", dir.c_str());
        return true;
    }
    switch (errno) {
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

// TARVO5/Linux/ppc64/, TARVO5/Linux/, TARVO5/ and finally the install directory itself;
// another product may still keep files there, so failures are only reported.
void removePlatformParents(const std::string& installDir)
{
    const std::string platform = PLATFORM_PATH;
    std::string::size_type slash = platform.rfind('/');
    while (slash != std::string::npos) {
        std::string path = installDir + "/" + platform.substr(1, slash);
        if (rmdir(path.c_str()) != 0)
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

}  // namespace

bool removeFiles(const std::string& installDir, const FileCollection& fc)
{
    const std::string recordSubdir = RECORD_SUBDIR;
    std::vector<std::string> removal;
    removal.reserve(fc.files.size() + 2);
    for (const FileResource& file : fc.files)
        removal.push_back(file.destFilename);
    // Installations of that version kept no files.dat.
    if (g_existingVersionValue != getVersionValue(LEGACY_VERSION))
        removal.push_back(recordSubdir + "/" + FILES_DAT_NAME);
    removal.push_back(recordSubdir + "/" + INSTALLDB_NAME);

    // A set is both free of duplicates and in byte-wise order, so every directory
    // sorts before the paths below it.
    std::set<std::string> dirs;
    dirs.insert(recordDir(installDir));
    for (const std::string& entry : removal) {
        collectDirectories(installDir, entry, dirs);
        removeOneFile(installDir, entry);
    }

    // Deepest first, so each directory is empty by the time its parent is tried.
    bool allRemoved = true;
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it)
        if (!removeListedDirectory(*it))
            allRemoved = false;
    if (!allRemoved)
        return false;

    removePlatformParents(installDir);

    std::string::size_type slash = installDir.rfind('/');
    if (slash == std::string::npos)
        return true;
    const std::string shared = installDir.substr(0, slash);
    bool libGone = removeIfUnused(shared + "/lib");
    bool binGone = removeIfUnused(shared + "/bin");
    bool sharedGone = removeIfUnused(shared);
    if (!(libGone && binGone && sharedGone))
        return true;

    if (g_opts.setenv == ALL) {
        delete_env_var_with_temp_qzprofile("QZSHCOMP");
        delete_env_var_with_temp_qzprofile("QZLIB");
        delete_env_var_with_temp_qzprofile("QZBIN");
    }
    if (installDir == DEFAULT_INSTALL_DIR)
        removeIfUnused("/opt/QZ");
    return true;
}
