#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "qzprofile.h"
#include "removal.h"
#include "testutil.h"
#include "versions.h"

using testutil::exists;

namespace {

const std::string kDefault = DEFAULT_INSTALL_DIR;
const std::string kRec = recordDir(kDefault);

void touch(const std::string& path)
{
    std::system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str());
    testutil::writeFile(path, "x");
}

size_t logPos(const std::string& text) { return testutil::readFile(LOG_FILE_PATH).find(text); }
bool logged(const std::string& text) { return logPos(text) != std::string::npos; }

class RemovalTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        g_opts.verbose = g_opts.veryverbose = true;
        std::system("rm -rf /opt/QZ");
        setVersion("5.2.4");
        // The tests read the log file; keep the console copy out of the test output.
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    void TearDown() override
    {
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        delete_temp_qzprofile();
    }
    static void setVersion(const std::string& v)
    {
        g_existingVersionString = v;
        g_existingVersionValue = getVersionValue(v);
    }
    // The seven payload files and both records on disk, the seven in the collection.
    static FileCollection installSeven(const std::string& installDir)
    {
        FileCollection fc;
        for (const char* name : {"lib/libtarvo.so", "lib/libtarvo_thread_posix.so", "lib/libqzopenssl_crypto.so",
                                 "lib/libqzopenssl_ssl.so", "tarvo/log/liblog_api.so", "tarvo/log/_tarvo_log.cfg",
                                 "uninstaller"}) {
            std::string rel = std::string(RECORD_SUBDIR) + "/" + name;
            touch(installDir + "/" + rel);
            fc.files.push_back(FileResource{rel, "", 0});
        }
        touch(filesDatPath(installDir));
        touch(installDbPath(installDir));
        return fc;
    }
    static void setProfileVariables()
    {
        ASSERT_EQ(write_temp_qzprofile(), 1);
        ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/opt/QZ/SharedComponents\""), 0);
        ASSERT_EQ(update_env_var_with_temp_qzprofile("QZLIB \"/opt/QZ/SharedComponents/lib\""), 0);
        g_opts.setenv = ALL;
    }
};

TEST_F(RemovalTest, LastProductGoesDeepestFirstWithProfileVariablesAndOptQZ)
{
    setProfileVariables();
    FileCollection fc = installSeven(kDefault);
    mkdir("/opt/QZ/SharedComponents/lib", 0755);  // an empty shared library directory goes too

    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists("/opt/QZ"));
    EXPECT_EQ(get_env_var_from_temp_qzprofile("QZSHCOMP"), nullptr);
    EXPECT_EQ(get_env_var_from_temp_qzprofile("QZLIB"), nullptr);
    EXPECT_FALSE(logged("Failed"));
    EXPECT_TRUE(logged("Removed file " + kRec + "/files.dat\n"));
    EXPECT_TRUE(logged("Removed file " + kRec + "/.installdb\n"));
    size_t last = 0;
    for (const char* d : {"/tarvo/log", "/tarvo", "/lib", ""}) {
        size_t at = logPos("Removed directory " + kRec + d + "\n");
        EXPECT_TRUE(at != std::string::npos && at > last) << d;
        last = at;
    }
}

TEST_F(RemovalTest, MissingFileIsOnlyNotedButAnUndeletableOneKeepsTheRecordsForARerun)
{
    FileCollection fc = installSeven(kDefault);
    std::remove((kRec + "/uninstaller").c_str());
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_TRUE(logged("File " + kRec + "/uninstaller is not present for deletion\n"));
    EXPECT_FALSE(logged("Failed"));

    // Quiet: the missing file leaves no trace; unlink of a non-empty directory fails and is reported.
    testutil::resetOptions();
    fc = installSeven(kDefault);
    const std::string section = std::string(SECTION_DELIMITER) + "Environment\nenv.usr.QZLIB.set=1\n";
    testutil::writeFile(filesDatPath(kDefault), "listed/files\n" + section);
    std::remove((kRec + "/uninstaller").c_str());
    touch(kRec + "/tarvo/cfg.d/keep");
    const std::string stuck = std::string(RECORD_SUBDIR) + "/tarvo/cfg.d";
    fc.files.push_back(FileResource{stuck, "", 0});
    EXPECT_FALSE(removeFiles(kDefault, fc));
    EXPECT_FALSE(logged("not present"));
    EXPECT_TRUE(logged("Failed to remove file " + kRec + "/tarvo/cfg.d, must be done manually.\n"));
    EXPECT_EQ(testutil::readFile(filesDatPath(kDefault)), stuck + "\n" + section);
    EXPECT_TRUE(exists(installDbPath(kDefault)));
    EXPECT_FALSE(exists(kRec + "/lib/libtarvo.so"));

    std::system(("rm -r '" + kRec + "/tarvo/cfg.d'").c_str());
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists("/opt/QZ"));
}

// A link where a directory should be is an error for the entries below it, never a way out;
// once it is gone, a rerun finishes.
TEST_F(RemovalTest, NoLinkInsideTheTreeLeadsOutOfIt)
{
    FileCollection fc = installSeven(kDefault);
    const std::string outside = testutil::freshDir("outside"), elsewhere = testutil::freshDir("elsewhere");
    touch(outside + "/victim");
    ASSERT_EQ(symlink(outside.c_str(), (kRec + "/lib/evil").c_str()), 0);
    fc.files.push_back(FileResource{std::string(RECORD_SUBDIR) + "/lib/evil/victim", "", 0});
    ASSERT_EQ(std::system(("mv '" + kRec + "/tarvo' '" + elsewhere + "/'").c_str()), 0);
    ASSERT_EQ(symlink((elsewhere + "/tarvo").c_str(), (kRec + "/tarvo").c_str()), 0);

    EXPECT_FALSE(removeFiles(kDefault, fc));
    EXPECT_TRUE(exists(outside + "/victim"));
    EXPECT_TRUE(exists(elsewhere + "/tarvo/log/liblog_api.so"));
    EXPECT_TRUE(exists(elsewhere + "/tarvo/log/_tarvo_log.cfg"));
    EXPECT_TRUE(logged("Failed to remove file " + kRec + "/lib/evil/victim, must be done manually.\n"));
    const std::string rec = std::string(RECORD_SUBDIR) + "/";
    EXPECT_EQ(testutil::readFile(filesDatPath(kDefault)),
              rec + "tarvo/log/liblog_api.so\n" + rec + "tarvo/log/_tarvo_log.cfg\n" + rec + "lib/evil/victim\n");

    std::remove((kRec + "/lib/evil").c_str());
    std::remove((kRec + "/tarvo").c_str());
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists("/opt/QZ"));
    EXPECT_TRUE(exists(outside + "/victim"));
    EXPECT_TRUE(exists(elsewhere + "/tarvo/log/liblog_api.so"));
}

TEST_F(RemovalTest, Version233NeverTouchesFilesDat)
{
    setVersion(LEGACY_VERSION);
    FileCollection fc = installSeven(kDefault);
    EXPECT_FALSE(removeFiles(kDefault, fc));
    EXPECT_TRUE(exists(filesDatPath(kDefault)));
    EXPECT_FALSE(exists(installDbPath(kDefault)));
    EXPECT_FALSE(logged("files.dat"));
}

TEST_F(RemovalTest, OtherProductInSharedComponentsKeepsProfileAndOptQZ)
{
    setProfileVariables();
    FileCollection fc = installSeven(kDefault);
    touch("/opt/QZ/SharedComponents/OTHER/file");
    mkdir("/opt/QZ/SharedComponents/bin", 0755);

    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists(kDefault));
    EXPECT_FALSE(exists("/opt/QZ/SharedComponents/bin"));  // empty, so it goes anyway
    EXPECT_TRUE(exists("/opt/QZ/SharedComponents/OTHER/file"));
    EXPECT_NE(get_env_var_from_temp_qzprofile("QZSHCOMP"), nullptr);
}

TEST_F(RemovalTest, NonDefaultInstallDirNeverTouchesOptQZ)
{
    const std::string dir = "/opt/QZ/Custom/TARVO";
    FileCollection fc = installSeven(dir);
    EXPECT_TRUE(removeFiles(dir, fc));
    EXPECT_FALSE(exists("/opt/QZ/Custom"));
    EXPECT_TRUE(exists("/opt/QZ"));
}

TEST_F(RemovalTest, LegacyLibraryIsRemovedUnderItsVersionedName)
{
    setVersion("2.3.1");
    FileCollection fc = installSeven(kDefault);
    fc.files.push_back(FileResource{"liborvan2.so", "", 0});
    touch(kDefault + "/liborvan2.3.1.so");
    touch(kDefault + "/liborvan2.so");
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists(kDefault + "/liborvan2.3.1.so"));
    EXPECT_TRUE(exists(kDefault + "/liborvan2.so"));
}

}  // namespace
