#include <gtest/gtest.h>
#include <sys/stat.h>

#include "records.h"
#include "testutil.h"
#include "versions.h"

using testutil::readFile;
using testutil::writeFile;

namespace {

class VersionsTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        g_opts.verbose = g_opts.veryverbose = true;  // every class reaches the log file
        g_opts.caller = "APP1";
        g_thisKitVersionString = "5.2.4";
        g_thisKitVersionValue = 5002004;
        g_existingVersionString.clear();
        g_existingVersionValue = NO_VERSION;
        dir = testutil::freshDir("versions");
        std::system(("mkdir -p '" + recordDir(dir) + "'").c_str());
        db = installDbPath(dir);
    }
    std::string dir, db;
};

TEST(VersionValue, AcceptedAndRejectedStrings)
{
    EXPECT_EQ(getVersionString(5, 2, 4), "5.2.4");
    const std::pair<const char*, uint64_t> accepted[] = {
        {"5.2.4", 5002004u}, {"2.3.3", 2003003u}, {"1000.1000.1000", 1001001000u}, {"0.0.0", 0u}, {"05.02.04", 5002004u}};
    for (const auto& row : accepted)
        EXPECT_EQ(getVersionValue(row.first), row.second) << row.first;
    EXPECT_GT(getVersionValue("5.10.0"), getVersionValue("5.9.9"));
    for (const char* bad : {"1001.0.0", "5.1001.0", "5.2.1001", "5.2", "5..4", ".2.4", "5.2.", "5.2.4.1", "V5.2.4",
                            "5.2.x", "", "+5.2.4", "5.-2.4", " 5.2.4", "5.2.4 ", "5.2.4\r",
                            "99999999999999999999.0.0"})
        EXPECT_EQ(getVersionValue(bad), NO_VERSION) << bad;
}

TEST_F(VersionsTest, ExistingVersionResults)
{
    std::string version = "old";
    uint64_t value = 42;
    EXPECT_EQ(getExistingVersion(version, &value, dir), 1);  // no registry
    EXPECT_EQ(version, "old");
    EXPECT_EQ(value, 42u);

    writeFile(db, "APP1 5.2.4\n");  // no version line
    EXPECT_EQ(getExistingVersion(version, &value, dir), 0);
    EXPECT_EQ(version, "");
    EXPECT_EQ(value, NO_VERSION);

    writeFile(db, "CurrentVersion 5.2\nAPP1 5.2.4\n");
    EXPECT_EQ(getExistingVersion(version, &value, dir), 0);
    EXPECT_EQ(version, "5.2");

    EXPECT_TRUE(setExistingVersion("2.3.3", dir));
    EXPECT_EQ(readFile(db), "CurrentVersion 2.3.3\nAPP1 5.2.4\n");
    EXPECT_EQ(getExistingVersion(version, &value, dir), 2);
    EXPECT_EQ(version, "2.3.3");
    EXPECT_EQ(value, 2003003u);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Existing Version RV=1\nExisting Version RV=0\nExisting Version RV=0\n"
                                       "Existing Version RV=2\n");
}

TEST_F(VersionsTest, DependantsAddCheckCountRemove)
{
    EXPECT_EQ(getNumExistingDependencies(dir), -1);
    EXPECT_TRUE(setExistingVersion("5.2.4", dir));
    EXPECT_EQ(getNumExistingDependencies(dir), 0);

    g_thisKitVersionString = "5.2.3";
    EXPECT_TRUE(addDependency(dir));
    g_opts.caller = "BACKUP7";
    EXPECT_TRUE(addDependency(dir));
    g_opts.caller = "APP1";
    g_thisKitVersionString = "5.2.4";
    EXPECT_TRUE(addDependency(dir));  // same caller again: one line, newer version
    EXPECT_EQ(readFile(db), "CurrentVersion 5.2.4\nAPP1 5.2.4\nBACKUP7 5.2.3\n");

    writeFile(db, readFile(db) + "\n  \t\n\n");
    EXPECT_EQ(getNumExistingDependencies(dir), 2);

    std::string version;
    EXPECT_TRUE(checkDependency(dir, version));
    EXPECT_EQ(version, "5.2.4");
    EXPECT_TRUE(removeDependency(dir));
    version = "x";
    EXPECT_FALSE(checkDependency(dir, version));
    EXPECT_TRUE(removeDependency(dir));  // no line left is still success
    EXPECT_EQ(getNumExistingDependencies(dir), 1);

    writeFile(db, "CurrentVersion 5.2.4\nAPP1 \n");  // registered without a version does not count
    EXPECT_FALSE(checkDependency(dir, version));

    std::string missing = dir + "/absent";
    EXPECT_FALSE(addDependency(missing));
    EXPECT_NE(readFile(LOG_FILE_PATH).find("Failed to add dependency to " + installDbPath(missing) + ".\n"),
              std::string::npos);
}

TEST_F(VersionsTest, IntegrityAndUpgradeDecision)
{
    // A long install directory: paths are never cut short.
    std::string longDir = dir + "/" + std::string(120, 'd') + "/" + std::string(120, 'e');
    std::string lib = std::string(RECORD_SUBDIR) + "/lib/libtarvo.so";
    std::system(("mkdir -p '" + longDir + "/" + RECORD_SUBDIR + "/lib'").c_str());
    writeFile(longDir + "/" + lib, "x");
    FileCollection payload;
    payload.files.push_back({lib, "", 10});
    payload.files.push_back({std::string(RECORD_SUBDIR) + "/uninstaller", "", 20});

    EXPECT_TRUE(fileIntegrity(longDir, FileCollection()));
    EXPECT_FALSE(fileIntegrity(longDir, payload));
    std::string log = readFile(LOG_FILE_PATH);
    EXPECT_NE(log.find("File " + longDir + "/" + lib + " is present in existing installation.\n"), std::string::npos);
    EXPECT_NE(log.find("File " + longDir + "/" + RECORD_SUBDIR + "/uninstaller is not present in existing installation.\n"),
              std::string::npos);

    g_existingVersionValue = NO_VERSION;
    EXPECT_TRUE(decideUpgrade(longDir, payload));
    g_existingVersionValue = 2003003;
    EXPECT_TRUE(decideUpgrade(longDir, payload));
    g_existingVersionValue = 5002004;
    EXPECT_TRUE(decideUpgrade(longDir, payload));  // same version, one file missing
    writeFile(longDir + "/" + RECORD_SUBDIR + "/uninstaller", "x");
    EXPECT_FALSE(decideUpgrade(longDir, payload));

    testutil::resetOptions();
    g_existingVersionValue = 5010000;
    EXPECT_FALSE(decideUpgrade(longDir, payload));
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Existing Version is higher than installing Version\n");
}

}  // namespace
