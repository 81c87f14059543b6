// What an installation records (versions, dependants, the installed-files log), legacy names, and the
// walk below the install directory that never follows a link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <tuple>

#include "filelog.h"
#include "legacy.h"
#include "testutil.h"
#include "treedir.h"
#include "versions.h"

using namespace testutil;
using Names = std::vector<std::string>;

namespace {

TEST(Versions, OnlyThreeDecimalPartsUpTo1000MakeAVersion)
{
    const std::pair<const char*, uint64_t> accepted[] = {
        {"5.2.4", 5002004u}, {"1000.1000.1000", 1001001000u}, {"0.0.0", 0u}, {"05.02.04", 5002004u}};
    for (const auto& [text, value] : accepted)
        EXPECT_EQ(getVersionValue(text), value) << text;
    for (const char* bad : {"1001.0.0", "5.1001.0", "5.2.1001", "5.2", "5..4", ".2.4", "5.2.", "5.2.4.1", "V5.2.4",
                            "", "+5.2.4", "5.-2.4", " 5.2.4", "5.2.4 ", "99999999999999999999.0.0"})
        EXPECT_EQ(getVersionValue(bad), NO_VERSION) << bad;
}

// Only the legacy library's name carries the installation's version; nothing is made of an empty or dotless one.
TEST(Legacy, VersionedLibraryNames)
{
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"2.3.1", "liborvan2.so", "liborvan2.3.1.so"}, {"x", "liborvan2.so.1", "liborvan2.so.1"},
        {"5", "liborvan2.so", "before"},               {"", "libtarvo.so", "before"}, {"5.2.4", "", "before"}};
    for (const auto& [version, name, out] : rows) {
        std::string got = "before";
        EXPECT_EQ(getVersionedLibName(version, name, got), std::string(out) != "before") << name;
        EXPECT_EQ(got, out) << name;
    }
}

Names names(const FileCollection& fc)
{
    Names out;
    for (const FileResource& f : fc.files)
        out.push_back(f.destFilename);
    return out;
}

// The records from none at all to damaged ones; every message reaches the log.
TEST(Installation, RegistryInstalledFilesLogAndObsoleteFiles)
{
    resetOptions();
    g_opts.verbose = true;
    g_opts.caller = "APP1";
    g_thisKitVersionString = "5.2.4";
    const std::string dir = freshDir("records") + "/TARVO", db = installDbPath(dir), dat = filesDatPath(dir);
    std::string version;
    uint64_t value = 0;
    FileCollection fc;
    EXPECT_EQ(getExistingVersion(version, &value, dir), 1);  // nothing installed
    EXPECT_EQ(getNumExistingDependencies(dir), -1);
    EXPECT_FALSE(addDependency(dir));
    EXPECT_FALSE(updateInstalledFilesLog(dir, fc, ""));
    // A missing log is an error only when the installation should have one.
    for (const char* installed : {"", LEGACY_VERSION, "5.2.4"}) {
        g_existingVersionValue = *installed ? getVersionValue(installed) : NO_VERSION;
        EXPECT_EQ(readInstalledFilesLog(dir, fc), std::string(installed) != "5.2.4") << installed;
    }
    for (const std::string& message :
         {"Failed to add dependency to " + db + ".\n", "Unable to open installed files log file: " + dat + "\n",
          "Unable to open " + dat + " for writing, installed file log update failed.\n"})
        EXPECT_NE(readFile(LOG_FILE_PATH).find(message), std::string::npos) << message;

    std::system(("mkdir -p '" + recordDir(dir) + "'").c_str());
    writeFile(db, "APP1 5.2.3\n");  // no version line: whatever the string held goes
    EXPECT_EQ(getExistingVersion(version = "5.2.3", &value, dir), 0);
    EXPECT_EQ(version, "");
    EXPECT_EQ(value, NO_VERSION);
    writeFile(db, "CurrentVersion 5.2\nAPP1 5.2.3\nBACKUP7 \n");
    EXPECT_EQ(getExistingVersion(version, &value, dir), 0);
    EXPECT_EQ(version, "5.2");
    EXPECT_TRUE(addDependency(dir));  // the caller's line keeps its place and gets this kit's version
    EXPECT_EQ(readFile(db), "CurrentVersion 5.2\nAPP1 5.2.4\nBACKUP7 \n");
    writeFile(db, readFile(db) + "\n  \t\n");
    EXPECT_EQ(getNumExistingDependencies(dir), 2);  // blank lines are no dependants
    g_opts.caller = "BACKUP7";  // registered without a version: not a dependant of ours
    EXPECT_FALSE(checkDependency(dir, version));

    // The first word of each line up to the section marker.
    writeFile(dat, "TARVO5/a/lib.so\n   \t TARVO5/b/cfg  trailing words\n\n \t \nTARVO5/u\n"
                   "*#*#*#*#*#-Environment\nafter/it\n");
    fc.files.push_back(FileResource{"kept", "", 0});
    EXPECT_TRUE(readInstalledFilesLog(dir, fc));
    EXPECT_EQ(names(fc), (Names{"kept", "TARVO5/a/lib.so", "TARVO5/b/cfg", "TARVO5/u"}));
    // Payload entries come in only when no recorded name contains them.
    FileCollection zip;
    zip.files = {{"a/lib.so", "", 10}, {"lib/new.so", "", 20}, {"lib/new.so", "", 30}};
    ComposeAllFileCollection(zip, fc);
    EXPECT_EQ(names(fc), (Names{"kept", "TARVO5/a/lib.so", "TARVO5/b/cfg", "TARVO5/u", "lib/new.so"}));

    // ".." anywhere: the log was tampered with, and nothing after it is taken.
    resetOptions();
    writeFile(dat, "first/file\nTARVO5/../../etc/passwd\nlater/file\n");
    bool illegal = false;
    FileCollection tampered;
    EXPECT_FALSE(readInstalledFilesLog(dir, tampered, &illegal));
    EXPECT_TRUE(illegal);
    EXPECT_EQ(names(tampered), Names{"first/file"});
    EXPECT_EQ(readFile(LOG_FILE_PATH), "The installed files log contains an illegal path. This file may have been "
                                       "altered with malicious intent. Exiting.\n");

    // Absent obsolete files are no failure; one that cannot be unlinked is reported and the upgrade goes on.
    resetOptions();
    const std::string obsolete = recordDir(dir) + "/lib/libccme_base.so";
    std::system(("mkdir -p '" + obsolete + "'").c_str());
    EXPECT_TRUE(removeOldRSAFiles(dir));
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Failed to remove obsolete file " + obsolete + ", must be done manually.\n");
}

// Where the opened descriptor really points.
std::string whereIs(int fd)
{
    char buffer[4096];
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
    close(fd);
    return n < 0 ? "" : std::string(buffer, size_t(n));
}

TEST(TreeDir, OpensMakesAndNeverFollowsALinkBelowTheBase)
{
    const std::string dir = freshDir("treedir"), outside = freshDir("treedir_out");
    ASSERT_EQ(mkdir((dir + "/real").c_str(), 0700), 0);
    ASSERT_EQ(symlink(outside.c_str(), (dir + "/real/evil").c_str()), 0);
    writeFile(dir + "/file", "x");
    mode_t mask = umask(077);  // must not narrow the mode of what is made
    EXPECT_EQ(whereIs(openTreeDir(dir, "real//a/b/", true)), dir + "/real/a/b");
    EXPECT_EQ(modeOf(dir + "/real/a") + modeOf(dir + "/real/a/b"), 2 * 0755u);
    EXPECT_EQ(whereIs(openTreeDir(dir, "", false)), dir);
    const std::tuple<const char*, bool, int> refused[] = {
        {"real/evil", false, ELOOP}, {"real/evil/x", true, ELOOP},    {"file/x", true, ENOTDIR},
        {"./real", false, EINVAL},   {"real/../real", false, EINVAL},
    };
    for (const auto& [rel, create, err] : refused) {
        errno = 0;
        EXPECT_EQ(openTreeDir(dir, rel, create), -1) << rel;
        EXPECT_EQ(errno, err) << rel;
    }
    umask(mask);
    EXPECT_FALSE(exists(outside + "/x"));
}

}  // namespace
