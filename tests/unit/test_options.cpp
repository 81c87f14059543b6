// The command line, the log, the discovery report, and the choice and probe of the install directory.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "installdir.h"
#include "log.h"
#include "options.h"
#include "qzprofile.h"
#include "testutil.h"

using namespace testutil;
using Args = std::vector<std::string>;

namespace {

bool parse(Args args)
{
    resetOptions();
    args.insert(args.begin(), "/opt/kit/tarvo_setup");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    return parseCommandLine(int(argv.size()), argv.data());
}

// Planted in the shared /tmp: a link to another file, and a FIFO that has a reader.
TEST(Log, PlantedLinkOrFifoAtItsNameIsNeverWritten)
{
    resetOptions();
    writeFile("/tmp/victim", "keep\n");
    ASSERT_EQ(symlink("/tmp/victim", LOG_FILE_PATH), 0);
    log_msg(MT_ERROR, "planted\n");
    EXPECT_EQ(readFile("/tmp/victim"), "keep\n");
    resetOptions();
    ASSERT_EQ(mkfifo(LOG_FILE_PATH, 0666), 0);
    int reader = open(LOG_FILE_PATH, O_RDONLY | O_NONBLOCK);
    log_msg(MT_ERROR, "planted\n");
    char c;
    EXPECT_LE(read(reader, &c, 1), 0);
    close(reader);
}

TEST(Options, CallerLimitsAndTheLastValueWins)
{
    const std::pair<Args, std::string> rejected[] = {
        {{"install", "caller=caf\xc3\xa9"}, "Caller contains non supported characters \n"},
        {{"install", "caller=" + std::string(300, 'x') + "!"}, "Caller contains non supported characters \n"},
        {{"install", "caller=" + std::string(256, 'c')}, "Caller cannot contain more than 255 characters\n"},
    };
    for (const auto& [args, message] : rejected) {
        EXPECT_FALSE(parse(args)) << message;
        EXPECT_EQ(readFile(LOG_FILE_PATH), message);
    }
    // A verbosity word anywhere counts, even after the word that fails.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    parse({"install", "Verbose", "verbose"});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[TARVO] Unexpected command-line parameter: Verbose\n");

    const std::tuple<Args, std::string, std::string, SetEnv, InstallMode> accepted[] = {
        {{"forceremove", "env=all", "instdir=/a b/c", "caller=x"}, "x", "/a b/c", ALL, FORCEREMOVE},
        {{"remove", "verbose", "caller=app", "env=user", "instdir=/a", "instdir=/b"}, "app", "/b", USER, REMOVE},
        {{"install", "caller=" + std::string(255, 'c')}, std::string(255, 'c'), "", NONE, INSTALL},
        {{"caller=A-z_[09]()*&$ x", "install"}, "A-z_[09]()*&$ x", "", NONE, INSTALL},
        {{"install", "caller=app", "callerX"}, "app", "", NONE, INSTALL},  // re-checks the caller already given
    };
    for (const auto& [args, caller, dir, env, mode] : accepted) {
        EXPECT_TRUE(parse(args)) << testing::PrintToString(args);
        EXPECT_EQ(std::tie(g_opts.caller, g_opts.installDir, g_opts.setenv, g_opts.installMode),
                  std::tie(caller, dir, env, mode));
    }
}

void start(InstallMode mode)
{
    resetOptions();
    g_opts.verbose = g_opts.veryverbose = true;
    g_opts.installMode = mode;
    std::system("rm -rf /opt/* /opt/.[!.]*");
}

std::string choose(const std::string& instdir)
{
    std::remove(LOG_FILE_PATH);
    std::string install, link;
    return getInstallDir(instdir, install, link) ? install + "|" + link : "fail";
}

TEST(InstallDir, SourcesInPriorityOrder)
{
    start(INSTALL);
    g_opts.setenv = USER;
    // QZSHCOMP, then QZLIB, then instdir=; set but empty still counts as chosen.
    const struct { const char *shcomp, *lib, *instdir, *chosen, *message; } rows[] = {
        {nullptr, nullptr, "", "/opt/QZ/SharedComponents/TARVO|/opt/QZ/SharedComponents/lib", "Using default installation directory\n"},
        {nullptr, nullptr, "/data/", "/data/TARVO|/data/lib", "Using user specified install directory\n"},
        {nullptr, nullptr, "data", "fail", "Can not use install directory specified by user\n"},
        {nullptr, "/srv/shared/lib", "/data", "/srv/shared/TARVO|/srv/shared/lib", "Using install directory as specified by environment variable QZLIB\n"},
        {nullptr, "lib", "/data", "fail", "Can not use install directory specified by environment variable QZLIB\n"},
        {"/srv/shared", "lib", "/data", "/srv/shared/TARVO|/srv/shared/lib", "Using install directory as specified by QZSHCOMP\n"},
        {"", "/srv/other/lib", "/data", "fail", "Can not use install directory as specified by QZSHCOMP\n"},
    };
    for (const auto& row : rows) {
        row.shcomp ? setenv("QZSHCOMP", row.shcomp, 1) : unsetenv("QZSHCOMP");
        row.lib ? setenv("QZLIB", row.lib, 1) : unsetenv("QZLIB");
        EXPECT_EQ(choose(row.instdir), row.chosen) << row.instdir;
        EXPECT_TRUE(logged(row.message)) << row.message;
    }
    unsetenv("QZLIB");

    // The shared profile files count for every mode but env=user, which reads the process's own.
    ASSERT_EQ(write_temp_qzprofile(), 1);
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/srv/profile\""), 0);
    setenv("QZSHCOMP", "/srv/process", 1);
    for (SetEnv mode : {NONE, ALL, USER}) {
        g_opts.setenv = mode;
        EXPECT_EQ(choose(""), mode == USER ? "/srv/process/TARVO|/srv/process/lib" : "/srv/profile/TARVO|/srv/profile/lib");
    }
}

// The probe writes its test file in the nearest existing directory, through no link and only as root.
TEST(InstallDir, ProbeWalksUpToAnExistingDirectoryAndNeverFollowsALink)
{
    start(REMOVE);
    EXPECT_TRUE(Check_InstallDir_Attr("/opt/QZ/SharedComponents/TARVO/"));
    EXPECT_TRUE(logged("Proper permissions are set for installation directory \n") && !exists("/opt/.QZ_TARVO_Installer.probe"));
    EXPECT_TRUE(!Check_InstallDir_Attr("nowhere/TARVO") && logged("Installation directory is not proper \n"));

    std::system("mkdir -p /opt/QZ/SharedComponents && touch /opt/QZ/SharedComponents/ORVAN_test");
    EXPECT_FALSE(Check_InstallDir_Attr("/opt/QZ/SharedComponents/TARVO"));
    EXPECT_TRUE(logged("Check Permissions and relaunch installer\n") && !exists("/opt/QZ/SharedComponents/.QZ_TARVO_Installer.probe"));
    std::system("rm -rf /opt/QZ");

    writeFile("/tmp/victim", "keep\n");
    ASSERT_EQ(symlink("/tmp/victim", "/opt/.QZ_TARVO_Installer.probe") + symlink("/tmp/nothing-here", "/tmp/.QZ_TARVO_Installer.probe"), 0);
    EXPECT_FALSE(Check_InstallDir_Attr("/opt/QZ/TARVO"));
    EXPECT_FALSE(Check_InstallDir_Attr("/tmp/tarvo-nowhere/TARVO"));  // probes in /tmp itself
    EXPECT_TRUE(readFile("/tmp/victim") == "keep\n" && !exists("/tmp/nothing-here"));
    // A regular file of that name is someone's: the probe may use it but leaves it in place.
    std::system("rm /tmp/.QZ_TARVO_Installer.probe /opt/.QZ_TARVO_Installer.probe && echo theirs >/opt/.QZ_TARVO_Installer.probe");
    EXPECT_TRUE(Check_InstallDir_Attr("/opt/QZ/TARVO") && readFile("/opt/.QZ_TARVO_Installer.probe") == "theirs\n");
    std::remove("/opt/.QZ_TARVO_Installer.probe");

    pid_t child = fork();
    if (child == 0)
        _exit(setgroups(0, nullptr) || setgid(65534) || setuid(65534) ? 2 : Check_InstallDir_Attr("/opt/QZ/TARVO"));
    EXPECT_TRUE(exitCodeOf(child) == 0 && !exists("/opt/.QZ_TARVO_Installer.probe")) << "an unprivileged user cannot probe under /opt";
}

TEST(InstallDir, InstallNeedsMoreThan17000KiBFree)
{
    start(INSTALL);
    std::system("mkdir -p /tmp/fs");
    // An empty tmpfs has its whole size free, in pages of 4 KiB.
    const std::tuple<InstallMode, const char*, const char*> rows[] = {
        {INSTALL, "size=17000k", "Insufficient Disk space\n"}, {INSTALL, "size=17004k", "Disk space is available\n"}, {REMOVE, "size=4k", nullptr}};
    for (const auto& [mode, size, message] : rows) {
        ASSERT_EQ(mount("tarvo-space", "/tmp/fs", "tmpfs", 0, size), 0);
        std::remove(LOG_FILE_PATH);
        g_opts.installMode = mode;
        EXPECT_EQ(Check_InstallDir_Attr("/tmp/fs/TARVO"), std::string(size) != "size=17000k") << size;
        EXPECT_TRUE(message ? logged(message) : !logged("Disk space")) << size;
        umount("/tmp/fs");
    }
}

}  // namespace
