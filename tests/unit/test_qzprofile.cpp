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

std::string written(void (*writer)(FILE*))
{
    std::string path = testutil::freshDir("qzp") + "/out";
    FILE* out = fopen(path.c_str(), "w");
    writer(out);
    fclose(out);
    return readFile(path);
}

}  // namespace

TEST_F(QzprofileTest, EmbeddedTextIsTheScriptByteForByte)
{
    const char* build = getenv("TARVO_BUILD");
    const char* src = getenv("TARVO_SRC");
    ASSERT_TRUE(build && src);
    std::string text = written(create_qzprofile);
    std::string script = readFile(std::string(src) + "/setup/qzprofile.sh");
    ASSERT_GT(script.size(), 1000u);
    EXPECT_EQ(text, script);
    EXPECT_EQ(text, readFile(std::string(build) + "/qzprofile"));
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

TEST_F(QzprofileTest, QueryOfAnUnheldVariableIsNull)
{
    ASSERT_EQ(write_temp_qzprofile(), 1);
    setenv("QZSHCOMP", "/inherited", 1);  // printed by the utility, but not held by the files
    EXPECT_EQ(get_env_var_from_temp_qzprofile("QZSHCOMP"), nullptr);
    unsetenv("QZSHCOMP");
    EXPECT_EQ(get_env_var_from_temp_qzprofile("QZLIB"), nullptr);
    EXPECT_EQ(get_env_var_from_temp_qzprofile("NO_SUCH_VARIABLE"), nullptr);
}

TEST_F(QzprofileTest, SetQueryDeleteRoundTrip)
{
    ASSERT_EQ(write_temp_qzprofile(), 1);
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/opt/Q Z\""), 0);
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZLIB \"/opt/Q Z/lib\""), 0);
    auto root = get_env_var_from_temp_qzprofile("QZSHCOMP");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(*root, "/opt/Q Z");
    auto lib = get_env_var_from_temp_qzprofile("QZLIB");
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(*lib, "/opt/Q Z/lib");

    // The utility's refusal shows as a wait status.
    EXPECT_EQ(update_env_var_with_temp_qzprofile("QZBIN \"/elsewhere/bin\""), 111 * 256);
    EXPECT_EQ(get_env_var_from_temp_qzprofile("QZBIN"), nullptr);

    EXPECT_EQ(delete_env_var_with_temp_qzprofile("QZLIB"), 0);
    EXPECT_EQ(get_env_var_from_temp_qzprofile("QZLIB"), nullptr);
    EXPECT_TRUE(exists("/etc/profile.QZ"));
    EXPECT_EQ(delete_env_var_with_temp_qzprofile("QZSHCOMP"), 0);
    EXPECT_EQ(get_env_var_from_temp_qzprofile("QZSHCOMP"), nullptr);
    EXPECT_FALSE(exists("/etc/profile.QZ"));
    EXPECT_FALSE(exists("/etc/csh_login.QZ"));
}

TEST_F(QzprofileTest, ShellCharactersInAValueReachTheFilesUnchanged)
{
    ASSERT_EQ(write_temp_qzprofile(), 1);
    const std::string value = "/opt/$HOME `id` \\n \\\\x & | * [a] ; 'q'";
    ASSERT_EQ(update_env_var_with_temp_qzprofile(("TARVO_T \"" + value + "\"").c_str()), 0);
    auto got = get_env_var_from_temp_qzprofile("TARVO_T");
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(*got, value);
}

TEST_F(QzprofileTest, UpdateProfileDigitFollowsTheEnvironment)
{
    const struct {
        const char* env;  // null: unset
        const char* digit;
    } cases[] = {{"0", "0"}, {"yes", "0"}, {"", "0"}, {nullptr, "1"}, {"1", "1"}, {"2", "1"}};
    for (const auto& c : cases) {
        if (c.env)
            setenv("Update_Profile", c.env, 1);
        else
            unsetenv("Update_Profile");
        EXPECT_EQ(qzprofile_set_command("/tmp/qzprofABCDEF", "QZLIB \"/opt/lib\""),
                  std::string("QZPROFILE_OVERRIDE=1 Update_Profile=") + c.digit +
                      " sh /tmp/qzprofABCDEF -s QZLIB \"/opt/lib\"")
            << (c.env ? c.env : "(unset)");
    }
    EXPECT_EQ(qzprofile_query_command("/tmp/q", "QZSHCOMP"), "QZPROFILE_OVERRIDE=1 sh /tmp/q -q QZSHCOMP");
    EXPECT_EQ(qzprofile_delete_command("/tmp/q", "QZBIN"), "QZPROFILE_OVERRIDE=1 sh /tmp/q -d QZBIN");
}

TEST_F(QzprofileTest, SetCommandEscapesOnlyInsideTheQuotes)
{
    EXPECT_EQ(qzprofile_set_command("/tmp/q", "V \"a\"b$c`d\\e f\""),
              "QZPROFILE_OVERRIDE=1 Update_Profile=1 sh /tmp/q -s V \"a\\\"b\\$c\\`d\\\\e f\"");
    EXPECT_EQ(qzprofile_set_command("/tmp/q", "V"), "QZPROFILE_OVERRIDE=1 Update_Profile=1 sh /tmp/q -s V");
}
