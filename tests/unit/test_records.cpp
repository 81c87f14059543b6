#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <set>

#include "records.h"
#include "testutil.h"

using testutil::readFile;
using testutil::writeFile;

namespace {

const std::string HDR = SECTION_DELIMITER;

std::set<std::string> listDir(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename());
    return names;
}

class RecordsTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        umask(022);
        installDir = testutil::freshDir("records");
        dir = recordDir(installDir);
        std::system(("mkdir -p '" + dir + "'").c_str());
        db = dir + "/.installdb";
    }
    std::string installDir, dir, db;
};

TEST_F(RecordsTest, MatchingRulesOfReadRemoveAndUpdate)
{
    // removed: removeFileLine takes the line out; replaced: updateFileLine replaces it (else adds a first line).
    const struct {
        const char* line;
        int readRc;
        const char* readValue;
        bool removed, replaced;
    } rows[] = {
        {"CurrentVersion 5.2.4", 0, "5.2.4", true, true},
        {"currentversion 5.2.4", 0, "5.2.4", true, true},
        {"CurrentVersion ", 1, "", true, true},
        {"CurrentVersion", 2, "untouched", false, true},
        {"CurrentVersion  5.2.4", 2, "untouched", false, true},
        {"CurrentVersion 5.2.4 x", 2, "untouched", false, true},
        {"  CurrentVersion 5.2.4", 0, "5.2.4", true, true},
        {"\tCurrentVersion\t5.2.4", 0, "5.2.4", true, true},
        {"CurrentVersionX 5.2.4", 2, "untouched", false, false},
        {"CurrentVersion 5.2.4\r", 0, "5.2.4\r", true, true},
        {"   ", 2, "untouched", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const std::string original = std::string("APP1 1.0.0\n") + row.line + "\nAPP2 2.0.0\n";

        writeFile(db, original);
        std::string value = "untouched";
        EXPECT_EQ(readFileLine(db, "CurrentVersion", value), row.readRc);
        EXPECT_EQ(value, row.readValue);

        EXPECT_TRUE(removeFileLine(db, "CurrentVersion"));
        EXPECT_EQ(readFile(db), row.removed ? "APP1 1.0.0\nAPP2 2.0.0\n" : original);

        writeFile(db, original);
        EXPECT_TRUE(updateFileLine(db, "CurrentVersion", "9.9.9", false));
        EXPECT_EQ(readFile(db), row.replaced ? "APP1 1.0.0\nCurrentVersion 9.9.9\nAPP2 2.0.0\n"
                                             : "CurrentVersion 9.9.9\n" + original);
    }
}

TEST_F(RecordsTest, MissingAndEmptyFiles)
{
    std::string value = "keep";
    EXPECT_EQ(readFileLine(db, "CurrentVersion", value), -1);
    EXPECT_EQ(value, "keep");

    EXPECT_TRUE(removeFileLine(db, "APP1"));  // creates an empty registry
    EXPECT_TRUE(testutil::exists(db));
    EXPECT_EQ(readFile(db), "");
    EXPECT_EQ(readFileLine(db, "CurrentVersion", value), 2);
    EXPECT_EQ(value, "keep");

    std::remove(db.c_str());
    umask(077);
    EXPECT_TRUE(updateFileLine(db, "CurrentVersion", "5.2.4", true));
    umask(022);
    EXPECT_EQ(readFile(db), "CurrentVersion 5.2.4\n");
    EXPECT_EQ(testutil::modeOf(db), 0644u);

    std::string missing = dir + "/no/such/.installdb";
    EXPECT_FALSE(updateFileLine(missing, "APP1", "5.2.4", true));
    EXPECT_FALSE(removeFileLine(missing, "APP1"));
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to create/write to file " + missing +
                                           "\nUnable to create/write to file " + missing + "\n");
}

TEST_F(RecordsTest, InsertPositionsOrderFinalLineWithoutLFAndFirstOfTwo)
{
    writeFile(db, "CurrentVersion 5.2.4\nAPP1 5.2.4\nAPP2 5.2.4");  // last line has no LF
    EXPECT_TRUE(updateFileLine(db, "APP3", "5.2.4", true));
    EXPECT_EQ(readFile(db), "CurrentVersion 5.2.4\nAPP1 5.2.4\nAPP2 5.2.4\nAPP3 5.2.4\n");
    EXPECT_TRUE(updateFileLine(db, "NewKey", "v", false));
    EXPECT_EQ(readFile(db), "NewKey v\nCurrentVersion 5.2.4\nAPP1 5.2.4\nAPP2 5.2.4\nAPP3 5.2.4\n");
    EXPECT_TRUE(updateFileLine(db, "app1", "6.0.0", true));  // case-insensitive key, written as given
    EXPECT_EQ(readFile(db), "NewKey v\nCurrentVersion 5.2.4\napp1 6.0.0\nAPP2 5.2.4\nAPP3 5.2.4\n");

    writeFile(db, "A 1\nB 2\nC 3");
    EXPECT_TRUE(removeFileLine(db, "B"));
    EXPECT_EQ(readFile(db), "A 1\nC 3\n");

    // A key present twice: only its first line is touched.
    writeFile(db, "CurrentVersion 5.2.4\nAPP1 1\nX 0\nAPP1 2\n");
    EXPECT_TRUE(updateFileLine(db, "APP1", "3", true));
    EXPECT_EQ(readFile(db), "CurrentVersion 5.2.4\nAPP1 3\nX 0\nAPP1 2\n");
    EXPECT_TRUE(removeFileLine(db, "APP1"));
    EXPECT_EQ(readFile(db), "CurrentVersion 5.2.4\nX 0\nAPP1 2\n");
}

// Only this program's temporaries go, and only at the start of a run: never an administrator's
// copy of a record, a look-alike, a payload backup, or anything reached through a link.
TEST_F(RecordsTest, ReplacementKeepsModeAndOwnerAndOnlyOurTemporariesAreCleaned)
{
    std::set<std::string> expected{".installdb",      ".installdb.backup", ".files.dat.saved1",     ".installdb.Ab12Cd",
                                   ".tarvotmp.Ab12C", ".tarvotmp.Ab-2Cd",  ".tarvotmp.Ab12Cd.keep", "pk.Ab12Cd"};
    for (const std::string& name : expected)
        writeFile(dir + "/" + name, "keep");
    writeFile(dir + "/.tarvotmp.Ab12Cd", "stale");
    writeFile(db, "CurrentVersion 5.2.4\n");
    ASSERT_EQ(chmod(db.c_str(), 0600), 0);
    ASSERT_EQ(chown(db.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(updateFileLine(db, "APP1", "5.2.4", true));
    struct stat st;
    ASSERT_EQ(stat(db.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    removeRecordTemporaries(installDir);
    EXPECT_EQ(listDir(dir), expected);

    const std::string linked = testutil::freshDir("records_linked"), outside = testutil::freshDir("records_outside");
    std::system(("mkdir -p '" + linked + "/TARVO5/Linux/ppc64'").c_str());
    ASSERT_EQ(symlink(outside.c_str(), recordDir(linked).c_str()), 0);
    writeFile(outside + "/.tarvotmp.Ab12Cd", "not ours");
    removeRecordTemporaries(linked);
    EXPECT_TRUE(testutil::exists(outside + "/.tarvotmp.Ab12Cd"));
}

TEST_F(RecordsTest, FullDiskLeavesTheOldRegistryIntact)
{
    if (!getenv("TARVO_SANDBOX"))
        GTEST_SKIP() << "needs the sandbox";
    ASSERT_EQ(mount("tarvo-full", dir.c_str(), "tmpfs", 0, "size=64k"), 0) << strerror(errno);
    const std::string old = "CurrentVersion 5.2.4\nAPP1 5.2.4\n";
    const std::string oldDat = "lib/a.so\n" + HDR + "Environment\nenv.usr.QZLIB.set=1\n";
    writeFile(db, old);
    writeFile(dir + "/files.dat", oldDat);
    std::system(("cat /dev/zero > '" + dir + "/filler' 2>/dev/null").c_str());
    EXPECT_FALSE(updateFileLine(db, "APP2", std::string(100000, 'v'), true));
    EXPECT_EQ(readFile(db), old);
    std::vector<std::string> big{HDR + "Environment", std::string(100000, 'e')};
    EXPECT_EQ(updateSectionInFilesDat(dir + "/files.dat", "Environment", &big), 1);
    EXPECT_EQ(readFile(dir + "/files.dat"), oldDat);
    EXPECT_EQ(listDir(dir), (std::set<std::string>{".installdb", "files.dat", "filler"}));
    umount(dir.c_str());
}

TEST_F(RecordsTest, KilledWriterLeavesOldOrNewRegistryNeverAShortenedOne)
{
    std::string callers;
    for (int i = 0; i < 150000; ++i)
        callers += "CALLER" + std::to_string(i) + " 5.2.4\n";
    const std::string a = "CurrentVersion 1.1.1\n" + callers;
    const std::string b = "CurrentVersion 2.2.2\n" + callers;
    writeFile(db, a);
    // Kill at moments spread over a few rewrites, whatever this machine's speed.
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(updateFileLine(db, "CurrentVersion", "1.1.1", false));
    long rewriteUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count() + 1;
    ASSERT_EQ(readFile(db), a);

    int sawA = 0, sawB = 0;
    srand(7);
    // A busy machine may starve the writer; more rounds, until kills have hit both sides.
    for (int round = 0; round < 200 && (round < 20 || sawA == 0 || sawB == 0); ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned k = 0;; ++k)
                if (!updateFileLine(db, "CurrentVersion", k % 2 ? "1.1.1" : "2.2.2", false))
                    _exit(1);
        }
        usleep(useconds_t(rand() % (3 * rewriteUs)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer failed on its own";
        std::string now = readFile(db);
        ASSERT_TRUE(now == a || now == b) << "registry of " << now.size() << " bytes after kill " << round;
        (now == a ? sawA : sawB)++;
    }
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0);
    removeRecordTemporaries(installDir);
    EXPECT_EQ(listDir(dir), std::set<std::string>{".installdb"});
}

TEST_F(RecordsTest, ReadLinesAndInPlaceRewrite)
{
    std::string path = dir + "/profile";
    std::vector<std::string> lines{"stale"};
    EXPECT_FALSE(readLines(path, lines));
    writeFile(path, "");
    EXPECT_TRUE(readLines(path, lines));
    EXPECT_TRUE(lines.empty());
    writeFile(path, "a\r\n\n  b");
    EXPECT_TRUE(readLines(path, lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"a\r", "", "  b"}));

    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    struct stat before, after;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    EXPECT_TRUE(rewriteInPlace(path, {"x", "y"}));
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(readFile(path), "x\ny\n");
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
}

TEST_F(RecordsTest, SectionsReadStopAtAnyDelimiterAndUpdateMovesToTheEnd)
{
    const std::string dat = dir + "/files.dat", missing = dir + "/missing";
    // "B " with a trailing blank is no header of B, but it still ends A.
    writeFile(dat, "lib/a.so\n" + HDR + "A\na1\na2\n" + HDR + "B \nx\n" + HDR + "B\nb1");
    using Lines = std::vector<std::string>;
    auto a = readSectionFromFilesDatAsVector(dat, "A"), b = readSectionFromFilesDatAsVector(dat, "B");
    auto none = readSectionFromFilesDatAsVector(dat, "Environment");
    ASSERT_TRUE(a && b && none);
    EXPECT_EQ(*a, (Lines{HDR + "A", "a1", "a2"}));
    EXPECT_EQ(*b, (Lines{HDR + "B", "b1"}));
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(readSectionFromFilesDatAsVector(missing, "A"), nullptr);
    EXPECT_EQ(readSectionFromFilesDatAsString(dat, "A"), HDR + "A\na1\na2\n");
    EXPECT_EQ(readSectionFromFilesDatAsString(dat, "C"), "");
    EXPECT_EQ(readSectionFromFilesDatAsString(missing, "A"), "");

    writeFile(dat, "f1\nf2\n" + HDR + "A\na1\n" + HDR + "B\nb1\n" + HDR + "A\na-dup");
    Lines fresh{HDR + "A", "new1", "new2"}, c{HDR + "C", "c1"};
    EXPECT_EQ(updateSectionInFilesDat(dat, "A", &fresh), 0);
    EXPECT_EQ(readFile(dat), "f1\nf2\n" + HDR + "B\nb1\n" + HDR + "A\nnew1\nnew2\n");
    EXPECT_EQ(updateSectionInFilesDat(dat, "C", &c), 0);
    EXPECT_EQ(readFile(dat), "f1\nf2\n" + HDR + "B\nb1\n" + HDR + "A\nnew1\nnew2\n" + HDR + "C\nc1\n");
    EXPECT_EQ(updateSectionInFilesDat(missing, "C", &c), 0);
    EXPECT_EQ(readFile(missing), HDR + "C\nc1\n");
    EXPECT_EQ(updateSectionInFilesDat(dir + "/no/such/files.dat", "C", &c), 1);
}

}  // namespace
