#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "testutil.h"
#include "treedir.h"

using namespace testutil;

namespace {

// Where the opened descriptor really points.
std::string whereIs(int fd)
{
    char buffer[4096];
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
    return n < 0 ? "" : std::string(buffer, size_t(n));
}

TEST(TreeDir, OpensMakesAndNeverFollowsALinkBelowTheBase)
{
    resetOptions();
    std::string dir = freshDir("treedir"), outside = freshDir("treedir_out");
    ASSERT_EQ(mkdir((dir + "/real").c_str(), 0700), 0);
    ASSERT_EQ(symlink(dir.c_str(), (outside + "/base").c_str()), 0);  // the base itself may be a link
    ASSERT_EQ(symlink(outside.c_str(), (dir + "/real/evil").c_str()), 0);
    writeFile(dir + "/file", "x");
    mode_t mask = umask(077);

    int fd = openTreeDir(outside + "/base", "real//a/b/", true);
    EXPECT_EQ(whereIs(fd), dir + "/real/a/b");
    EXPECT_EQ(modeOf(dir + "/real/a"), 0755u);
    EXPECT_EQ(modeOf(dir + "/real/a/b"), 0755u);
    close(fd);
    fd = openTreeDir(dir, "", false);
    EXPECT_EQ(whereIs(fd), dir);
    close(fd);

    const struct {
        const char* rel;
        bool create;
        int err;
    } refused[] = {
        {"real/evil", false, ELOOP},    {"real/evil/x", true, ELOOP}, {"file/x", true, ENOTDIR},
        {"real/missing", false, ENOENT}, {"real/../real", false, EINVAL}, {"./real", false, EINVAL},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.rel);
        errno = 0;
        EXPECT_EQ(openTreeDir(dir, row.rel, row.create), -1);
        EXPECT_EQ(errno, row.err);
    }
    umask(mask);
    EXPECT_FALSE(exists(outside + "/x"));
    EXPECT_FALSE(exists(dir + "/real/missing"));
}

}  // namespace
