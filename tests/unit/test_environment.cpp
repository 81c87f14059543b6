#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "environment.h"
#include "qzprofile.h"
#include "testutil.h"

using namespace testutil;

namespace {

const std::string LIB_LINE = "QZLIB=\"/opt/QZ/SharedComponents/lib\"; export QZLIB";
const std::string BIN_LINE = "QZBIN=\"/opt/QZ/SharedComponents/bin\"; export QZBIN";
const std::string SHCOMP_LINE = "QZSHCOMP=\"/opt/QZ/SharedComponents\"; export QZSHCOMP";
const std::string ALL_LINES = LIB_LINE + "\n" + BIN_LINE + "\n" + SHCOMP_LINE + "\n";

std::string keys(const std::string& mode, const char* set)  // set: the three flags, QZSHCOMP QZLIB QZBIN
{
    std::string m = "env." + mode + ".";
    return "*#*#*#*#*#-Environment\n" + m + "QZSHCOMP.set=" + set[0] + "\n" + m + "QZLIB.set=" + set[1] + "\n" + m +
           "QZBIN.set=" + set[2] + "\n";
}

class EnvironmentTest : public testing::Test {
protected:
    void SetUp() override
    {
        resetOptions();
        home = getenv("HOME");
        profile = home + "/.profile";
        std::remove(profile.c_str());
        std::filesystem::remove_all("/opt/QZ");
        std::filesystem::create_directories(recordDir(DEFAULT_INSTALL_DIR));
        unsetenv("Update_User_Profile");
    }
    void TearDown() override
    {
        setenv("HOME", home.c_str(), 1);
        unsetenv("Update_User_Profile");
    }
    void store(const std::string& section) { writeFile(filesDatPath(DEFAULT_INSTALL_DIR), "TARVO5/Linux/ppc64/64/uninstaller\n" + section); }
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

TEST_F(EnvironmentTest, UserModeWritesOnceMovesOldCopiesToTheEndAndKeepsTheStoredSection)
{
    EXPECT_EQ(set(NONE), "0|");
    writeFile(profile, "PATH=/bin\n");
    chmod(profile.c_str(), 0640);
    EXPECT_EQ(set(USER), "0|" + keys("usr", "111"));
    // Older copies (also inside other text) go; the stored section is returned whatever the mode.
    store(keys("usr", "101"));
    writeFile(profile, readFile(profile) + "# mine\nexport X; " + LIB_LINE + " # old\n");
    for (SetEnv mode : {NONE, USER})
        EXPECT_EQ(set(mode, "before\n"), "0|before\n" + keys("usr", "101"));
    EXPECT_EQ(readFile(profile), "PATH=/bin\n# mine\n" + ALL_LINES);
    EXPECT_EQ(modeOf(profile), 0640u);

    std::filesystem::remove_all("/opt/QZ");
    setenv("Update_User_Profile", "no", 1);  // not a number: counts as zero
    writeFile(profile, "untouched\n");
    EXPECT_EQ(set(USER), "0|" + keys("usr", "000"));
    EXPECT_EQ(readFile(profile), "untouched\n");
}

TEST_F(EnvironmentTest, UserRemovalTakesOutExactlyTheRecordedLinesThatAreThereWhenForced)
{
    g_opts.verbose = true;
    EXPECT_FALSE(remove_lines_from_file(profile, {"A"}));
    EXPECT_FALSE(exists(profile));
    EXPECT_TRUE(insert_lines_in_file(profile, {"one", "two"}));
    EXPECT_EQ(readFile(profile), "one\ntwo\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to open " + profile + " , environment variable removal failed\n"
                                       "Unable to open " + profile + " , will attempt to create file\n");

    const std::string edited = "QZLIB=\"/elsewhere\"; export QZLIB";
    const std::string content = "A\n" + LIB_LINE + "\n" + edited + "\n" + BIN_LINE + "\nC\n" + LIB_LINE + "\n";
    writeFile(profile, content);
    store(keys("usr", "110"));
    EXPECT_EQ(del(REMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), content);
    std::remove(LOG_FILE_PATH);
    EXPECT_EQ(del(FORCEREMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), "A\n" + edited + "\n" + BIN_LINE + "\nC\n" + LIB_LINE + "\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to remove line \"" + SHCOMP_LINE + "\" from file " + profile +
                                           " this is done to ensure backward compatibility of the installer\n");

    unsetenv("HOME");
    std::remove(LOG_FILE_PATH);
    EXPECT_EQ(set(USER), "1|");
    EXPECT_EQ(del(FORCEREMOVE, USER), 0);
    EXPECT_EQ(del(FORCEREMOVE, NONE), 1);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to read $HOME, environment variable setting failed\n"
                                       "Unable to read $HOME, environment variable removal failed\n");
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
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/other\""), 0);
    EXPECT_EQ(set(ALL), "0|" + keys("all", "011"));
    EXPECT_EQ(values(), all);
    EXPECT_EQ(set(ALL), "0|" + keys("all", "000"));  // everything already in place: nothing is claimed

    store(keys("all", "001"));
    EXPECT_EQ(del(REMOVE, ALL), 1);
    EXPECT_EQ(values(), all);
    EXPECT_EQ(del(FORCEREMOVE, ALL), 1);
    EXPECT_EQ(values(), "/opt/QZ/SharedComponents|/opt/QZ/SharedComponents/lib|<unset>|");

    // A dependent variable found with another value is reported and not claimed.
    std::filesystem::remove_all("/opt/QZ");
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/srv\""), 0);
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZBIN \"/srv/bin\""), 0);
    g_opts.verbose = true;
    EXPECT_EQ(set(ALL), "0|" + keys("all", "000"));
    EXPECT_NE(readFile(LOG_FILE_PATH).find("Enviornment variable QZBIN is not refering to $(QZSHCOMP)/bin directory\n"), std::string::npos);
    delete_temp_qzprofile();
}

}  // namespace
