#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "environment.h"
#include "log.h"
#include "qzprofile.h"
#include "testutil.h"

using testutil::exists;
using testutil::modeOf;
using testutil::readFile;
using testutil::writeFile;

namespace {

const std::string LIB_LINE = "QZLIB=\"/opt/QZ/SharedComponents/lib\"; export QZLIB";
const std::string BIN_LINE = "QZBIN=\"/opt/QZ/SharedComponents/bin\"; export QZBIN";
const std::string SHCOMP_LINE = "QZSHCOMP=\"/opt/QZ/SharedComponents\"; export QZSHCOMP";
const std::string HEADER = "*#*#*#*#*#-Environment\n";

std::string keys(const char* mode, const char* shcomp, const char* lib, const char* bin)
{
    std::string m = std::string("env.") + mode + ".";
    return HEADER + m + "QZSHCOMP.set=" + shcomp + "\n" + m + "QZLIB.set=" + lib + "\n" + m + "QZBIN.set=" + bin +
           "\n";
}

class EnvironmentTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        home = getenv("HOME");
        profile = home + "/.profile";
        std::remove(profile.c_str());
        std::system("rm -rf /opt/QZ");
        std::system(("mkdir -p '" + recordDir(DEFAULT_INSTALL_DIR) + "'").c_str());
        unsetenv("Update_User_Profile");
    }
    void TearDown() override
    {
        setenv("HOME", home.c_str(), 1);
        unsetenv("Update_User_Profile");
    }

    void storeSection(const std::string& section)
    {
        writeFile(filesDatPath(DEFAULT_INSTALL_DIR), "TARVO5/Linux/ppc64/64/uninstaller\n" + section);
    }

    int set(SetEnv mode, std::string& section)
    {
        g_opts.setenv = mode;
        return set_env_vars(DEFAULT_LINK_DIR, DEFAULT_INSTALL_DIR, section);
    }

    int del(InstallMode mode, SetEnv env)
    {
        g_opts.installMode = mode;
        g_opts.setenv = env;
        return del_env_vars(DEFAULT_INSTALL_DIR);
    }

    std::string home, profile;
};

TEST_F(EnvironmentTest, UserInstallAppendsTheLinesOnceAndRecordsTheFirstInstall)
{
    writeFile(profile, "PATH=/bin\n");
    chmod(profile.c_str(), 0640);
    std::string section;
    EXPECT_EQ(set(USER, section), 0);
    EXPECT_EQ(readFile(profile), "PATH=/bin\n" + LIB_LINE + "\n" + BIN_LINE + "\n" + SHCOMP_LINE + "\n");
    EXPECT_EQ(modeOf(profile), 0640u);
    EXPECT_EQ(section, keys("usr", "1", "1", "1"));

    // Again: older copies (also inside other text) go, the lines move to the end, the stored section is returned.
    storeSection(section);
    writeFile(profile, readFile(profile) + "# mine\nexport X; " + LIB_LINE + " # old\n");
    std::string again;
    EXPECT_EQ(set(USER, again), 0);
    EXPECT_EQ(again, section);
    EXPECT_EQ(readFile(profile), "PATH=/bin\n# mine\n" + LIB_LINE + "\n" + BIN_LINE + "\n" + SHCOMP_LINE + "\n");
}

TEST_F(EnvironmentTest, MissingProfileIsCreated)
{
    g_opts.verbose = true;
    EXPECT_TRUE(insert_lines_in_file(profile, {"one", "two"}));
    EXPECT_EQ(readFile(profile), "one\ntwo\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to open " + profile + " , will attempt to create file\n");
}

TEST_F(EnvironmentTest, UpdateUserProfileZeroLeavesTheProfileAloneAndRecordsZeroKeys)
{
    for (const char* value : {"0", "no"}) {
        setenv("Update_User_Profile", value, 1);
        writeFile(profile, "untouched\n");
        std::string section;
        EXPECT_EQ(set(USER, section), 0) << value;
        EXPECT_EQ(readFile(profile), "untouched\n");
        EXPECT_EQ(section, keys("usr", "0", "0", "0"));
    }
}

TEST_F(EnvironmentTest, StoredSectionIsCopiedUnchangedWhateverTheMode)
{
    std::string none;
    EXPECT_EQ(set(NONE, none), 0);
    EXPECT_EQ(none, "");

    std::string stored = keys("all", "1", "0", "1");
    storeSection(stored);
    for (SetEnv mode : {NONE, USER}) {
        std::string section = "before\n";
        EXPECT_EQ(set(mode, section), 0);
        EXPECT_EQ(section, "before\n" + stored);
    }
    // The user mode still published its lines.
    EXPECT_EQ(readFile(profile), LIB_LINE + "\n" + BIN_LINE + "\n" + SHCOMP_LINE + "\n");
}

TEST_F(EnvironmentTest, UnsetHomeFailsUserModeOnly)
{
    unsetenv("HOME");
    std::string section;
    EXPECT_EQ(set(USER, section), 1);
    EXPECT_EQ(del(FORCEREMOVE, USER), 0);
    EXPECT_EQ(del(FORCEREMOVE, NONE), 1);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to read $HOME, environment variable setting failed\n"
                                       "Unable to read $HOME, environment variable removal failed\n");
}

TEST_F(EnvironmentTest, ForcedUserRemovalTakesOutExactlyTheRecordedLines)
{
    const std::string edited = "QZLIB=\"/elsewhere\"; export QZLIB";
    const std::string content =
        "A\n" + SHCOMP_LINE + "\nB\n" + LIB_LINE + "\n" + edited + "\n" + BIN_LINE + "\nC\n" + LIB_LINE + "\n";
    writeFile(profile, content);
    storeSection(keys("usr", "1", "1", "0"));

    // An ordinary removal leaves the user's profile as it is.
    EXPECT_EQ(del(REMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), content);

    EXPECT_EQ(del(FORCEREMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), "A\nB\n" + edited + "\n" + BIN_LINE + "\nC\n" + LIB_LINE + "\n");
}

TEST_F(EnvironmentTest, LinesThatAreGoneAreReportedAndRemovalGoesOn)
{
    g_opts.verbose = true;
    writeFile(profile, "A\n" + LIB_LINE + "\n");
    storeSection(keys("usr", "1", "1", "1"));
    EXPECT_EQ(del(FORCEREMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), "A\n");
    std::string tail = "\" from file " + profile + " this is done to ensure backward compatibility of the installer\n";
    EXPECT_EQ(readFile(LOG_FILE_PATH),
              "Unable to remove line \"" + SHCOMP_LINE + tail + "Unable to remove line \"" + BIN_LINE + tail);

    std::remove(profile.c_str());
    std::remove(LOG_FILE_PATH);
    EXPECT_FALSE(remove_lines_from_file(profile, {"A"}));
    EXPECT_FALSE(exists(profile));
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to open " + profile + " , environment variable removal failed\n");
}

// Runs the real profile utility against the sandbox's private /etc.
class SharedProfileTest : public EnvironmentTest {
protected:
    void SetUp() override
    {
        EnvironmentTest::SetUp();
        ASSERT_EQ(write_temp_qzprofile(), 1);
        // The private /etc lives as long as this test program: start every test from empty shared files.
        for (const char* name : {"QZLIB", "QZBIN", "QZSHCOMP"})
            if (get_env_var_from_temp_qzprofile(name))
                delete_env_var_with_temp_qzprofile(name);
        ASSERT_EQ(value("QZSHCOMP"), "<unset>");
    }
    void TearDown() override
    {
        delete_temp_qzprofile();
        EnvironmentTest::TearDown();
    }
    static std::string value(const char* name)
    {
        std::unique_ptr<std::string> v = get_env_var_from_temp_qzprofile(name);
        return v ? *v : "<unset>";
    }
};

TEST_F(SharedProfileTest, AllUsersInstallClaimsOnlyWhatItSet)
{
    std::string section;
    EXPECT_EQ(set(ALL, section), 0);
    EXPECT_EQ(section, keys("all", "1", "1", "1"));
    EXPECT_EQ(value("QZSHCOMP"), "/opt/QZ/SharedComponents");
    EXPECT_EQ(value("QZLIB"), "/opt/QZ/SharedComponents/lib");
    EXPECT_EQ(value("QZBIN"), "/opt/QZ/SharedComponents/bin");

    // Everything already in place: nothing is claimed.
    std::string again;
    EXPECT_EQ(set(ALL, again), 0);
    EXPECT_EQ(again, keys("all", "0", "0", "0"));
}

TEST_F(SharedProfileTest, OverwrittenRootIsNotClaimed)
{
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/other\""), 0);
    std::string section;
    EXPECT_EQ(set(ALL, section), 0);
    EXPECT_EQ(section, keys("all", "0", "1", "1"));
    EXPECT_EQ(value("QZSHCOMP"), "/opt/QZ/SharedComponents");
}

TEST_F(SharedProfileTest, ForcedRemovalDeletesTheClaimedVariablesOnly)
{
    std::string section;
    ASSERT_EQ(set(ALL, section), 0);
    storeSection(keys("all", "1", "0", "1"));

    EXPECT_EQ(del(REMOVE, ALL), 1);
    EXPECT_EQ(value("QZBIN"), "/opt/QZ/SharedComponents/bin");

    EXPECT_EQ(del(FORCEREMOVE, ALL), 1);
    EXPECT_EQ(value("QZBIN"), "<unset>");
    EXPECT_EQ(value("QZLIB"), "/opt/QZ/SharedComponents/lib");
}

}  // namespace
