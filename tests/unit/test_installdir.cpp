#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "installdir.h"
#include "qzprofile.h"
#include "testutil.h"

using testutil::exists;
using testutil::readFile;
using testutil::writeFile;

namespace {

class InstallDirTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!getenv("TARVO_SANDBOX"))
            GTEST_SKIP() << "writes /opt and mounts file systems: run through tests/sandbox.sh";
        testutil::resetOptions();
        g_opts.verbose = g_opts.veryverbose = true;
        g_opts.setenv = USER;
        unsetenv("QZSHCOMP");
        unsetenv("QZLIB");
        std::system("rm -rf /opt/* /opt/.[!.]*");
    }
    void TearDown() override
    {
        if (!getenv("TARVO_SANDBOX"))
            return;
        unsetenv("QZSHCOMP");
        unsetenv("QZLIB");
    }
    bool contains(const std::string& text) { return readFile(LOG_FILE_PATH).find(text) != std::string::npos; }

    // Chooses the directory from a fresh log and reports it as "install|link" or "fail".
    std::string choose(const std::string& instdir)
    {
        std::remove(LOG_FILE_PATH);
        std::string install = "unset", link = "unset";
        if (!getInstallDir(instdir, install, link))
            return "fail";
        return install + "|" + link;
    }
};

TEST_F(InstallDirTest, SourcesInPriorityOrder)
{
    EXPECT_EQ(choose(""), "/opt/QZ/SharedComponents/TARVO|/opt/QZ/SharedComponents/lib");
    EXPECT_TRUE(contains("Using default installation directory\n"));
    EXPECT_EQ(choose("/data/"), "/data/TARVO|/data/lib");
    EXPECT_EQ(choose("/data"), "/data/TARVO|/data/lib");
    EXPECT_TRUE(contains("Using user specified install directory\n"));
    EXPECT_EQ(choose("data/x"), "data/x/TARVO|data/x/lib");
    EXPECT_EQ(choose("data"), "fail");
    EXPECT_TRUE(contains("Can not use install directory specified by user\n"));

    setenv("QZLIB", "/srv/shared/lib", 1);
    EXPECT_EQ(choose("/data"), "/srv/shared/TARVO|/srv/shared/lib");
    EXPECT_TRUE(contains("Using install directory as specified by environment variable QZLIB\n"));
    setenv("QZLIB", "lib", 1);
    EXPECT_EQ(choose("/data"), "fail");
    EXPECT_TRUE(contains("Can not use install directory specified by environment variable QZLIB\n"));
    setenv("QZLIB", "", 1);
    EXPECT_EQ(choose("/data"), "fail");

    setenv("QZSHCOMP", "/srv/shared", 1);
    EXPECT_EQ(choose("/data"), "/srv/shared/TARVO|/srv/shared/lib");
    EXPECT_TRUE(contains("Using install directory as specified by QZSHCOMP\n"));
    setenv("QZLIB", "/srv/other/lib", 1);
    setenv("QZSHCOMP", "", 1);  // set but empty: no fallback to QZLIB or instdir=
    EXPECT_EQ(choose("/data"), "fail");
    EXPECT_TRUE(contains("Can not use install directory as specified by QZSHCOMP\n"));
}

TEST_F(InstallDirTest, SharedProfileFilesAreConsultedExceptForEnvUser)
{
    ASSERT_EQ(write_temp_qzprofile(), 1);
    const char* name = give_temp_qzprofile_name();
    ASSERT_NE(name, nullptr);
    // QZPROFILE_OVERRIDE keeps the utility from handing over to an installed copy.
    std::string tmp = name;
    ASSERT_EQ(std::system(("QZPROFILE_OVERRIDE=1 Update_Profile=0 sh " + tmp +
                           " -s QZSHCOMP /srv/profile >/dev/null 2>&1").c_str()),
              0);
    setenv("QZSHCOMP", "/srv/process", 1);
    g_opts.setenv = NONE;
    EXPECT_EQ(choose(""), "/srv/profile/TARVO|/srv/profile/lib");
    g_opts.setenv = ALL;
    EXPECT_EQ(choose(""), "/srv/profile/TARVO|/srv/profile/lib");
    g_opts.setenv = USER;
    EXPECT_EQ(choose(""), "/srv/process/TARVO|/srv/process/lib");
    std::system(("QZPROFILE_OVERRIDE=1 sh " + tmp + " -d QZSHCOMP >/dev/null 2>&1").c_str());
    delete_temp_qzprofile();
}

TEST_F(InstallDirTest, MissingLevelsAreWalkedUpToTheNearestExistingDirectory)
{
    g_opts.installMode = REMOVE;
    EXPECT_TRUE(Check_InstallDir_Attr("/opt/QZ/SharedComponents/TARVO"));
    std::string log = readFile(LOG_FILE_PATH);
    EXPECT_NE(log.find("Dir /opt/QZ/SharedComponents/ does not exist to check permission \n"
                       "Dir /opt/QZ/ does not exist to check permission \n"),
              std::string::npos);
    EXPECT_NE(log.find("Proper permissions are set for installation directory \n"), std::string::npos);
    EXPECT_EQ(log.find("Disk space"), std::string::npos);  // never checked for a removal
    EXPECT_FALSE(exists("/opt/kawabonka"));

    EXPECT_TRUE(Check_InstallDir_Attr("/opt/QZ/SharedComponents/TARVO/"));  // trailing "/" ignored
    EXPECT_FALSE(Check_InstallDir_Attr("nowhere/TARVO"));
    EXPECT_TRUE(contains("Installation directory is not proper \n"));
}

TEST_F(InstallDirTest, OccupiedTestPathFailsTheProbe)
{
    std::system("mkdir -p /opt/QZ/SharedComponents");
    writeFile("/opt/QZ/SharedComponents/ORVAN_test", "");
    EXPECT_FALSE(Check_InstallDir_Attr("/opt/QZ/SharedComponents/TARVO"));
    EXPECT_TRUE(contains("Check Permissions and relaunch installer\n"));
    EXPECT_FALSE(exists("/opt/QZ/SharedComponents/kawabonka"));

    std::remove("/opt/QZ/SharedComponents/ORVAN_test");
    EXPECT_TRUE(Check_InstallDir_Attr("/opt/QZ/SharedComponents/TARVO"));
}

TEST_F(InstallDirTest, PlantedLinkAtTheProbeNameIsNeverFollowed)
{
    writeFile("/tmp/victim", "keep\n");
    ASSERT_EQ(symlink("/tmp/victim", "/opt/kawabonka"), 0);
    ASSERT_EQ(symlink("/tmp/nothing-here", "/tmp/kawabonka"), 0);
    EXPECT_FALSE(Check_InstallDir_Attr("/opt/QZ/TARVO"));
    EXPECT_FALSE(Check_InstallDir_Attr("/tmp/tarvo-nowhere/TARVO"));  // probes in /tmp itself
    EXPECT_EQ(readFile("/tmp/victim"), "keep\n");
    EXPECT_FALSE(exists("/tmp/nothing-here"));
    std::remove("/tmp/kawabonka");

    // A regular file of that name is someone's: the probe may use it but leaves it in place.
    std::remove("/opt/kawabonka");
    writeFile("/opt/kawabonka", "theirs");
    EXPECT_TRUE(Check_InstallDir_Attr("/opt/QZ/TARVO"));
    EXPECT_EQ(readFile("/opt/kawabonka"), "theirs");
}

TEST_F(InstallDirTest, UnprivilegedUserCannotProbeUnderOpt)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        _exit(Check_InstallDir_Attr("/opt/QZ/SharedComponents/TARVO") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_FALSE(exists("/opt/kawabonka"));
}

// A tmpfs of known size filled so that exactly freeKiB remain for the check.
class FreeSpaceTest : public InstallDirTest {
protected:
    const std::string mnt = "/tmp/fs";
    void SetUp() override
    {
        InstallDirTest::SetUp();
        if (IsSkipped())
            return;
        std::system(("mkdir -p " + mnt).c_str());
        ASSERT_EQ(mount("tarvo-space", mnt.c_str(), "tmpfs", 0, "size=24m"), 0) << strerror(errno);
    }
    void TearDown() override
    {
        if (getenv("TARVO_SANDBOX"))
            umount2(mnt.c_str(), MNT_DETACH);
        InstallDirTest::TearDown();
    }
    static uint64_t freeKiB(const std::string& path)
    {
        struct statvfs fs;
        return statvfs(path.c_str(), &fs) == 0 ? uint64_t(fs.f_bsize / 1024) * fs.f_bfree : 0;
    }
    void leaveFree(uint64_t kib)
    {
        int fd = open((mnt + "/filler").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        off_t size = 0;
        for (int i = 0; i < 8 && freeKiB(mnt) != kib; ++i) {
            size += off_t(int64_t(freeKiB(mnt)) - int64_t(kib)) * 1024;
            ASSERT_EQ(ftruncate(fd, 0), 0);
            ASSERT_EQ(posix_fallocate(fd, 0, size), 0);
        }
        close(fd);
        ASSERT_EQ(freeKiB(mnt), kib);
    }
};

TEST_F(FreeSpaceTest, ThresholdIsMoreThan17000KiB)
{
    struct statvfs fs;
    ASSERT_EQ(statvfs(mnt.c_str(), &fs), 0);
    uint64_t step = fs.f_bsize / 1024;  // the finest amount of free space this file system can show

    g_opts.installMode = INSTALL;
    leaveFree(17000);
    EXPECT_FALSE(Check_InstallDir_Attr(mnt + "/TARVO"));
    EXPECT_TRUE(contains("Insufficient Disk space\n"));

    leaveFree(17000 + step);
    std::remove(LOG_FILE_PATH);
    EXPECT_TRUE(Check_InstallDir_Attr(mnt + "/TARVO"));
    EXPECT_TRUE(contains("Disk space is available\n"));

    leaveFree(100);
    std::remove(LOG_FILE_PATH);
    g_opts.installMode = REMOVE;
    EXPECT_TRUE(Check_InstallDir_Attr(mnt + "/TARVO"));
    g_opts.installMode = FORCEREMOVE;
    EXPECT_TRUE(Check_InstallDir_Attr(mnt + "/TARVO"));
    EXPECT_FALSE(contains("Disk space"));
}

}  // namespace
