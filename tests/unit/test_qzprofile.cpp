#include <gtest/gtest.h>

#include "qzprofile.h"
#include "testutil.h"

using namespace testutil;

namespace {

std::string query(const char* name)
{
    std::unique_ptr<std::string> v = get_env_var_from_temp_qzprofile(name);
    return v ? *v : "<null>";
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
    EXPECT_STREQ(give_temp_qzprofile_name(), name.c_str());
    writeFile(name, "kept");
    EXPECT_EQ(write_temp_qzprofile(), 1);  // the same file, not written again
    EXPECT_EQ(readFile(name), "kept");
    EXPECT_EQ(delete_temp_qzprofile(), 1);
    EXPECT_FALSE(exists(name));
    EXPECT_EQ(delete_temp_qzprofile(), 1);
    EXPECT_FALSE(exists(LOG_FILE_PATH)) << "a second delete is no error";
}

TEST(Qzprofile, ValuesRoundTripThroughTheUtilityUnexpanded)
{
    resetOptions();
    unsetenv("Update_Profile");
    ASSERT_EQ(write_temp_qzprofile(), 1);
    setenv("QZSHCOMP", "/inherited", 1);  // printed by the utility, but not held by the files
    EXPECT_EQ(query("QZSHCOMP"), "<null>");
    unsetenv("QZSHCOMP");
    const std::string odd = "/opt/$HOME `id` \\n \\\\x & | * [a] ; 'q' \"";
    ASSERT_EQ(update_env_var_with_temp_qzprofile("QZSHCOMP \"/opt/Q Z\""), 0);
    ASSERT_EQ(update_env_var_with_temp_qzprofile(("TARVO_T \"" + odd + "\"").c_str()), 0);
    EXPECT_EQ(query("QZSHCOMP") + "|" + query("TARVO_T"), "/opt/Q Z|" + odd);
    EXPECT_EQ(update_env_var_with_temp_qzprofile("QZBIN \"/elsewhere/bin\""), 111 * 256);  // a refusal, as a wait status
    EXPECT_EQ(delete_env_var_with_temp_qzprofile("TARVO_T"), 0);
    EXPECT_EQ(query("TARVO_T"), "<null>");
    EXPECT_EQ(delete_env_var_with_temp_qzprofile("QZSHCOMP"), 0);
    EXPECT_FALSE(exists("/etc/profile.QZ") || exists("/etc/csh_login.QZ"));
    delete_temp_qzprofile();

    // Update_Profile passes on as one digit.
    for (const auto& [value, digit] : {std::pair<const char*, char>{"0", '0'}, {"yes", '0'}, {"", '0'}, {nullptr, '1'}, {"2", '1'}}) {
        value ? setenv("Update_Profile", value, 1) : unsetenv("Update_Profile");
        EXPECT_EQ(qzprofile_set_command("/tmp/q", "V"), std::string("QZPROFILE_OVERRIDE=1 Update_Profile=") + digit + " sh /tmp/q -s V");
    }
    unsetenv("Update_Profile");
}

}  // namespace
