#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "filelog.h"
#include "placement.h"
#include "testutil.h"
#include "versions.h"

using namespace testutil;
using Payload = std::vector<std::pair<std::string, std::string>>;

// Lets a test act once before the next rename of the code under test; the real rename always follows.
static std::function<void()> g_beforeRename;

extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to) noexcept
{
    static auto real = reinterpret_cast<int (*)(int, const char*, int, const char*)>(dlsym(RTLD_NEXT, "renameat"));
    if (auto hook = std::move(g_beforeRename)) {
        g_beforeRename = nullptr;
        hook();
    }
    return real(fromDir, from, toDir, to);
}

namespace {

const std::string dir = "/tmp/t_place";

// A fresh verbose run, with a umask that the installed modes must not depend on.
void start()
{
    resetOptions();
    g_opts.verbose = g_opts.veryverbose = true;
    g_thisKitVersionString = "5.2.4";
    freshDir("place");
    umask(077);
}

// A fake installer file: image bytes, then one bzip2 stream per payload file.
FileCollection make(const Payload& payload)
{
    FileCollection fc;
    fc.strFilename = "/tmp/t_installer.bin";
    std::string image = "\x7f" "ELF fake executable image";
    for (const auto& [name, content] : payload) {
        fc.files.push_back(FileResource{name, "", int64_t(image.size())});
        image += bzip2(content);
    }
    writeFile(fc.strFilename, image + "catalog;12\n");
    return fc;
}

bool install(const Payload& payload)
{
    FileCollection fc = make(payload);
    return installFiles(dir, fc, fc.files);
}

// Every entry of `dir` with its content: "name=content;" or "name/;".
std::string tree()
{
    std::map<std::string, std::string> entries;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        entries[e.path().filename()] = e.is_directory() ? "/" : "=" + readFile(e.path());
    std::string out;
    for (const auto& [name, what] : entries)
        out += name + what + ";";
    return out;
}

TEST(Placement, CreateDirectoryPath)
{
    start();
    EXPECT_EQ(createDirectoryPath(dir + "/a//b"), 0);
    EXPECT_EQ(modeOf(dir + "/a") + modeOf(dir + "/a/b"), 2 * 0755u);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Created directory " + dir + "/a//\nCreated directory " + dir + "/a//b\n");
    std::remove(LOG_FILE_PATH);
    EXPECT_EQ(createDirectoryPath(dir + "/a/b") + exists(LOG_FILE_PATH), 0);
    writeFile(dir + "/file", "x");
    EXPECT_EQ(createDirectoryPath(dir + "/file/sub/deeper"), 2);
    EXPECT_EQ(createDirectoryPath(""), 1);
}

TEST(Placement, PlacesNewFilesThenReplacesThem)
{
    start();
    EXPECT_TRUE(install({}));
    EXPECT_EQ(tree(), "");
    // The legacy library goes in under its versioned name.
    EXPECT_TRUE(install({{"liborvan2.so", "legacy\n"}, {"cfg", ""}}));
    EXPECT_EQ(tree(), "cfg=;liborvan2.2.4.so=legacy\n;");
    EXPECT_TRUE(logged("has been moved to " + dir + "/cfg [1]\n"));

    // Replacing: cfg goes through its backup name; the hook takes liborvan's temporary file away.
    chmod((dir + "/cfg").c_str(), 0600);
    g_beforeRename = [] {
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (readFile(e.path()) == "lost")
                unlink(e.path().c_str());
    };
    EXPECT_TRUE(install({{"b", "new b"}, {"cfg", "new cfg"}, {"liborvan2.so", "lost"}}));
    EXPECT_EQ(tree(), "b=new b;cfg=new cfg;liborvan2.2.4.so=legacy\n;");
    EXPECT_TRUE(logged("has been moved to " + dir + "/cfg [6]\n"));
    EXPECT_TRUE(logged("File " + dir + "/liborvan2.2.4.so can not be installed by this setup file, hence it has been left as it is \n"));
    for (const char* name : {"b", "cfg", "liborvan2.2.4.so"})
        EXPECT_EQ(modeOf(dir + "/" + name), 0755u) << name;
}

TEST(Placement, ALevelWhoseSubdirectoryCannotBeMadeStopsBeforeItsOwnFiles)
{
    start();
    writeFile(dir + "/b", "a regular file where a directory belongs");
    FileCollection fc = make({{"top", "t"}, {"b/f", "f"}});
    g_opts = opts();
    std::remove(LOG_FILE_PATH);
    EXPECT_FALSE(installStructure(dir, fc, fc.files));
    EXPECT_EQ(tree(), "b=a regular file where a directory belongs;");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Failed to create installation directory\nA component of the installation path was not a directory\n");
}

}  // namespace
