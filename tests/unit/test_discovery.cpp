#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log.h"
#include "options.h"
#include "qzprofile.h"
#include "testutil.h"

using testutil::readFile;

namespace {

const std::string START = "-----------Starting Discovery-----------\n\n";
const std::string OPENED = "Found & Opened .installdb\n";
const std::string HEADER = "Existing installations will be displayed as\ncaller Installed Version\n";
const std::string DONE = "-----------Discovery Complete-----------\n\n";

void makeRegistry(const std::string& root, const std::string& content)
{
    std::string dir = recordDir(root + "/TARVO");
    std::system(("mkdir -p '" + dir + "'").c_str());
    testutil::writeFile(dir + "/.installdb", content);
}

// Runs the report as the parser does (verbose forced on); returns the log file.
std::string discover(std::string* console = nullptr)
{
    std::remove(LOG_FILE_PATH);
    g_opts.verbose = true;
    testing::internal::CaptureStdout();
    runDiscovery();
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    g_opts.verbose = false;
    if (console)
        *console = out;
    return readFile(LOG_FILE_PATH);
}

std::string nonGlobal(const std::string& root)
{
    return "Found non-global installation of TARVO in " + root + "/TARVO.\n";
}

class DiscoveryTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        unsetenv("QZSHCOMP");
        write_temp_qzprofile();
        root = testutil::freshDir("disc");
    }
    void TearDown() override
    {
        delete_temp_qzprofile();
        unsetenv("QZSHCOMP");
    }
    std::string root;
};

TEST_F(DiscoveryTest, ReportsTheVersionLineThenTheDependantsUnderTheHeader)
{
    makeRegistry(root, "CurrentVersion 5.2.4\nappA 5.2.4\nappB 5.2.3");
    setenv("QZSHCOMP", root.c_str(), 1);
    std::string console;
    std::string log = discover(&console);
    EXPECT_EQ(log, START + nonGlobal(root) + OPENED + "CurrentVersion 5.2.4 \n" + HEADER + "appA 5.2.4 \nappB 5.2.3 \n" +
                       DONE);
    // Each message carries the console prefix once.
    EXPECT_EQ(console.substr(0, 8 + START.size()), "[TARVO] " + START);
    EXPECT_NE(console.find("[TARVO] appB 5.2.3 \n"), std::string::npos);
}

TEST_F(DiscoveryTest, ASingleLineHasNoHeaderAndAnEmptyLineEndsTheList)
{
    setenv("QZSHCOMP", root.c_str(), 1);
    makeRegistry(root, "CurrentVersion 5.2.4\n");
    EXPECT_EQ(discover(), START + nonGlobal(root) + OPENED + "CurrentVersion 5.2.4 \n" + DONE);

    makeRegistry(root, "CurrentVersion 5.2.4\na 1\n  \nb 1\n\nhidden 1\n");
    EXPECT_EQ(discover(), START + nonGlobal(root) + OPENED + "CurrentVersion 5.2.4 \n" + HEADER + "a 1 \n   \nb 1 \n" + DONE);

    makeRegistry(root, "CurrentVersion 5.2.4\n\nhidden 1\n");
    EXPECT_EQ(discover(), START + nonGlobal(root) + OPENED + "CurrentVersion 5.2.4 \n" + DONE);

    makeRegistry(root, "");
    EXPECT_EQ(discover(), START + nonGlobal(root) + OPENED + DONE);
}

TEST_F(DiscoveryTest, NothingFoundGivesOnlyOneLine)
{
    const std::string unable = "Unable to discover TARVO installation \n";
    EXPECT_EQ(discover(), unable);

    setenv("QZSHCOMP", root.c_str(), 1);
    EXPECT_EQ(discover(), unable);

    // A directory where the registry should be is no registry.
    std::system(("mkdir -p '" + installDbPath(root + "/TARVO") + "'").c_str());
    EXPECT_EQ(discover(), unable);
}

// The global candidate comes from the shared profile files, set here through the profile utility.
TEST_F(DiscoveryTest, TheSharedProfileIsLookedAtBeforeTheEnvironment)
{
    std::string global = root + "/global";
    std::string local = root + "/local";
    std::string arg = "QZSHCOMP \"" + global + "\"";
    if (update_env_var_with_temp_qzprofile(arg.c_str()) != 0)
        GTEST_SKIP() << "profile utility cannot set variables";
    makeRegistry(local, "CurrentVersion 5.2.4\nlocal 5.2.4\n");
    setenv("QZSHCOMP", local.c_str(), 1);

    // Without a registry below the global root the environment's root is reported.
    EXPECT_EQ(discover(), START + nonGlobal(local) + OPENED + "CurrentVersion 5.2.4 \n" + HEADER + "local 5.2.4 \n" + DONE);

    makeRegistry(global, "CurrentVersion 5.2.4\nglobal 5.2.4\n");
    EXPECT_EQ(discover(), START + "Found global installation of TARVO in " + global + "/TARVO.\n" + OPENED +
                              "CurrentVersion 5.2.4 \n" + HEADER + "global 5.2.4 \n" + DONE);
}

}  // namespace
