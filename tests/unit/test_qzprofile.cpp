#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "qzprofile.h"
#include "testutil.h"

using testutil::exists;
using testutil::readFile;

namespace {

class QzprofileTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (getenv("TARVO_SANDBOX") == nullptr)
            GTEST_SKIP() << "writes /etc and /tmp: runs only inside tests/sandbox.sh";
        testutil::resetOptions();
        unsetenv("Update_Profile");
        std::remove("/etc/profile.QZ");
        std::remove("/etc/csh_login.QZ");
    }
    void TearDown() override
    {
        delete_temp_qzprofile();
        unsetenv("Update_Profile");
    }
};

std::string query(const char* name)
{
    std::unique_ptr<std::string> v = get_env_var_from_temp_qzprofile(name);
    return v ? *v : "<null>";
}

}  // namespace

TEST_F(QzprofileTest, EmbeddedTextIsTheAssembledScriptByteForByte)
{
    const char* build = getenv("TARVO_BUILD");
    const char* src = getenv("TARVO_SRC");
    ASSERT_TRUE(build && src);
    std::string path = testutil::freshDir("qzp") + "/out";
    FILE* out = fopen(path.c_str(), "w");
    create_qzprofile(out);
    fclose(out);
    std::string script = readFile(path);
    EXPECT_EQ(script, readFile(std::string(build) + "/qzprofile"));
    EXPECT_EQ(script.rfind("#!/bin/sh\n", 0), 0u);
    // Every awk program is in, none is left as a placeholder.
    EXPECT_NE(script.find(readFile(std::string(src) + "/setup/qzprofile/lib.awk")), std::string::npos);
    EXPECT_EQ(script.find(".awk@'"), std::string::npos);
}

TEST_F(QzprofileTest, TempCopyIsWrittenOnceAndDeletedOnce)
{
    ASSERT_EQ(write_temp_qzprofile(), 1);
    ASSERT_EQ(tmpfile_created, 1);
    std::string name = tmpfile_name;
    EXPECT_LT(name.size(), sizeof(tmpfile_name));
    EXPECT_EQ(name.rfind("/tmp/", 0), 0u);
    EXPECT_EQ(readFile(name), QZPROFILE_TEXT);
    EXPECT_EQ(testutil::modeOf(name), 0600u);
    EXPECT_STREQ(give_temp_qzprofile_name(), name.c_str());
    // A second write keeps the same file.
    EXPECT_EQ(write_temp_qzprofile(), 1);
    EXPECT_EQ(name, tmpfile_name);

    EXPECT_EQ(delete_temp_qzprofile(), 1);
    EXPECT_FALSE(exists(name));
    EXPECT_EQ(tmpfile_created, 0);
    EXPECT_EQ(delete_temp_qzprofile(), 1);
    EXPECT_FALSE(exists(LOG_FILE_PATH)) << "second delete must not report an error";
}

TEST_F(QzprofileTest, SetQueryDeleteRoundTrip)
{
    ASSERT_EQ(write_temp_qzprofile(), 1);
    setenv("QZSHCOMP", "/inherited", 1);  // printed by the utility, but not held by the files
    EXPECT_EQ(query("QZSHCOMP"), "<null>");
    unsetenv("QZSHCOMP");
    EXPECT_EQ(query("NO_SUCH_VARIABLE"), "<null>");

    const std::string odd = "/opt/$HOME `id` \\n \\\\x & | * [a] ; 'q'";
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/opt/Q Z\""), 0);
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZLIB \"/opt/Q Z/lib\""), 0);
    ASSERT_EQ(update_env_var_with_temp_qzprofile(("TARVO_T \"" + odd + "\"").c_str()), 0);
    EXPECT_EQ(query("QZSHCOMP") + "|" + query("QZLIB") + "|" + query("TARVO_T"), "/opt/Q Z|/opt/Q Z/lib|" + odd);
    // The utility's refusal shows as a wait status.
    EXPECT_EQ(update_env_var_with_temp_qzprofile("QZBIN \"/elsewhere/bin\""), 111 * 256);
    EXPECT_EQ(query("QZBIN"), "<null>");

    EXPECT_EQ(delete_env_var_with_temp_qzprofile("QZLIB"), 0);
    EXPECT_EQ(delete_env_var_with_temp_qzprofile("TARVO_T"), 0);
    EXPECT_EQ(query("QZLIB"), "<null>");
    EXPECT_TRUE(exists("/etc/profile.QZ"));
    EXPECT_EQ(delete_env_var_with_temp_qzprofile("QZSHCOMP"), 0);
    EXPECT_EQ(query("QZSHCOMP"), "<null>");
    EXPECT_FALSE(exists("/etc/profile.QZ"));
    EXPECT_FALSE(exists("/etc/csh_login.QZ"));
}

TEST_F(QzprofileTest, CommandsCarryOverrideUpdateDigitAndEscapes)
{
    const char* const env[][2] = {{"0", "0"}, {"yes", "0"}, {"", "0"}, {nullptr, "1"}, {"1", "1"}, {"2", "1"}};
    for (const auto& [value, digit] : env) {
        value ? setenv("Update_Profile", value, 1) : unsetenv("Update_Profile");
        EXPECT_EQ(qzprofile_set_command("/tmp/q", "QZLIB \"/opt/lib\""),
                  std::string("QZPROFILE_OVERRIDE=1 Update_Profile=") + digit + " sh /tmp/q -s QZLIB \"/opt/lib\"")
            << (value ? value : "(unset)");
    }
    unsetenv("Update_Profile");
    // Escapes only inside the quotes.
    EXPECT_EQ(qzprofile_set_command("/tmp/q", "V \"a\"b$c`d\\e f\""),
              "QZPROFILE_OVERRIDE=1 Update_Profile=1 sh /tmp/q -s V \"a\\\"b\\$c\\`d\\\\e f\"");
    EXPECT_EQ(qzprofile_set_command("/tmp/q", "V"), "QZPROFILE_OVERRIDE=1 Update_Profile=1 sh /tmp/q -s V");
    EXPECT_EQ(qzprofile_query_command("/tmp/q", "QZSHCOMP"), "QZPROFILE_OVERRIDE=1 sh /tmp/q -q QZSHCOMP");
    EXPECT_EQ(qzprofile_delete_command("/tmp/q", "QZBIN"), "QZPROFILE_OVERRIDE=1 sh /tmp/q -d QZBIN");
}
