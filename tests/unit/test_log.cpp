#include <gtest/gtest.h>

#include <unistd.h>

#include "log.h"
#include "testutil.h"

using testutil::readFile;

namespace {

class LogTest : public testing::Test {
protected:
    void SetUp() override { testutil::resetOptions(); }
};

TEST_F(LogTest, EachVerbosityRoutesEveryClassToItsStreamAndTheFile)
{
    struct Row {
        bool verbose, veryverbose;
        const char *out, *err, *log;
    };
    const Row rows[] = {
        {false, false, "", "", "error x\n"},
        {true, false, "[TARVO] info 1\n", "[TARVO] error x\n", "info 1\nerror x\n"},
        {true, true, "[TARVO] info 1\n[TARVO] detail\n", "[TARVO] error x\n", "info 1\ndetail\nerror x\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.log);
        testutil::resetOptions();
        g_opts.verbose = r.verbose;
        g_opts.veryverbose = r.veryverbose;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        log_msg(MT_INFO, "info %d\n", 1);
        log_msg(MT_VV, "detail\n");
        log_msg(MT_ERROR, "error %s\n", "x");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), r.out);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), r.err);
        EXPECT_EQ(readFile(LOG_FILE_PATH), r.log);
    }
}

TEST_F(LogTest, RemovedLogIsRecreatedButALinkAtItsNameIsNeverFollowed)
{
    log_msg(MT_ERROR, "one\n");
    EXPECT_EQ(remove_temp_install_log_file(), 0);
    EXPECT_EQ(remove_temp_install_log_file(), -1);
    log_msg(MT_ERROR, "two\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "two\n");

    ASSERT_EQ(remove_temp_install_log_file(), 0);
    testutil::writeFile("/tmp/victim", "keep\n");
    ASSERT_EQ(symlink("/tmp/victim", LOG_FILE_PATH), 0);
    log_msg(MT_ERROR, "planted\n");
    EXPECT_EQ(readFile("/tmp/victim"), "keep\n");
}

}  // namespace
