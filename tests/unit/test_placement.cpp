#include <bzlib.h>
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "filelog.h"
#include "log.h"
#include "placement.h"
#include "testutil.h"
#include "versions.h"

using testutil::exists;
using testutil::freshDir;
using testutil::modeOf;
using testutil::readFile;
using testutil::writeFile;
using Names = std::vector<std::string>;

// Lets a test act once before the next rename of the code under test; the real rename always follows.
static std::function<void()> g_beforeRename;

extern "C" int rename(const char* from, const char* to) noexcept
{
    using RenameFn = int (*)(const char*, const char*);
    static RenameFn real = reinterpret_cast<RenameFn>(dlsym(RTLD_NEXT, "rename"));
    if (auto hook = std::move(g_beforeRename)) {
        g_beforeRename = nullptr;
        hook();
    }
    return real(from, to);
}

namespace {

Names listDir(const std::string& dir)
{
    Names names;
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string compress(std::string data)
{
    std::vector<char> out(data.size() + data.size() / 100 + 1024);
    unsigned int outLen = unsigned(out.size());
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &outLen, data.data(), unsigned(data.size()), 9, 0, 0), BZ_OK);
    return std::string(out.data(), outLen);
}

// A fake installer file: image bytes, then one bzip2 stream per payload file (garbage for those in `corrupt`).
FileCollection makeInstaller(const std::vector<std::pair<std::string, std::string>>& payload, const Names& corrupt = {})
{
    FileCollection fc;
    fc.strFilename = "/tmp/t_installer.bin";
    std::string image = "\x7f" "ELF fake executable image";
    for (const auto& [name, content] : payload) {
        fc.files.push_back(FileResource{name, "", int64_t(image.size())});
        bool bad = std::find(corrupt.begin(), corrupt.end(), name) != corrupt.end();
        image += bad ? "this is not a bzip2 stream" : compress(content);
    }
    writeFile(fc.strFilename, image + "catalog;12\n");
    return fc;
}

bool logHas(const std::string& text)
{
    return readFile(LOG_FILE_PATH).find(text) != std::string::npos;
}

class PlacementTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        g_opts.verbose = g_opts.veryverbose = true;
        g_thisKitVersionString = "5.2.4";
        dir = freshDir("place");
        oldMask = umask(077);
    }
    void TearDown() override
    {
        umask(oldMask);
        g_beforeRename = nullptr;
    }
    bool install(FileCollection& fc) { return installFiles(dir, fc, fc.files); }

    std::string dir;
    mode_t oldMask = 0;
};

TEST_F(PlacementTest, CreateDirectoryPath)
{
    EXPECT_EQ(createDirectoryPath(dir + "/a//b"), 0);
    EXPECT_EQ(modeOf(dir + "/a"), 0755u);
    EXPECT_EQ(modeOf(dir + "/a/b"), 0755u);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Created directory " + dir + "/a//\nCreated directory " + dir + "/a//b\n");

    std::remove(LOG_FILE_PATH);
    EXPECT_EQ(createDirectoryPath(dir + "/a/b"), 0);
    EXPECT_FALSE(exists(LOG_FILE_PATH));
    writeFile(dir + "/file", "x");
    EXPECT_EQ(createDirectoryPath(dir + "/file"), 2);
    EXPECT_EQ(createDirectoryPath(dir + "/file/sub/deeper"), 2);
    EXPECT_EQ(createDirectoryPath(""), 1);
}

TEST_F(PlacementTest, EmptyListTouchesNothing)
{
    FileCollection fc = makeInstaller({});
    EXPECT_TRUE(install(fc));
    EXPECT_TRUE(listDir(dir).empty());
}

TEST_F(PlacementTest, FreshInstallPlacesByteIdenticalFilesWith0755)
{
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7919 % 251);
    FileCollection fc = makeInstaller({{"libtarvo.so", big}, {"liborvan2.so", "legacy\n"}, {"cfg", ""}});
    EXPECT_TRUE(install(fc));
    // The legacy library goes in under its versioned name.
    EXPECT_EQ(listDir(dir), (Names{"cfg", "liborvan2.2.4.so", "libtarvo.so"}));
    EXPECT_EQ(readFile(dir + "/libtarvo.so"), big);
    EXPECT_EQ(readFile(dir + "/liborvan2.2.4.so"), "legacy\n");
    for (const std::string& name : listDir(dir))
        EXPECT_EQ(modeOf(dir + "/" + name), 0755u) << name;
    EXPECT_TRUE(logHas("has been moved to " + dir + "/cfg [1]\n"));
}

TEST_F(PlacementTest, ReinstallReplacesExistingFilesAndDropsBackups)
{
    writeFile(dir + "/a", "old a");
    writeFile(dir + "/b", "old b");
    chmod((dir + "/a").c_str(), 0600);
    FileCollection fc = makeInstaller({{"a", "new a"}, {"b", "new b"}});
    EXPECT_TRUE(install(fc));
    EXPECT_EQ(listDir(dir), (Names{"a", "b"}));
    EXPECT_EQ(readFile(dir + "/a") + readFile(dir + "/b"), "new anew b");
    EXPECT_EQ(modeOf(dir + "/a"), 0755u);
    EXPECT_TRUE(logHas("has been moved to " + dir + "/b [6]\n"));
}

TEST_F(PlacementTest, DestinationThatCannotBeMovedAsideRollsBackTheDirectory)
{
    writeFile(dir + "/a", "old a");
    mkdir((dir + "/b").c_str(), 0755);
    FileCollection fc = makeInstaller({{"n", "new n"}, {"a", "new a"}, {"b", "new b"}, {"c", "new c"}});
    EXPECT_FALSE(install(fc));
    EXPECT_EQ(listDir(dir), (Names{"a", "b"}));
    EXPECT_EQ(readFile(dir + "/a"), "old a");
    std::string log = readFile(LOG_FILE_PATH), expected = "Failed to move " + dir + "/b  to " + dir + "/pk.";
    size_t at = log.find(expected);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.substr(at + expected.size() + 6, 5), " [7]\n");
}

TEST_F(PlacementTest, VanishedTemporaryFileLeavesTheExistingFileInPlace)
{
    writeFile(dir + "/a", "old a");
    writeFile(dir + "/b", "old b");
    FileCollection fc = makeInstaller({{"a", "new a"}, {"b", "new b"}});
    g_beforeRename = [&fc] { unlink(fc.files[1].tempFilename.c_str()); };
    EXPECT_TRUE(install(fc));
    EXPECT_EQ(listDir(dir), (Names{"a", "b"}));
    EXPECT_EQ(readFile(dir + "/a") + readFile(dir + "/b"), "new aold b");
    EXPECT_TRUE(logHas("File " + dir + "/b can not be installed by this setup file, hence it has been left as it is \n"));
}

TEST_F(PlacementTest, CorruptStreamFailsBeforeAnythingIsMoved)
{
    writeFile(dir + "/a", "old a");
    FileCollection fc = makeInstaller({{"a", "new a"}, {"c", "new c"}}, {"c"});
    EXPECT_FALSE(install(fc));
    EXPECT_EQ(listDir(dir), Names{"a"});
    EXPECT_EQ(readFile(dir + "/a"), "old a");
    EXPECT_TRUE(logHas("Failed to decompress c to " + fc.files[1].tempFilename + "\n"));
}

TEST_F(PlacementTest, FullFileSystemLeavesTheDirectoryUnchanged)
{
    auto mountSmall = [this](const std::string& options) {
        umount(dir.c_str());
        ASSERT_EQ(mount("tarvo-small", dir.c_str(), "tmpfs", 0, options.c_str()), 0);
        writeFile(dir + "/a", "old a");
    };
    mountSmall("size=256k");
    FileCollection big = makeInstaller({{"a", std::string(1 << 20, 'z')}});
    EXPECT_FALSE(install(big));
    EXPECT_EQ(listDir(dir), Names{"a"});

    // Root, "a", two temporary files and two backup names take six inodes; any shortfall must fail cleanly.
    for (int inodes = 3; inodes <= 6; ++inodes) {
        mountSmall("size=1m,nr_inodes=" + std::to_string(inodes));
        FileCollection fc = makeInstaller({{"a", "new a"}, {"b", "new b"}});
        EXPECT_EQ(install(fc), inodes == 6) << inodes;
        EXPECT_EQ(listDir(dir), inodes == 6 ? (Names{"a", "b"}) : Names{"a"}) << inodes;
        EXPECT_EQ(readFile(dir + "/a"), inodes == 6 ? "new a" : "old a") << inodes;
    }
    umount(dir.c_str());
}

TEST_F(PlacementTest, StructureIsPlacedDepthFirst)
{
    std::string root = dir + "/x";
    FileCollection fc = makeInstaller({{"a/b/f1", "1"}, {"f3", "3"}, {"a/f2", "2"}});
    EXPECT_TRUE(installStructure(root, fc, fc.files));
    EXPECT_EQ(readFile(root + "/a/b/f1") + readFile(root + "/a/f2") + readFile(root + "/f3"), "123");

    Names events;
    const std::string created = "Created directory ", moved = " has been moved to ", placed = " [1]";
    std::istringstream log(readFile(LOG_FILE_PATH));
    for (std::string line; std::getline(log, line);) {
        size_t at = line.find(moved);
        if (line.rfind(created, 0) == 0)
            events.push_back("dir " + line.substr(created.size()));
        else if (line.rfind("File ", 0) == 0 && at != std::string::npos)
            events.push_back("file " + line.substr(at + moved.size(), line.size() - placed.size() - at - moved.size()));
    }
    EXPECT_EQ(events, (Names{"dir " + root, "dir " + root + "/a", "dir " + root + "/a/b", "file " + root + "/a/b/f1",
                             "file " + root + "/a/f2", "file " + root + "/f3"}));
}

TEST_F(PlacementTest, SubdirectoryFailureStopsBeforeTheLevelsOwnFiles)
{
    g_opts = opts();
    writeFile(dir + "/a", "a regular file where a directory belongs");
    FileCollection fc = makeInstaller({{"top", "t"}, {"a/f", "f"}});
    EXPECT_FALSE(installStructure(dir, fc, fc.files));
    EXPECT_EQ(listDir(dir), Names{"a"});
    EXPECT_EQ(readFile(LOG_FILE_PATH),
              "Failed to create installation directory\nA component of the installation path was not a directory\n");
}

}  // namespace
