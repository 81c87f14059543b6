#include <gtest/gtest.h>

#include "filelog.h"
#include "log.h"
#include "testutil.h"
#include "versions.h"

using namespace testutil;
using Names = std::vector<std::string>;

namespace {

Names names(const FileCollection& fc)
{
    Names out;
    for (const FileResource& f : fc.files)
        out.push_back(f.destFilename);
    return out;
}

class FileLogTest : public testing::Test {
protected:
    void SetUp() override
    {
        resetOptions();
        g_thisKitVersionString = "5.2.4";
        g_existingVersionValue = NO_VERSION;
        installDir = freshDir("filelog") + "/TARVO";
        std::system(("mkdir -p '" + recordDir(installDir) + "'").c_str());
    }
    void TearDown() override { g_existingVersionValue = NO_VERSION; }

    std::string installDir;
};

TEST_F(FileLogTest, MissingLogIsOnlyAnErrorWhenAnInstallationShouldHaveOne)
{
    for (const char* installed : {"", "2.3.3", "5.2.4"}) {
        std::remove(LOG_FILE_PATH);
        g_existingVersionValue = *installed ? getVersionValue(installed) : NO_VERSION;
        bool ok = std::string(installed) != "5.2.4", illegal = true;
        FileCollection fc;
        EXPECT_EQ(readInstalledFilesLog(installDir, fc, &illegal), ok) << installed;
        EXPECT_FALSE(illegal);
        EXPECT_TRUE(fc.files.empty());
        std::string expected = "Unable to open installed files log file: " + filesDatPath(installDir) + "\n";
        EXPECT_EQ(readFile(LOG_FILE_PATH), ok ? "" : expected);
    }
}

TEST_F(FileLogTest, ReadsFirstWordsUpToTheSectionMarker)
{
    writeFile(filesDatPath(installDir), "TARVO5/a/lib.so\n   \t TARVO5/b/cfg  trailing words\n\n \t \n"
                                        "TARVO5/uninstaller\n*#*#*#*#*#-Environment\nenv.usr.QZLIB.set=1\nafter/it\n");
    FileCollection fc;
    fc.files.push_back(FileResource{"kept", "", 0});
    EXPECT_TRUE(readInstalledFilesLog(installDir, fc));
    EXPECT_EQ(names(fc), (Names{"kept", "TARVO5/a/lib.so", "TARVO5/b/cfg", "TARVO5/uninstaller"}));
    EXPECT_EQ(fc.files[1].lOffset, 0);
    EXPECT_EQ(fc.files[1].tempFilename, "");
}

TEST_F(FileLogTest, DoubleDotAnywhereRejectsTheLog)
{
    for (const char* bad : {"TARVO5/../../etc/passwd", "TARVO5/a..b"}) {
        std::remove(LOG_FILE_PATH);
        writeFile(filesDatPath(installDir), std::string("first/file\n") + bad + "\nlater/file\n");
        FileCollection fc;
        bool illegal = false;
        EXPECT_FALSE(readInstalledFilesLog(installDir, fc, &illegal)) << bad;
        EXPECT_TRUE(illegal);
        EXPECT_EQ(names(fc), Names{"first/file"});
        EXPECT_EQ(readFile(LOG_FILE_PATH), "The installed files log contains an illegal path. This file may have been "
                                           "altered with malicious intent. Exiting.\n");
    }
}

TEST_F(FileLogTest, ComposeAddsOnlyPayloadEntriesThatNoRecordedNameContains)
{
    FileCollection zip, log;
    zip.files = {{"lib/libx.so", "", 10}, {"lib/new.so", "", 20}, {"lib/new.so", "", 30}};
    log.files = {{"T/lib/libx.so.1", "", 0}};
    ComposeAllFileCollection(zip, log);
    EXPECT_EQ(names(log), (Names{"T/lib/libx.so.1", "lib/new.so"}));
    EXPECT_EQ(log.files[1].lOffset, 20);
}

TEST_F(FileLogTest, RemoveTempFilesCleansOnlyPayloadDirectories)
{
    std::string sub = installDir + "/TARVO5/lib";
    std::system(("mkdir -p '" + sub + "'").c_str());
    for (const char* name : {"pk.Ab12Cd", "xpk.1", "libx.so"})
        writeFile(sub + "/" + name, "x");
    writeFile(installDir + "/pk.top", "x");
    FileCollection log;
    log.files = {{"TARVO5/lib/libx.so", "", 0}, {"TARVO5/lib/liby.so", "", 0}, {"toplevel", "", 0},
                 {"TARVO5/missing/f", "", 0}};
    RemoveTempFiles(installDir, log);
    EXPECT_FALSE(exists(sub + "/pk.Ab12Cd"));
    for (const std::string& kept : {sub + "/xpk.1", sub + "/libx.so", installDir + "/pk.top"})
        EXPECT_TRUE(exists(kept)) << kept;
}

TEST_F(FileLogTest, UpdateWritesPathsThenTheSectionVerbatim)
{
    FileCollection fc, back;
    fc.files = {{"TARVO5/a", "", 5}, {"TARVO5/b/c", "", 9}};
    std::string section = "*#*#*#*#*#-Environment\nenv.usr.QZSHCOMP.set=1\n";
    writeFile(filesDatPath(installDir), "old content that must go\n");
    EXPECT_TRUE(updateInstalledFilesLog(installDir, fc, section));
    EXPECT_EQ(readFile(filesDatPath(installDir)), "TARVO5/a\nTARVO5/b/c\n" + section);
    EXPECT_TRUE(readInstalledFilesLog(installDir, back));
    EXPECT_EQ(names(back), names(fc));

    std::string nowhere = installDir + "/missing";
    resetOptions();
    g_opts.verbose = g_opts.veryverbose = true;
    EXPECT_FALSE(updateInstalledFilesLog(nowhere, fc, ""));
    EXPECT_FALSE(exists(filesDatPath(nowhere)));
    EXPECT_EQ(readFile(LOG_FILE_PATH),
              "Unable to open " + filesDatPath(nowhere) + " for writing, installed file log update failed.\n");
}

}  // namespace
