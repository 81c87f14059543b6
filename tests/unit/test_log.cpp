#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

TEST_F(LogTest, RemovedLogIsRecreated)
{
    log_msg(MT_ERROR, "one\n");
    EXPECT_EQ(remove_temp_install_log_file(), 0);
    EXPECT_EQ(remove_temp_install_log_file(), -1);
    log_msg(MT_ERROR, "two\n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "two\n");
}

// Whatever is planted at the log's name, a message neither blocks nor reaches another file.
TEST_F(LogTest, PlantedLinksAndFifosAtItsNameAreNeverWrittenOrWaitedOn)
{
    const char* victim = "/tmp/victim";
    struct Row {
        const char* what;
        int (*plant)(const char* victim);
        bool reader;
    };
    const Row rows[] = {
        {"symbolic link", [](const char* v) { return symlink(v, LOG_FILE_PATH); }, false},
        {"hard link", [](const char* v) { return link(v, LOG_FILE_PATH); }, false},
        {"fifo", [](const char*) { return mkfifo(LOG_FILE_PATH, 0666); }, false},
        {"fifo with a reader", [](const char*) { return mkfifo(LOG_FILE_PATH, 0666); }, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        remove_temp_install_log_file();
        testutil::writeFile(victim, "keep\n");
        ASSERT_EQ(r.plant(victim), 0);
        int reader = r.reader ? open(LOG_FILE_PATH, O_RDONLY | O_NONBLOCK) : -1;
        pid_t child = fork();
        if (child == 0) {
            alarm(5);
            log_msg(MT_ERROR, "planted\n");
            _exit(0);
        }
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status)) << "blocked";
        EXPECT_EQ(readFile(victim), "keep\n");
        if (reader >= 0) {
            char c;
            EXPECT_LE(read(reader, &c, 1), 0);
            close(reader);
        }
    }
    remove_temp_install_log_file();
}

}  // namespace
