#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "environment.h"
#include "log.h"
#include "qzprofile.h"
#include "testutil.h"

using namespace testutil;

namespace {

const std::string LIB_LINE = "QZLIB=\"/opt/QZ/SharedComponents/lib\"; export QZLIB";
const std::string BIN_LINE = "QZBIN=\"/opt/QZ/SharedComponents/bin\"; export QZBIN";
const std::string SHCOMP_LINE = "QZSHCOMP=\"/opt/QZ/SharedComponents\"; export QZSHCOMP";
const std::string ALL_LINES = LIB_LINE + "\n" + BIN_LINE + "\n" + SHCOMP_LINE + "\n";

std::string keys(const std::string& mode, const char* shcomp, const char* lib, const char* bin)
{
    std::string m = "env." + mode + ".";
    return "*#*#*#*#*#-Environment\n" + m + "QZSHCOMP.set=" + shcomp + "\n" + m + "QZLIB.set=" + lib + "\n" + m +
           "QZBIN.set=" + bin + "\n";
}

class EnvironmentTest : public testing::Test {
protected:
    void SetUp() override
    {
        resetOptions();
        home = getenv("HOME");
        profile = home + "/.profile";
        std::remove(profile.c_str());
        std::system(("rm -rf /opt/QZ && mkdir -p '" + recordDir(DEFAULT_INSTALL_DIR) + "'").c_str());
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
    // Runs set_env_vars and returns "rc|section".
    std::string set(SetEnv mode, std::string section = "")
    {
        g_opts.setenv = mode;
        int rc = set_env_vars(DEFAULT_LINK_DIR, DEFAULT_INSTALL_DIR, section);
        return std::to_string(rc) + "|" + section;
    }
    int del(InstallMode mode, SetEnv env)
    {
        g_opts.installMode = mode;
        g_opts.setenv = env;
        return del_env_vars(DEFAULT_INSTALL_DIR);
    }

    std::string home, profile;
};

TEST_F(EnvironmentTest, UserInstallAgainMovesTheLinesToTheEndAndKeepsTheSection)
{
    writeFile(profile, "PATH=/bin\n");
    chmod(profile.c_str(), 0640);
    EXPECT_EQ(set(USER), "0|" + keys("usr", "1", "1", "1"));
    // Older copies (also inside other text) go, the stored section is returned.
    storeSection(keys("usr", "1", "1", "1"));
    writeFile(profile, readFile(profile) + "# mine\nexport X; " + LIB_LINE + " # old\n");
    EXPECT_EQ(set(USER), "0|" + keys("usr", "1", "1", "1"));
    EXPECT_EQ(readFile(profile), "PATH=/bin\n# mine\n" + ALL_LINES);
    EXPECT_EQ(modeOf(profile), 0640u);
}

TEST_F(EnvironmentTest, NonNumericUpdateUserProfileCountsAsZero)
{
    setenv("Update_User_Profile", "no", 1);
    writeFile(profile, "untouched\n");
    EXPECT_EQ(set(USER), "0|" + keys("usr", "0", "0", "0"));
    EXPECT_EQ(readFile(profile), "untouched\n");
}

TEST_F(EnvironmentTest, StoredSectionIsCopiedUnchangedWhateverTheMode)
{
    EXPECT_EQ(set(NONE), "0|");
    std::string stored = keys("all", "1", "0", "1");
    storeSection(stored);
    for (SetEnv mode : {NONE, USER})
        EXPECT_EQ(set(mode, "before\n"), "0|before\n" + stored);
    // The user mode still published its lines.
    EXPECT_EQ(readFile(profile), ALL_LINES);
}

TEST_F(EnvironmentTest, UnsetHomeFailsUserModeOnly)
{
    unsetenv("HOME");
    EXPECT_EQ(set(USER), "1|");
    EXPECT_EQ(del(FORCEREMOVE, USER), 0);
    EXPECT_EQ(del(FORCEREMOVE, NONE), 1);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to read $HOME, environment variable setting failed\n"
                                       "Unable to read $HOME, environment variable removal failed\n");
}

TEST_F(EnvironmentTest, ForcedUserRemovalTakesOutExactlyTheRecordedLinesThatAreThere)
{
    g_opts.verbose = true;
    const std::string edited = "QZLIB=\"/elsewhere\"; export QZLIB";
    const std::string content = "A\n" + LIB_LINE + "\n" + edited + "\n" + BIN_LINE + "\nC\n" + LIB_LINE + "\n";
    writeFile(profile, content);
    storeSection(keys("usr", "1", "1", "0"));
    // An ordinary removal leaves the user's profile as it is.
    EXPECT_EQ(del(REMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), content);

    std::remove(LOG_FILE_PATH);
    EXPECT_EQ(del(FORCEREMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), "A\n" + edited + "\n" + BIN_LINE + "\nC\n" + LIB_LINE + "\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to remove line \"" + SHCOMP_LINE + "\" from file " + profile +
                                           " this is done to ensure backward compatibility of the installer\n");
}

TEST_F(EnvironmentTest, MissingProfileIsCreatedButNotRemovedFrom)
{
    g_opts.verbose = true;
    EXPECT_FALSE(remove_lines_from_file(profile, {"A"}));
    EXPECT_FALSE(exists(profile));
    EXPECT_TRUE(insert_lines_in_file(profile, {"one", "two"}));
    EXPECT_EQ(readFile(profile), "one\ntwo\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to open " + profile + " , environment variable removal failed\n"
                                       "Unable to open " + profile + " , will attempt to create file\n");
}

// Runs the real profile utility against the sandbox's private /etc.
TEST_F(EnvironmentTest, AllUsersModeClaimsAndForcedRemovalDeletesOnlyWhatItSet)
{
    ASSERT_EQ(write_temp_qzprofile(), 1);
    auto values = [] {
        std::string out;
        for (const char* name : {"QZSHCOMP", "QZLIB", "QZBIN"}) {
            std::unique_ptr<std::string> v = get_env_var_from_temp_qzprofile(name);
            out += (v ? *v : "<unset>") + "|";
        }
        return out;
    };
    const std::string all = "/opt/QZ/SharedComponents|/opt/QZ/SharedComponents/lib|/opt/QZ/SharedComponents/bin|";
    ASSERT_EQ(values(), "<unset>|<unset>|<unset>|");
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/other\""), 0);
    EXPECT_EQ(set(ALL), "0|" + keys("all", "0", "1", "1"));
    EXPECT_EQ(values(), all);
    // Everything already in place: nothing is claimed.
    EXPECT_EQ(set(ALL), "0|" + keys("all", "0", "0", "0"));

    storeSection(keys("all", "0", "0", "1"));
    EXPECT_EQ(del(REMOVE, ALL), 1);
    EXPECT_EQ(values(), all);
    EXPECT_EQ(del(FORCEREMOVE, ALL), 1);
    EXPECT_EQ(values(), "/opt/QZ/SharedComponents|/opt/QZ/SharedComponents/lib|<unset>|");
    delete_temp_qzprofile();
}

}  // namespace
