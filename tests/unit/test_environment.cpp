#include <gtest/gtest.h>

#include <filesystem>

#include "environment.h"
#include "qzprofile.h"
#include "testutil.h"

using namespace testutil;

namespace {

const std::string LIB_LINE = "QZLIB=\"/opt/QZ/SharedComponents/lib\"; export QZLIB";
const std::string BIN_LINE = "QZBIN=\"/opt/QZ/SharedComponents/bin\"; export QZBIN";
const std::string SHCOMP_LINE = "QZSHCOMP=\"/opt/QZ/SharedComponents\"; export QZSHCOMP";
const std::string profile = std::string(getenv("HOME")) + "/.profile";

std::string keys(const std::string& mode, const char* set)  // set: the flags of QZSHCOMP, QZLIB and QZBIN
{
    std::string m = "env." + mode + ".", s = "*#*#*#*#*#-Environment\n";
    for (const char* name : {"QZSHCOMP", "QZLIB", "QZBIN"})
        s += m + name + ".set=" + *set++ + "\n";
    return s;
}

std::string query(const char* name)
{
    std::unique_ptr<std::string> v = get_env_var_from_temp_qzprofile(name);
    return v ? *v : "<null>";
}

std::string values() { return query("QZSHCOMP") + "|" + query("QZLIB") + "|" + query("QZBIN") + "|"; }

// A fresh verbose run: no records but a stored section, if given.
void start(const std::string& stored = "")
{
    resetOptions();
    g_opts.verbose = true;
    std::filesystem::remove_all("/opt/QZ");
    std::filesystem::create_directories(recordDir(DEFAULT_INSTALL_DIR));
    if (!stored.empty())
        writeFile(filesDatPath(DEFAULT_INSTALL_DIR), "TARVO5/Linux/ppc64/64/uninstaller\n" + stored);
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
    std::tie(g_opts.installMode, g_opts.setenv) = std::tie(mode, env);
    return del_env_vars(DEFAULT_INSTALL_DIR);
}

TEST(Environment, UserModeMovesOldCopiesToTheEndAndForcedRemovalTakesOnlyRecordedLines)
{
    start(keys("usr", "101"));
    writeFile(profile, "PATH=/bin\nexport X; " + LIB_LINE + " # old\n");
    chmod(profile.c_str(), 0640);
    EXPECT_EQ(set(USER, "before\n"), "0|before\n" + keys("usr", "101"));  // the stored section, as it is
    EXPECT_EQ(readFile(profile), "PATH=/bin\n" + LIB_LINE + "\n" + BIN_LINE + "\n" + SHCOMP_LINE + "\n");
    EXPECT_EQ(modeOf(profile), 0640u);

    start();
    setenv("Update_User_Profile", "no", 1);  // not a number: counts as zero
    EXPECT_EQ(set(USER), "0|" + keys("usr", "000"));
    unsetenv("Update_User_Profile");

    start(keys("usr", "110"));
    const std::string content = "A\n" + LIB_LINE + "\nQZLIB=\"/x\"; export QZLIB\n" + BIN_LINE + "\n" + LIB_LINE + "\n";
    writeFile(profile, content);
    EXPECT_EQ(del(REMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), content);
    EXPECT_EQ(del(FORCEREMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), "A\nQZLIB=\"/x\"; export QZLIB\n" + BIN_LINE + "\n" + LIB_LINE + "\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to remove line \"" + SHCOMP_LINE + "\" from file " + profile +
                                           " this is done to ensure backward compatibility of the installer\n");

    std::remove(profile.c_str());
    start();
    EXPECT_FALSE(remove_lines_from_file(profile, {"A"}));
    EXPECT_TRUE(insert_lines_in_file(profile, {"one", "two"}));
    EXPECT_EQ(readFile(profile), "one\ntwo\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to open " + profile + " , environment variable removal failed\n"
                                       "Unable to open " + profile + " , will attempt to create file\n");

    const std::string home = getenv("HOME");
    unsetenv("HOME");
    start();
    EXPECT_EQ(set(USER), "1|");
    EXPECT_EQ(del(FORCEREMOVE, USER), 0);
    EXPECT_EQ(del(FORCEREMOVE, NONE), 1);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to read $HOME, environment variable setting failed\n"
                                       "Unable to read $HOME, environment variable removal failed\n");
    setenv("HOME", home.c_str(), 1);
}

// Claims only what this run set, and a forced removal deletes only what was claimed.
TEST(Environment, AllUsersModeClaimsAndDeletesOnlyWhatItSet)
{
    start();
    ASSERT_EQ(write_temp_qzprofile(), 1);
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/other\""), 0);
    const std::string all = "/opt/QZ/SharedComponents|/opt/QZ/SharedComponents/lib|/opt/QZ/SharedComponents/bin|";
    EXPECT_EQ(set(ALL), "0|" + keys("all", "011"));
    EXPECT_EQ(values(), all);
    EXPECT_EQ(set(ALL), "0|" + keys("all", "000"));  // everything already in place: nothing is claimed
    start(keys("all", "001"));
    EXPECT_EQ(del(REMOVE, ALL), 1);
    EXPECT_EQ(values(), all);
    EXPECT_EQ(del(FORCEREMOVE, ALL), 1);
    EXPECT_EQ(values(), "/opt/QZ/SharedComponents|/opt/QZ/SharedComponents/lib|<null>|");

    // A dependent variable found with another value is reported and not claimed.
    start();
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/srv\""), 0);
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZBIN \"/srv/bin\""), 0);
    EXPECT_EQ(set(ALL), "0|" + keys("all", "000"));
    EXPECT_TRUE(logged("Enviornment variable QZBIN is not refering to $(QZSHCOMP)/bin directory\n"));
    start(keys("all", "001"));
    writeFile(give_temp_qzprofile_name(), "exit 1\n");  // a utility that fails
    EXPECT_EQ(del(FORCEREMOVE, ALL), 0);
    EXPECT_TRUE(logged("Unable to remove QZBIN environment variable using qzprofile\n"));
    delete_temp_qzprofile();
}

// The embedded utility is the assembled script, written once to a private file and deleted once.
TEST(Qzprofile, TempCopyHoldsTheAssembledScript)
{
    resetOptions();
    ASSERT_EQ(write_temp_qzprofile(), 1);
    const std::string name = tmpfile_name;
    EXPECT_EQ(name.rfind("/tmp/", 0), 0u);
    EXPECT_EQ(readFile(name), readFile(std::string(getenv("TARVO_BUILD")) + "/qzprofile"));
    EXPECT_EQ(modeOf(name), 0600u);
    writeFile(name, "kept");
    EXPECT_EQ(write_temp_qzprofile(), 1);  // the same file, not written again
    EXPECT_EQ(readFile(name), "kept");
    EXPECT_TRUE(delete_temp_qzprofile() == 1 && !exists(name));
    EXPECT_TRUE(delete_temp_qzprofile() == 1 && !exists(LOG_FILE_PATH)) << "a second delete is no error";
}

TEST(Qzprofile, ValuesRoundTripThroughTheUtilityUnexpanded)
{
    resetOptions();
    unsetenv("Update_Profile");
    std::system("rm -f /etc/profile.QZ /etc/csh_login.QZ");
    ASSERT_EQ(write_temp_qzprofile(), 1);
    setenv("QZSHCOMP", "/inherited", 1);  // in the environment, but not held by the files
    EXPECT_EQ(query("QZSHCOMP"), "<null>");
    unsetenv("QZSHCOMP");
    const std::string odd = "/opt/$HOME `id` \\n \\\\x & | * [a] ; 'q' \"";
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/opt/Q Z\""), 0);
    ASSERT_EQ(update_env_var_with_temp_qzprofile(("TARVO_T \"" + odd + "\"").c_str()), 0);
    EXPECT_EQ(query("QZSHCOMP") + "|" + query("TARVO_T"), "/opt/Q Z|" + odd);
    EXPECT_EQ(update_env_var_with_temp_qzprofile("QZBIN \"/elsewhere/bin\""), 111 * 256);  // a refusal, as a wait status
    EXPECT_EQ(delete_env_var_with_temp_qzprofile("TARVO_T"), 0);
    EXPECT_EQ(query("TARVO_T"), "<null>");
    delete_temp_qzprofile();

    // Update_Profile passes on as one digit.
    for (const auto& [value, digit] : {std::pair<const char*, char>{"0", '0'}, {"yes", '0'}, {"", '0'}, {nullptr, '1'}, {"2", '1'}}) {
        value ? setenv("Update_Profile", value, 1) : unsetenv("Update_Profile");
        EXPECT_EQ(qzprofile_set_command("/tmp/q", "V"), std::string("QZPROFILE_OVERRIDE=1 Update_Profile=") + digit + " sh /tmp/q -s V");
    }
    unsetenv("Update_Profile");
}

}  // namespace
