#include <gtest/gtest.h>

#include "log.h"
#include "testutil.h"

using testutil::readFile;

namespace {

struct Captured {
    std::string out, err;
};

template <typename F>
Captured capture(F f)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    fflush(stdout);
    Captured c;
    c.out = testing::internal::GetCapturedStdout();
    c.err = testing::internal::GetCapturedStderr();
    return c;
}

class LogTest : public testing::Test {
protected:
    void SetUp() override { testutil::resetOptions(); }
};

TEST_F(LogTest, QuietRunWritesOnlyErrorsAndOnlyToTheFile)
{
    Captured c = capture([] {
        log_msg(MT_INFO, "info %d\n", 1);
        log_msg(MT_VV, "detail\n");
        log_msg(MT_ERROR, "error %s\n", "x");
    });
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "error x\n");
}

TEST_F(LogTest, VerboseRoutesInfoToStdoutAndErrorsToStderrWithPrefix)
{
    g_opts.verbose = true;
    Captured c = capture([] {
        log_msg(MT_INFO, "info\n");
        log_msg(MT_ERROR, "This installer application is already running in another process.\nLock file: %s\n",
                "/tmp/l");
        log_msg(MT_VV, "detail\n");
    });
    EXPECT_EQ(c.out, "[TARVO] info\n");
    EXPECT_EQ(c.err,
              "[TARVO] This installer application is already running in another process.\nLock file: /tmp/l\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH),
              "info\nThis installer application is already running in another process.\nLock file: /tmp/l\n");
}

TEST_F(LogTest, VeryVerboseWritesEveryClassEverywhere)
{
    g_opts.verbose = g_opts.veryverbose = true;
    Captured c = capture([] {
        log_msg(MT_VV, "a\n");
        log_msg(MT_INFO, "b\n");
    });
    EXPECT_EQ(c.out, "[TARVO] a\n[TARVO] b\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "a\nb\n");
}

TEST_F(LogTest, DeletedLogIsRecreatedAndRemovalReportsMissingFile)
{
    log_msg(MT_ERROR, "one\n");
    EXPECT_EQ(remove_temp_install_log_file(), 0);
    EXPECT_EQ(remove_temp_install_log_file(), -1);
    log_msg(MT_ERROR, "two\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "two\n");
}

TEST_F(LogTest, SymlinkAtTheLogNameIsNeverFollowed)
{
    testutil::writeFile("/tmp/victim", "keep\n");
    ASSERT_EQ(symlink("/tmp/victim", LOG_FILE_PATH), 0);
    log_msg(MT_ERROR, "planted\n");
    EXPECT_EQ(readFile("/tmp/victim"), "keep\n");
}

}  // namespace
