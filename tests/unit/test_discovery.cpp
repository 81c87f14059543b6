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

const std::string HEADER = "Existing installations will be displayed as\ncaller Installed Version\n";

void makeRegistry(const std::string& root, const std::string& content)
{
    std::string dir = recordDir(root + "/TARVO");
    std::system(("mkdir -p '" + dir + "'").c_str());
    testutil::writeFile(dir + "/.installdb", content);
}

// Runs the report as the parser does (verbose forced on); returns the log file.
std::string discover()
{
    std::remove(LOG_FILE_PATH);
    g_opts.verbose = true;
    testing::internal::CaptureStdout();
    runDiscovery();
    testing::internal::GetCapturedStdout();
    g_opts.verbose = false;
    return readFile(LOG_FILE_PATH);
}

// The whole report for a registry below root whose lines come out as body.
std::string report(const std::string& root, const std::string& body, bool global = false)
{
    return "-----------Starting Discovery-----------\n\nFound " + std::string(global ? "" : "non-") +
           "global installation of TARVO in " + root + "/TARVO.\nFound & Opened .installdb\n" + body +
           "-----------Discovery Complete-----------\n\n";
}

class DiscoveryTest : public testing::Test {
protected:
    void SetUp() override { unsetenv("QZSHCOMP"); write_temp_qzprofile(); }
    void TearDown() override { delete_temp_qzprofile(); }
    std::string root = testutil::freshDir("disc");
};

TEST_F(DiscoveryTest, NothingFoundIsOneLineAndAFoundRegistryIsListedUntilAnEmptyLine)
{
    const std::string unable = "Unable to discover TARVO installation \n";
    EXPECT_EQ(discover(), unable);
    setenv("QZSHCOMP", root.c_str(), 1);
    EXPECT_EQ(discover(), unable);
    // A directory where the registry should be is no registry.
    std::string db = installDbPath(root + "/TARVO");
    std::system(("mkdir -p '" + db + "'").c_str());
    EXPECT_EQ(discover(), unable);
    rmdir(db.c_str());

    const std::pair<std::string, std::string> rows[] = {
        {"", ""},
        {"CurrentVersion 5.2.4\n\nhidden 1\n", "CurrentVersion 5.2.4 \n"},
        // A line of blanks does not end the list; the last line needs no line end.
        {"CurrentVersion 5.2.4\na 1\n  \nb 1\n\nhidden 1\n", "CurrentVersion 5.2.4 \n" + HEADER + "a 1 \n   \nb 1 \n"},
        {"CurrentVersion 5.2.4\nappA 5.2.4\nappB 5.2.3", "CurrentVersion 5.2.4 \n" + HEADER + "appA 5.2.4 \nappB 5.2.3 \n"},
    };
    for (const auto& [content, body] : rows) {
        SCOPED_TRACE(content);
        makeRegistry(root, content);
        EXPECT_EQ(discover(), report(root, body));
    }
}

// The global candidate comes from the shared profile files, set here through the profile utility.
TEST_F(DiscoveryTest, TheSharedProfileIsLookedAtBeforeTheEnvironment)
{
    std::string global = root + "/global", local = root + "/local";
    if (update_env_var_with_temp_qzprofile(("QZSHCOMP \"" + global + "\"").c_str()) != 0)
        GTEST_SKIP() << "profile utility cannot set variables";
    makeRegistry(local, "CurrentVersion 5.2.4\nlocal 5.2.4\n");
    setenv("QZSHCOMP", local.c_str(), 1);
    // Without a registry below the global root the environment's root is reported.
    EXPECT_EQ(discover(), report(local, "CurrentVersion 5.2.4 \n" + HEADER + "local 5.2.4 \n"));
    makeRegistry(global, "CurrentVersion 5.2.4\nglobal 5.2.4\n");
    EXPECT_EQ(discover(), report(global, "CurrentVersion 5.2.4 \n" + HEADER + "global 5.2.4 \n", true));
}

}  // namespace
