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

void setVersion(const std::string& v)
{
    g_existingVersionString = v;
    g_existingVersionValue = getVersionValue(v);
}

// A fresh verbose run over three payload files and both records, on disk and in the collection.
FileCollection installThree(const std::string& installDir)
{
    resetOptions();
    g_opts.verbose = g_opts.veryverbose = true;
    setVersion("5.2.4");
    FileCollection fc;
    for (const char* name : {"lib/libtarvo.so", "tarvo/log/liblog_api.so", "uninstaller"}) {
        touch(installDir + "/" + kSub + name);
        fc.files.push_back(FileResource{kSub + name, "", 0});
    }
    touch(filesDatPath(installDir));
    touch(installDbPath(installDir));
    return fc;
}

// The last removal with another product beside it keeps /opt/QZ and the profile variables (the
// last product's own removal is a whole-kit test); an empty shared directory goes anyway.
TEST(Removal, OtherProductInSharedComponentsKeepsProfileAndOptQZ)
{
    std::filesystem::remove_all("/opt/QZ");
    FileCollection fc = installThree(kDefault);
    ASSERT_EQ(write_temp_qzprofile(), 1);
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/opt/QZ/SharedComponents\""), 0);
    g_opts.setenv = ALL;
    std::filesystem::create_directories("/opt/QZ/SharedComponents/lib");
    touch("/opt/QZ/SharedComponents/OTHER/file");
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists(kDefault) || exists("/opt/QZ/SharedComponents/lib") || logged("Failed"));
    EXPECT_TRUE(exists("/opt/QZ/SharedComponents/OTHER/file"));
    EXPECT_NE(get_env_var_from_temp_qzprofile("QZSHCOMP"), nullptr);
    delete_temp_qzprofile();
    EXPECT_TRUE(logged("Removed file " + kRec + "/files.dat\n") && logged("Removed file " + kRec + "/.installdb\n"));
    size_t last = 0;  // deepest first
    for (const char* d : {"/tarvo/log", "/tarvo", "/lib", ""}) {
        size_t at = readFile(LOG_FILE_PATH).find("Removed directory " + kRec + d + "\n");
        EXPECT_TRUE(at != std::string::npos && at > last) << d;
        last = at;
    }

    const std::string custom = "/opt/QZ/Custom/TARVO";  // elsewhere, /opt/QZ is never touched
    std::filesystem::remove_all("/opt/QZ");
    fc = installThree(custom);
    EXPECT_TRUE(removeFiles(custom, fc));
    EXPECT_TRUE(!exists("/opt/QZ/Custom") && exists("/opt/QZ"));
}

// A link where a directory should be is an error for the entries below it, never a way out;
// once it is gone, a rerun finishes.
TEST(Removal, NoLinkInsideTheTreeLeadsOutOfIt)
{
    std::filesystem::remove_all("/opt/QZ");
    FileCollection fc = installThree(kDefault);
    const std::string outside = freshDir("outside"), elsewhere = freshDir("elsewhere");
    touch(outside + "/victim");
    ASSERT_EQ(symlink(outside.c_str(), (kRec + "/lib/evil").c_str()), 0);
    fc.files.push_back(FileResource{kSub + "lib/evil/victim", "", 0});
    std::remove((kRec + "/uninstaller").c_str());  // missing: only noted
    ASSERT_EQ(std::system(("mv '" + kRec + "/tarvo' '" + elsewhere + "/'").c_str()), 0);
    ASSERT_EQ(symlink((elsewhere + "/tarvo").c_str(), (kRec + "/tarvo").c_str()), 0);

    EXPECT_FALSE(removeFiles(kDefault, fc));
    EXPECT_TRUE(logged("Failed to remove file " + kRec + "/lib/evil/victim, must be done manually.\n"));
    EXPECT_TRUE(logged("File " + kRec + "/uninstaller is not present for deletion\n"));
    EXPECT_EQ(readFile(filesDatPath(kDefault)), kSub + "tarvo/log/liblog_api.so\n" + kSub + "lib/evil/victim\n");
    std::remove((kRec + "/lib/evil").c_str());
    std::remove((kRec + "/tarvo").c_str());
    EXPECT_TRUE(removeFiles(kDefault, fc) && !exists("/opt/QZ"));
    EXPECT_TRUE(exists(outside + "/victim") && exists(elsewhere + "/tarvo/log/liblog_api.so"));
}

TEST(Removal, LegacyVersionsKeepTheirOwnRecordsAndLibraryName)
{
    std::filesystem::remove_all("/opt/QZ");
    FileCollection fc = installThree(kDefault);
    setVersion(LEGACY_VERSION);  // never touches files.dat
    EXPECT_FALSE(removeFiles(kDefault, fc));
    EXPECT_TRUE(exists(filesDatPath(kDefault)) && !exists(installDbPath(kDefault)) && !logged("files.dat"));

    fc = installThree(kDefault);
    setVersion("2.3.1");
    fc.files.push_back(FileResource{"liborvan2.so", "", 0});
    touch(kDefault + "/liborvan2.3.1.so");
    touch(kDefault + "/liborvan2.so");
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_TRUE(!exists(kDefault + "/liborvan2.3.1.so") && exists(kDefault + "/liborvan2.so"));
}

}  // namespace
