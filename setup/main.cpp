// The installer's driver: one run of install, remove or forceremove, from lock to closing message.
// Built twice: as the installer kit's program and, with TARVO_REMOVE_ONLY, as the payload's uninstaller.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "autolock.h"
#include "environment.h"
#include "filelog.h"
#include "installdir.h"
#include "jsondiscovery.h"
#include "legacy.h"
#include "log.h"
#include "options.h"
#include "payload.h"
#include "qzprofile.h"
#include "records.h"
#include "removal.h"
#include "runrecord.h"
#include "treedir.h"
#include "types.h"
#include "versions.h"

#ifndef TARVO_REMOVE_ONLY
#define TARVO_REMOVE_ONLY 0
#endif
#ifndef TARVO_BUILD_ID
#define TARVO_BUILD_ID "unknown"
#endif

int pseudo_main(int argc, char* argv[]);
unsigned int do_install(const std::string& installDir, const std::string& linkDir, const FileCollection& fcZipData,
                        const FileCollection& fcInstallLog);
bool do_remove(const std::string& installDir, const std::string& linkDir, const FileCollection& fcInstallLog);

namespace {

const int RESULT_SUCCESS = 0;
const int RESULT_FAILURE = 3;

bool canOpen(const char* path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

// The payload sits behind the program's own image, and is read from that image only: a file that
// the current directory or a name on the command line put in its place could hold anyone's payload.
// Without /proc the image is the file that the shell ran: a name with a slash is a path, a bare name
// was found through PATH. An empty or relative PATH entry means the current directory to a shell:
// skipped, so that root never takes a payload from the directory it happens to stand in.
std::string installerFile(const char* argv0)
{
    const char SELF[] = "/proc/self/exe";
    std::string name = argv0 ? argv0 : "";
    if (canOpen(SELF) || name.empty())
        return SELF;
    if (name.find('/') != std::string::npos)
        return name;
    const char* path = getenv("PATH");
    std::string entries = path ? path : "";
    for (size_t start = 0; start <= entries.size();) {
        size_t end = std::min(entries.find(':', start), entries.size());
        std::string entry = entries.substr(start, end - start), candidate = entry + "/" + name;
        struct stat st;
        if (!entry.empty() && entry[0] == '/' && stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return SELF;  // not found: fails with a message naming the image, never opens a name in the current directory
}

// One word for the shell, whatever it holds.
std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Drops the caller from the dependants of the predecessor product, if one is installed.
void removeFromLegacyProduct()
{
    const char* orvanHome = getenv("ORVANHOME");
    if (!orvanHome)
        return;
    std::string command = shellQuoted(std::string(orvanHome) + "/uninstaller") +
                          " remove caller=" + shellQuoted(g_opts.caller);
    if (g_opts.setenv == USER)
        command += " env=user";
    else if (g_opts.setenv == ALL)
        command += " env=all";
    log_msg(MT_INFO,
            "Older version of ORVAN installation found at %s. So, trying to remove the this callerID from older "
            "ORVAN dependency list\n",
            orvanHome);
    fflush(stdout);
    int ignored = system(command.c_str());
    (void)ignored;  // the old uninstaller's outcome does not change ours
}

// The records are read and written by path, so a link or a non-directory on the way to them would
// send those reads and writes out of the tree: such a tree is left alone as a whole.
bool recordDirIsSafe(const std::string& installDir)
{
    int fd = openTreeDir(installDir, RECORD_SUBDIR, false);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    int error = errno;
    if (error == ENOENT)
        return true;  // nothing installed yet
    const std::string dir = recordDir(installDir);
    if (error == ELOOP || error == ENOTDIR)
        log_msg(MT_ERROR,
                "The record directory %s is reached through a symbolic link or a non-directory; nothing will be "
                "changed\n",
                dir.c_str());
    else
        log_msg(MT_ERROR, "Failed to open the record directory %s: %s\n", dir.c_str(), strerror(error));
    return false;
}

// Everything after the lock and the parse; returns the run's result.
int runRequest(int argc, char* argv[])
{
    if (!parseCommandLine(argc, argv)) {
        usage(argv[0]);
        return RESULT_FAILURE;
    }
    if (g_opts.verbose)
        logParametersLine();

    if (TARVO_REMOVE_ONLY && g_opts.installMode == INSTALL) {
        log_msg(MT_ERROR, "This uninstaller can only remove TARVO; run the TARVO installer kit to install it\n");
        usage(argv[0]);
        return RESULT_FAILURE;
    }

    g_thisKitVersionString = thisKitVersion();
    g_thisKitVersionValue = getVersionValue(g_thisKitVersionString);
    if (g_thisKitVersionValue == NO_VERSION) {
        log_msg(MT_ERROR, "Failed to determine version of this installation\n");
        return RESULT_FAILURE;
    }
    log_msg(MT_INFO, "This installer contains TARVO Version %s\n", g_thisKitVersionString.c_str());

    std::string installDir, linkDir;
    if (!getInstallDir(g_opts.installDir, installDir, linkDir)) {
        log_msg(MT_ERROR, "Failed to determine installation directory\n");
        return RESULT_FAILURE;
    }
    // A line break cannot stand in a line of $HOME/.profile, so a later removal could never find it.
    // A removal goes on, so that an installation made there before can still be taken away.
    if (g_opts.installMode == INSTALL && (installDir + linkDir).find('\n') != std::string::npos) {
        log_msg(MT_ERROR, "The installation directory must not contain a line break\n");
        return RESULT_FAILURE;
    }
    log_msg(MT_INFO, "Installation directory: %s\n", installDir.c_str());
    noteRunInstallDir(installDir);
    if (!Check_InstallDir_Attr(installDir) || !recordDirIsSafe(installDir) || !recordFilesAreSafe(installDir))
        return RESULT_FAILURE;
    removeRecordTemporaries(installDir);

    int existing = getExistingVersion(g_existingVersionString, &g_existingVersionValue, installDir);
    if (existing == -1)
        return RESULT_FAILURE;
    if (existing == 0) {
        log_msg(MT_ERROR, "Existing installation of TARVO found: Invalid version\n");
        if (g_opts.installMode != INSTALL)
            return RESULT_FAILURE;
    } else if (!g_existingVersionString.empty()) {
        log_msg(MT_INFO, "Existing installation of TARVO found: Version %s\n", g_existingVersionString.c_str());
    }

    FileCollection fcInstallLog;
    bool untrusted = false;
    if (!readInstalledFilesLog(installDir, fcInstallLog, &untrusted)) {
        log_msg(MT_VV, "Reading of files.dat file failed \n");
        // Nothing is placed or deleted on the word of a tampered log, nor one that could not be read.
        if (untrusted)
            return RESULT_FAILURE;
    }

    FileCollection fcZipData;
    // Only an install decodes streams; a removal needs the paths alone, as the uninstaller's catalog gives them.
    if (processDataTable(installerFile(argv[0]), fcZipData, g_opts.installMode == INSTALL) != 0)
        return RESULT_FAILURE;
    // Paths that an install creates are vouched for by a second copy before anything is touched.
    if (g_opts.installMode == INSTALL && !checkCatalogCopy(fcZipData))
        return RESULT_FAILURE;
    ComposeAllFileCollection(fcZipData, fcInstallLog);
    RemoveTempFiles(installDir, fcInstallLog);

    if (g_opts.installMode == INSTALL) {
        if (do_install(installDir, linkDir, fcZipData, fcInstallLog) != 0)
            return RESULT_FAILURE;
        removeFromLegacyProduct();
        log_msg(MT_INFO, "TARVO Install Successful, return Value is 0\n\n\n");
    } else {
        if (!do_remove(installDir, linkDir, fcInstallLog))
            return RESULT_FAILURE;
        log_msg(MT_INFO, "TARVO Remove Successful, return Value is 0\n\n\n");
    }
    return RESULT_SUCCESS;
}

// Requests that need no run: they answer on the console alone, without the lock, the log or a
// temporary file. True when argv was one of them; status is then the exit status.
bool answerWithoutRun(int argc, char* argv[], int& status)
{
    const char* only = argc == 2 ? argv[1] : "";
    if (strcmp(only, "--version") == 0) {
        printf("TARVO %s %s (build %s)\n", TARVO_REMOVE_ONLY ? "uninstaller" : "installer", thisKitVersion(),
               TARVO_BUILD_ID);
    } else if (strcmp(only, "--help") == 0 || strcmp(only, "-h") == 0) {
        printUsage(stdout, "", argv[0], TARVO_REMOVE_ONLY);
    } else if (argc >= 2 && strcmp(argv[argc - 1], DISCOVER_JSON_WORD) == 0) {
        status = runJsonDiscovery(argc, argv, TARVO_REMOVE_ONLY);
        return true;
    } else {
        return false;
    }
    status = fflush(stdout) == 0 ? RESULT_SUCCESS : RESULT_FAILURE;
    return true;
}

// An exception, out of memory included, fails the run like any other failure, so that the caller
// still gets the closing message and status 3, and the lock and the temporary utility still go.
int runGuarded(int argc, char* argv[])
{
    try {
        return runRequest(argc, argv);
    } catch (const std::bad_alloc&) {
        log_msg(MT_ERROR, "Out of memory\n");
    } catch (const std::exception& e) {
        log_msg(MT_ERROR, "Unexpected error: %s\n", e.what());
    } catch (...) {
        log_msg(MT_ERROR, "Unexpected error\n");
    }
    return RESULT_FAILURE;
}

}  // namespace

int pseudo_main(int argc, char* argv[])
{
    int result = RESULT_FAILURE;
    if (answerWithoutRun(argc, argv, result))
        return result;
    {
        // The lock comes first, so that a refused run leaves the running run's log alone.
        // A refusal has been reported by lock_file, which alone knows why.
        AutoLock lock(LOCK_FILE_PATH);
        if (lock.gotLock) {
            remove_temp_install_log_file();
            noteRunProgram(TARVO_REMOVE_ONLY);
        }

        if (!write_temp_qzprofile())
            log_msg(MT_ERROR, "Failed to extract qzprofile\n");
        else if (lock.gotLock)
            result = runGuarded(argc, argv);

        if (result != RESULT_SUCCESS) {
            if (g_opts.installMode == INSTALL)
                log_msg(MT_ERROR, "Install unsuccessful, return value is %d\n\n\n", RESULT_FAILURE);
            else if (g_opts.installMode != UNKNOWN)
                log_msg(MT_ERROR, "Remove unsuccessful, return value is %d\n\n\n", RESULT_FAILURE);
        }
        if (lock.gotLock)
            recordRun(installModeName(g_opts.installMode), result);
        delete_temp_qzprofile();
    }
    fflush(stdout);
    return result;
}

unsigned int do_install(const std::string& installDir, const std::string& linkDir, const FileCollection& fcZipData,
                        const FileCollection& fcInstallLog)
{
    bool upgrade = decideUpgrade(installDir, fcZipData);

    std::string environ_section_contents;
    if (set_env_vars(linkDir, installDir, environ_section_contents) != 0)
        return 1;

    if (upgrade) {
        if (!installStructure(installDir, fcZipData, fcZipData.files))
            return 1;
        if (g_existingVersionValue != NO_VERSION && g_existingVersionValue < g_thisKitVersionValue &&
            !removeOldRSAFiles(installDir))
            return 1;
        if (!setExistingVersion(g_thisKitVersionString, installDir)) {
            log_msg(MT_ERROR, "Failed to set Existing Version value.\n");
            return 1;
        }
    }
    // What the earlier log lists and this kit no longer ships stays listed until it is gone, so that a run
    // killed anywhere leaves no file that the log does not name, and a later run finishes the job.
    const std::vector<FileResource> dropped = droppedFiles(fcInstallLog, fcZipData);
    FileCollection listed = fcZipData;
    listed.files.insert(listed.files.end(), dropped.begin(), dropped.end());
    if (!updateInstalledFilesLog(installDir, listed, environ_section_contents)) {
        log_msg(MT_ERROR, "Failed to update the installed files log.\n");
        return 1;
    }
    // A newer installed release keeps what it ships.
    if (!dropped.empty() && (g_existingVersionValue == NO_VERSION || g_existingVersionValue <= g_thisKitVersionValue)) {
        const std::vector<FileResource> remaining = removeDroppedFiles(installDir, dropped, fcZipData);
        listed.files.resize(fcZipData.files.size());
        listed.files.insert(listed.files.end(), remaining.begin(), remaining.end());
        if (remaining.size() < dropped.size() &&
            !updateInstalledFilesLog(installDir, listed, environ_section_contents)) {
            log_msg(MT_ERROR, "Failed to update the installed files log.\n");
            return 1;
        }
    }
    if (!addDependency(installDir)) {
        log_msg(MT_ERROR, "Failed to add dependency on TARVO\n");
        return 1;
    }
    return 0;
}

bool do_remove(const std::string& installDir, const std::string& linkDir, const FileCollection& fcInstallLog)
{
    (void)linkDir;  // the library directory is cleaned up by the file removal itself
    const char* caller = g_opts.caller.c_str();
    if (g_existingVersionValue == NO_VERSION) {
        // A removal interrupted after its records went left nothing but empty directories.
        LeftoverTree leftover = removeLeftoverTree(installDir);
        if (leftover == NO_LEFTOVER_TREE)
            log_msg(MT_ERROR, "Removal requested by %s, but there appears to be no installation.\n", caller);
        return leftover == LEFTOVER_TREE_REMOVED;
    }
    bool success = true;
    std::string version;
    if (!checkDependency(installDir, version)) {
        // A registry without dependants belongs to a removal that failed or was killed after the
        // last dependant left; any caller may finish it.
        if (getNumExistingDependencies(installDir) != 0) {
            log_msg(MT_ERROR, "Removal requested by %s which is not in dependency list.\n", caller);
            return false;
        }
    } else {
        log_msg(MT_INFO, "Removal requested by %s, version that they installed was %s\n", caller, version.c_str());
        if (removeDependency(installDir)) {
            log_msg(MT_INFO, "Dependency removed for caller %s.\n", caller);
        } else {
            log_msg(MT_ERROR, "Removal requested by %s.  Failed to remove their dependency.\n", caller);
            success = false;
        }
        int numValues = getNumExistingDependencies(installDir);
        if (numValues == -1) {
            log_msg(MT_ERROR, "Failed to determine if there are any remaining dependencies.\n");
            return false;
        }
        if (numValues > 0) {
            log_msg(MT_INFO, "There are %d remaining dependencies, so nothing will be removed.\n", numValues);
            return success;
        }
    }
    if (checkForExistingOldVersion(installDir))
        return false;
    log_msg(MT_INFO, "No remaining dependencies so TARVO will be removed.\n");
    if (!del_env_vars(installDir)) {
        log_msg(MT_ERROR, "Failed to remove environment variables, must be done manually.\n");
        success = false;
    }
    if (!removeFiles(installDir, fcInstallLog))
        return false;
    return success;
}

int main(int argc, char* argv[])
{
    // Line by line, so that progress and errors keep their order when both go to one pipe.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // Only the lock and the writing of the temporary utility run outside runGuarded; catching here
    // still unwinds them, so the lock file is released.
    try {
        return pseudo_main(argc, argv);
    } catch (...) {
        delete_temp_qzprofile();
        return RESULT_FAILURE;
    }
}
