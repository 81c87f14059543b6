#include "installdir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "log.h"
#include "qzprofile.h"
#include "types.h"

namespace {

// The probe's name is this program's own; one run at a time holds the lock, so a probe found at the
// name was left by a run that was killed or failed to remove it. So was an empty file of the name
// that earlier releases used.
const char PROBE_FILE[] = ".QZ_TARVO_Installer.probe";
const char OLD_PROBE_FILE[] = "kawabonka";
const char TEST_NAME[] = "ORVAN_test";
const uint64_t MIN_FREE_KIB = 17000;

// A variable counts as found when either source yields a value, even an empty one.
std::unique_ptr<std::string> lookupVariable(const char* name, SharedProfileLookup sharedLookup)
{
    if (g_opts.setenv != USER) {
        std::unique_ptr<std::string> shared = sharedLookup(name);
        if (shared)
            return shared;
    }
    const char* value = getenv(name);
    return value ? std::make_unique<std::string>(value) : nullptr;
}

// Removes a probe that an earlier run left in dir: only an empty regular file of ours with one link.
void removeLeftProbe(const std::string& dir, const char* name)
{
    std::string probe = dir + "/" + name;
    struct stat st;
    if (lstat(probe.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1 &&
        st.st_size == 0 && unlink(probe.c_str()) == 0)
        log_msg(MT_VV, "Removed %s, left by an earlier run\n", probe.c_str());
}

// Tries to create the probe file in dir. Anything else at the name (another user's file, a link, a
// device) is left in place, since it is not ours: a regular file there stands for the probe.
bool probeCreate(const std::string& dir)
{
    removeLeftProbe(dir, OLD_PROBE_FILE);
    removeLeftProbe(dir, PROBE_FILE);
    std::string probe = dir + "/" + PROBE_FILE;
    int fd = open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        close(fd);
        unlink(probe.c_str());  // should this fail, the next run removes it
        return true;
    }
    if (errno != EEXIST)
        return false;
    struct stat st;
    if (lstat(probe.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    fd = open(probe.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    // Creating a file needs write and search permission on the directory itself.
    return access(dir.empty() ? "/" : dir.c_str(), W_OK | X_OK) == 0;
}

bool checkFreeSpace(const std::string& dir)
{
    struct statvfs fs;
    if (statvfs(dir.c_str(), &fs) != 0) {
        log_msg(MT_ERROR, "Unable to perform Disk space check....but continuing anyway\n");
        return true;
    }
    // f_bfree includes the blocks reserved for the superuser.
    uint64_t freeKiB = uint64_t(fs.f_bsize / 1024) * uint64_t(fs.f_bfree);
    if (freeKiB > MIN_FREE_KIB) {
        log_msg(MT_INFO, "Disk space is available\n");
        return true;
    }
    log_msg(MT_ERROR, "Insufficient Disk space\n");
    return false;
}

}  // namespace

InstallDirChoice chooseInstallDir(const std::string& userSpecifiedDir, SharedProfileLookup sharedLookup)
{
    InstallDirChoice choice;
    auto decide = [&choice](InstallDirRule rule, MessageType type, const char* message) {
        choice.rule = rule;
        choice.messageType = type;
        choice.message = message;
        return choice;
    };
    auto use = [&choice](std::string installDir, std::string linkDir) {
        choice.usable = true;
        choice.installDir = std::move(installDir);
        choice.linkDir = std::move(linkDir);
    };
    if (std::unique_ptr<std::string> root = lookupVariable("QZSHCOMP", sharedLookup)) {
        // An empty QZSHCOMP is a deliberate setting: falling back to another source would install
        // somewhere the administrator did not ask for.
        if (root->empty())
            return decide(RULE_QZSHCOMP, MT_INFO, "Can not use install directory as specified by QZSHCOMP\n");
        use(*root + "/TARVO", *root + "/lib");
        return decide(RULE_QZSHCOMP, MT_INFO, "Using install directory as specified by QZSHCOMP\n");
    }
    if (std::unique_ptr<std::string> lib = lookupVariable("QZLIB", sharedLookup)) {
        size_t slash = lib->rfind('/');
        if (slash == std::string::npos)
            return decide(RULE_QZLIB, MT_ERROR,
                          "Can not use install directory specified by environment variable QZLIB\n");
        use(lib->substr(0, slash) + "/TARVO", *lib);
        return decide(RULE_QZLIB, MT_INFO, "Using install directory as specified by environment variable QZLIB\n");
    }
    if (userSpecifiedDir.empty()) {
        use(DEFAULT_INSTALL_DIR, DEFAULT_LINK_DIR);
        return decide(RULE_DEFAULT, MT_INFO, "Using default installation directory\n");
    }
    if (userSpecifiedDir.find('/') == std::string::npos)
        return decide(RULE_INSTDIR, MT_ERROR, "Can not use install directory specified by user\n");
    if (userSpecifiedDir.back() == '/')
        use(userSpecifiedDir + "TARVO", userSpecifiedDir + "lib");
    else
        use(userSpecifiedDir + "/TARVO", userSpecifiedDir + "/lib");
    return decide(RULE_INSTDIR, MT_INFO, "Using user specified install directory\n");
}

bool getInstallDir(const std::string& userSpecifiedDir, std::string& installDir, std::string& linkDir)
{
    InstallDirChoice choice = chooseInstallDir(userSpecifiedDir, get_env_var_from_temp_qzprofile);
    log_msg(choice.messageType, "%s", choice.message);
    if (!choice.usable)
        return false;
    installDir = choice.installDir;
    linkDir = choice.linkDir;
    return true;
}

bool Check_InstallDir_Attr(const std::string& installDir)
{
    log_msg(MT_INFO, "Checking for Permissions\n");

    std::string dir = installDir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos) {
        log_msg(MT_ERROR, "Installation directory is not proper \n");
        return false;
    }
    dir.erase(slash);
    std::string testPath = dir + "/" + TEST_NAME;

    // The probe goes into the nearest directory that exists, never into the install directory.
    struct stat st;
    while (stat((dir + "/").c_str(), &st) != 0) {
        log_msg(MT_VV, "Dir %s does not exist to check permission \n", (dir + "/").c_str());
        testPath = dir;
        slash = dir.rfind('/');
        if (slash == std::string::npos) {
            log_msg(MT_ERROR, "Installation directory is not proper \n");
            return false;
        }
        dir.erase(slash);
    }

    // The test path must be free, and stat must be able to say so (a directory without search
    // permission answers EACCES instead).
    bool passed = probeCreate(dir) && stat(testPath.c_str(), &st) != 0 && errno == ENOENT;
    if (!passed) {
        log_msg(MT_ERROR, "Check Permissions and relaunch installer\n");
        return false;
    }
    log_msg(MT_INFO, "Proper permissions are set for installation directory \n");

    if (g_opts.installMode == INSTALL && dir.find('/') != std::string::npos)
        return checkFreeSpace(dir);
    return true;
}
