#include <gtest/gtest.h>

#include <filesystem>

#include "qzprofile.h"
#include "removal.h"
#include "testutil.h"
#include "versions.h"

using namespace testutil;

namespace {

const std::string kDefault = DEFAULT_INSTALL_DIR, kRec = recordDir(kDefault), kSub = std::string(RECORD_SUBDIR) + "/";

void touch(const std::string& path)
{
    std::filesystem::create_directories(path.substr(0, path.rfind('/')));
    writeFile(path, "x");
}

size_t logPos(const std::string& text) { return readFile(LOG_FILE_PATH).find(text); }
bool logged(const std::string& text) { return logPos(text) != std::string::npos; }

class RemovalTest : public testing::Test {
protected:
    void SetUp() override
    {
        resetOptions();
        g_opts.verbose = g_opts.veryverbose = true;
        std::filesystem::remove_all("/opt/QZ");
        setVersion("5.2.4");
        testing::internal::CaptureStderr();  // the log file is read; keep its console copy out
    }
    void TearDown() override
    {
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
        for (const char* name : {"lib/libtarvo.so", "lib/libtarvo_thread_posix.so", "lib/libqzopenssl_crypto.so", "lib/libqzopenssl_ssl.so",
                                 "tarvo/log/liblog_api.so", "tarvo/log/_tarvo_log.cfg", "uninstaller"}) {
            touch(installDir + "/" + kSub + name);
            fc.files.push_back(FileResource{kSub + name, "", 0});
        }
        touch(filesDatPath(installDir));
        touch(installDbPath(installDir));
        return fc;
    }
};

// The last product removes the profile variables and /opt/QZ, unless another product still lives there.
TEST_F(RemovalTest, LastProductGoesDeepestFirstWithProfileVariablesAndOptQZ)
{
    for (bool other : {false, true}) {
        SCOPED_TRACE(other);
        ASSERT_EQ(write_temp_qzprofile(), 1);
        ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/opt/QZ/SharedComponents\""), 0);
        ASSERT_EQ(update_env_var_with_temp_qzprofile("QZLIB \"/opt/QZ/SharedComponents/lib\""), 0);
        g_opts.setenv = ALL;
        std::remove(LOG_FILE_PATH);
        FileCollection fc = installSeven(kDefault);
        std::filesystem::create_directories("/opt/QZ/SharedComponents/lib");  // empty, so it goes too
        if (other)
            touch("/opt/QZ/SharedComponents/OTHER/file");
        EXPECT_TRUE(removeFiles(kDefault, fc));
        EXPECT_EQ(exists("/opt/QZ"), other);
        EXPECT_FALSE(exists("/opt/QZ/SharedComponents/lib"));
        EXPECT_EQ(get_env_var_from_temp_qzprofile("QZSHCOMP") != nullptr, other);
        EXPECT_EQ(get_env_var_from_temp_qzprofile("QZLIB") != nullptr, other);
        EXPECT_FALSE(logged("Failed"));
        EXPECT_TRUE(logged("Removed file " + kRec + "/files.dat\n") && logged("Removed file " + kRec + "/.installdb\n"));
        size_t last = 0;
        for (const char* d : {"/tarvo/log", "/tarvo", "/lib", ""}) {
            size_t at = logPos("Removed directory " + kRec + d + "\n");
            EXPECT_TRUE(at != std::string::npos && at > last) << d;
            last = at;
        }
        std::filesystem::remove_all("/opt/QZ");
    }

    const std::string custom = "/opt/QZ/Custom/TARVO";  // elsewhere, /opt/QZ is never touched
    FileCollection fc = installSeven(custom);
    EXPECT_TRUE(removeFiles(custom, fc));
    EXPECT_FALSE(exists("/opt/QZ/Custom"));
    EXPECT_TRUE(exists("/opt/QZ"));
}

TEST_F(RemovalTest, MissingFileIsOnlyNotedButAnUndeletableOneKeepsTheRecordsForARerun)
{
    FileCollection fc = installSeven(kDefault);
    std::remove((kRec + "/uninstaller").c_str());
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_TRUE(logged("File " + kRec + "/uninstaller is not present for deletion\n"));

    // Quiet: the missing file leaves no trace; unlink of a non-empty directory fails and is reported.
    resetOptions();
    fc = installSeven(kDefault);
    const std::string section = std::string(SECTION_DELIMITER) + "Environment\nenv.usr.QZLIB.set=1\n";
    writeFile(filesDatPath(kDefault), "listed/files\n" + section);
    std::remove((kRec + "/uninstaller").c_str());
    touch(kRec + "/tarvo/cfg.d/keep");
    fc.files.push_back(FileResource{kSub + "tarvo/cfg.d", "", 0});
    EXPECT_FALSE(removeFiles(kDefault, fc));
    EXPECT_FALSE(logged("not present"));
    EXPECT_TRUE(logged("Failed to remove file " + kRec + "/tarvo/cfg.d, must be done manually.\n"));
    EXPECT_EQ(readFile(filesDatPath(kDefault)), kSub + "tarvo/cfg.d\n" + section);
    EXPECT_TRUE(exists(installDbPath(kDefault)));
    EXPECT_FALSE(exists(kRec + "/lib/libtarvo.so"));
    std::filesystem::remove_all(kRec + "/tarvo/cfg.d");
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists("/opt/QZ"));
}

// A link where a directory should be is an error for the entries below it, never a way out;
// once it is gone, a rerun finishes.
TEST_F(RemovalTest, NoLinkInsideTheTreeLeadsOutOfIt)
{
    FileCollection fc = installSeven(kDefault);
    const std::string outside = freshDir("outside"), elsewhere = freshDir("elsewhere");
    touch(outside + "/victim");
    ASSERT_EQ(symlink(outside.c_str(), (kRec + "/lib/evil").c_str()), 0);
    fc.files.push_back(FileResource{kSub + "lib/evil/victim", "", 0});
    ASSERT_EQ(std::system(("mv '" + kRec + "/tarvo' '" + elsewhere + "/'").c_str()), 0);
    ASSERT_EQ(symlink((elsewhere + "/tarvo").c_str(), (kRec + "/tarvo").c_str()), 0);

    EXPECT_FALSE(removeFiles(kDefault, fc));
    EXPECT_TRUE(logged("Failed to remove file " + kRec + "/lib/evil/victim, must be done manually.\n"));
    EXPECT_EQ(readFile(filesDatPath(kDefault)), kSub + "tarvo/log/liblog_api.so\n" + kSub + "tarvo/log/_tarvo_log.cfg\n" + kSub + "lib/evil/victim\n");
    std::remove((kRec + "/lib/evil").c_str());
    std::remove((kRec + "/tarvo").c_str());
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists("/opt/QZ"));
    EXPECT_TRUE(exists(outside + "/victim") && exists(elsewhere + "/tarvo/log/liblog_api.so") && exists(elsewhere + "/tarvo/log/_tarvo_log.cfg"));
}

TEST_F(RemovalTest, LegacyVersionsKeepTheirOwnRecordsAndLibraryName)
{
    setVersion(LEGACY_VERSION);  // never touches files.dat
    FileCollection fc = installSeven(kDefault);
    EXPECT_FALSE(removeFiles(kDefault, fc));
    EXPECT_TRUE(exists(filesDatPath(kDefault)));
    EXPECT_FALSE(exists(installDbPath(kDefault)));
    EXPECT_FALSE(logged("files.dat"));

    setVersion("2.3.1");
    fc = installSeven(kDefault);
    fc.files.push_back(FileResource{"liborvan2.so", "", 0});
    touch(kDefault + "/liborvan2.3.1.so");
    touch(kDefault + "/liborvan2.so");
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists(kDefault + "/liborvan2.3.1.so"));
    EXPECT_TRUE(exists(kDefault + "/liborvan2.so"));
}

}  // namespace
