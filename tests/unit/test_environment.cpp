// The profile variables, the profile utility, and the removal of an installation.
#include <gtest/gtest.h>

#include <filesystem>

#include "environment.h"
#include "qzprofile.h"
#include "removal.h"
#include "testutil.h"
#include "versions.h"

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

std::string query(const char* name) { auto v = get_env_var_from_temp_qzprofile(name); return v ? *v : "<null>"; }

std::string values() { return query("QZSHCOMP") + "|" + query("QZLIB") + "|" + query("QZBIN") + "|"; }

void start(const std::string& stored = "")
{
    resetOptions();
    g_opts.verbose = true;
    std::filesystem::remove_all("/opt/QZ");
    std::filesystem::create_directories(recordDir(DEFAULT_INSTALL_DIR));
    if (!stored.empty())
        writeFile(filesDatPath(DEFAULT_INSTALL_DIR), "TARVO5/Linux/ppc64/64/uninstaller\n" + stored);
}

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

    start(keys("usr", "110"));
    const std::string content = "A\n" + LIB_LINE + "\nQZLIB=\"/x\"; export QZLIB\n" + BIN_LINE + "\n" + LIB_LINE + "\n";
    writeFile(profile, content);
    EXPECT_TRUE(del(REMOVE, USER) == 1 && readFile(profile) == content) << readFile(profile);
    EXPECT_EQ(del(FORCEREMOVE, USER), 1);
    EXPECT_EQ(readFile(profile), "A\nQZLIB=\"/x\"; export QZLIB\n" + BIN_LINE + "\n" + LIB_LINE + "\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to remove line \"" + SHCOMP_LINE + "\" from file " + profile +
                                           " this is done to ensure backward compatibility of the installer\n");

    std::remove(profile.c_str());
    start();
    EXPECT_TRUE(insert_lines_in_file(profile, {"one", "two"}) && readFile(profile) == "one\ntwo\n");  // a missing profile is made

    const std::string home = getenv("HOME");
    unsetenv("HOME");
    start();
    EXPECT_EQ(set(USER), "1|");
    EXPECT_EQ(del(FORCEREMOVE, USER), 0);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to read $HOME, environment variable setting failed\n"
                                       "Unable to read $HOME, environment variable removal failed\n");
    setenv("HOME", home.c_str(), 1);
}

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
    EXPECT_TRUE(del(REMOVE, ALL) == 1 && values() == all) << values();
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
    EXPECT_TRUE(del(FORCEREMOVE, ALL) == 0 && logged("Unable to remove QZBIN environment variable using qzprofile\n"));
    delete_temp_qzprofile();
}

TEST(Qzprofile, ValuesRoundTripThroughAPrivateCopyUnexpanded)
{
    resetOptions();
    unsetenv("Update_Profile");
    std::system("rm -f /etc/profile.QZ /etc/csh_login.QZ");
    ASSERT_EQ(write_temp_qzprofile(), 1);
    const std::string name = tmpfile_name;
    EXPECT_TRUE(name.rfind("/tmp/", 0) == 0 && modeOf(name) == 0600u) << name;
    setenv("QZSHCOMP", "/inherited", 1);  // in the environment, but not held by the files
    EXPECT_EQ(query("QZSHCOMP"), "<null>");
    unsetenv("QZSHCOMP");
    const std::string odd = "/opt/$HOME `id` \\n \\\\x & | * [a] ; 'q' \"";
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/opt/Q Z\""), 0);
    ASSERT_EQ(update_env_var_with_temp_qzprofile(("TARVO_T \"" + odd + "\"").c_str()), 0);
    EXPECT_EQ(query("QZSHCOMP") + "|" + query("TARVO_T"), "/opt/Q Z|" + odd);
    EXPECT_EQ(update_env_var_with_temp_qzprofile("QZBIN \"/elsewhere/bin\""), 111 * 256);  // a refusal, as a wait status
    EXPECT_TRUE(delete_env_var_with_temp_qzprofile("TARVO_T") == 0 && query("TARVO_T") == "<null>");
    EXPECT_TRUE(delete_temp_qzprofile() == 1 && !exists(name));

    for (const auto& [value, digit] : {std::pair<const char*, char>{"yes", '0'}, {nullptr, '1'}, {"2", '1'}}) {
        value ? setenv("Update_Profile", value, 1) : unsetenv("Update_Profile");
        EXPECT_EQ(qzprofile_set_command("/tmp/q", "V"), std::string("QZPROFILE_OVERRIDE=1 Update_Profile=") + digit + " sh /tmp/q -s V");
    }
    unsetenv("Update_Profile");
}

const std::string kDefault = DEFAULT_INSTALL_DIR, kRec = recordDir(kDefault), kSub = std::string(RECORD_SUBDIR) + "/";

void touch(const std::string& path) { std::filesystem::create_directories(path.substr(0, path.rfind('/'))); writeFile(path, "x"); }

FileCollection installThree(const std::string& installDir)
{
    std::filesystem::remove_all("/opt/QZ");
    resetOptions();
    g_opts.verbose = g_opts.veryverbose = true;
    g_existingVersionString = "5.2.4";
    g_existingVersionValue = getVersionValue("5.2.4");
    FileCollection fc;
    for (const char* name : {"lib/libtarvo.so", "tarvo/log/liblog_api.so", "uninstaller"}) {
        touch(installDir + "/" + kSub + name);
        fc.files.push_back(FileResource{kSub + name, "", 0});
    }
    touch(filesDatPath(installDir));
    touch(installDbPath(installDir));
    return fc;
}

TEST(Removal, OtherProductInSharedComponentsKeepsProfileAndOptQZ)
{
    FileCollection fc = installThree(kDefault);
    ASSERT_EQ(write_temp_qzprofile(), 1);
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/opt/QZ/SharedComponents\""), 0);
    g_opts.setenv = ALL;
    std::filesystem::create_directories("/opt/QZ/SharedComponents/lib");
    touch("/opt/QZ/SharedComponents/OTHER/file");
    EXPECT_TRUE(removeFiles(kDefault, fc));
    EXPECT_FALSE(exists(kDefault) || exists("/opt/QZ/SharedComponents/lib") || logged("Failed"));
    EXPECT_TRUE(exists("/opt/QZ/SharedComponents/OTHER/file") && logged("Removed file " + kRec + "/files.dat\n"));
    EXPECT_NE(get_env_var_from_temp_qzprofile("QZSHCOMP"), nullptr);
    delete_temp_qzprofile();

    const std::string custom = "/opt/QZ/Custom/TARVO";  // elsewhere, /opt/QZ is never touched
    fc = installThree(custom);
    EXPECT_TRUE(removeFiles(custom, fc) && !exists("/opt/QZ/Custom") && exists("/opt/QZ"));
}

TEST(Removal, NoLinkInsideTheTreeLeadsOutOfIt)
{
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
    EXPECT_EQ(unlink((kRec + "/lib/evil").c_str()) + unlink((kRec + "/tarvo").c_str()), 0);
    EXPECT_TRUE(removeFiles(kDefault, fc) && !exists("/opt/QZ"));
    EXPECT_TRUE(exists(outside + "/victim") && exists(elsewhere + "/tarvo/log/liblog_api.so"));
}

}  // namespace
