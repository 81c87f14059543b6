#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "records.h"
#include "testutil.h"

using namespace testutil;
using Lines = std::vector<std::string>;

namespace {

const std::string HDR = SECTION_DELIMITER;

const std::string installDir = "/tmp/t_records", dir = recordDir(installDir), db = dir + "/.installdb";

// "mode uid gid" of a file, in octal and decimal.
std::string owner(const std::string& path)
{
    struct stat st;
    stat(path.c_str(), &st);
    return std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_uid) + " " + std::to_string(st.st_gid);
}

void start()
{
    resetOptions();
    umask(022);
    freshDir("records");
    std::filesystem::create_directories(dir);
}

TEST(Records, MatchingRulesOfReadRemoveAndUpdate)
{
    start();
    // removed: removeFileLine takes the line out; replaced: updateFileLine replaces it, else adds a first line.
    const struct {
        const char* line;
        int readRc;
        const char* readValue;
        bool removed, replaced;
    } rows[] = {
        {"CurrentVersion 5.2.4", 0, "5.2.4", true, true},     {"currentversion 5.2.4", 0, "5.2.4", true, true},
        {"CurrentVersion ", 1, "", true, true},               {"CurrentVersion", 2, "untouched", false, true},
        {"CurrentVersion  5.2.4", 2, "untouched", false, true}, {"CurrentVersion 5.2.4 x", 2, "untouched", false, true},
        {"\tCurrentVersion\t5.2.4", 0, "5.2.4", true, true},  {"CurrentVersionX 5.2.4", 2, "untouched", false, false},
        {"CurrentVersion 5.2.4\r", 0, "5.2.4\r", true, true}, {"   ", 2, "untouched", false, false},
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
        EXPECT_EQ(readFile(db), row.replaced ? "APP1 1.0.0\nCurrentVersion 9.9.9\nAPP2 2.0.0\n" : "CurrentVersion 9.9.9\n" + original);
    }

    std::string value = "keep";
    std::remove(db.c_str());
    EXPECT_EQ(readFileLine(db, "CurrentVersion", value), -1);
    EXPECT_TRUE(removeFileLine(db, "APP1"));  // creates an empty registry
    EXPECT_EQ(readFileLine(db, "CurrentVersion", value), 2);
    EXPECT_EQ(value, "keep");

    // Appended after a last line without LF, or first; the key written as given; only the first of two touched.
    writeFile(db, "CurrentVersion 5.2.4\nAPP1 1\nX 0\nAPP1 2");
    EXPECT_TRUE(updateFileLine(db, "APP3", "5.2.4", true) && updateFileLine(db, "NewKey", "v", false) && updateFileLine(db, "app1", "3", true));
    EXPECT_EQ(readFile(db), "NewKey v\nCurrentVersion 5.2.4\napp1 3\nX 0\nAPP1 2\nAPP3 5.2.4\n");
    EXPECT_TRUE(removeFileLine(db, "APP1"));
    EXPECT_EQ(readFile(db), "NewKey v\nCurrentVersion 5.2.4\nX 0\nAPP1 2\nAPP3 5.2.4\n");

    std::remove(db.c_str());
    umask(077);
    EXPECT_TRUE(updateFileLine(db, "CurrentVersion", "5.2.4", true));
    EXPECT_EQ(modeOf(db), 0644u);

    const std::string missing = dir + "/no/such/.installdb";
    resetOptions();
    EXPECT_FALSE(updateFileLine(missing, "APP1", "5.2.4", true) || removeFileLine(missing, "APP1"));
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to create/write to file " + missing + "\nUnable to create/write to file " + missing + "\n");
}

// Only this program's temporaries go: never an administrator's copy of a record, a look-alike,
// a payload backup, or anything reached through a link.
TEST(Records, ReplacementKeepsModeAndOwnerAndOnlyOurTemporariesAreCleaned)
{
    start();
    const std::set<std::string> kept{".installdb",      ".installdb.backup", ".files.dat.saved1",     ".installdb.Ab12Cd",
                                     ".tarvotmp.Ab12C", ".tarvotmp.Ab-2Cd",  ".tarvotmp.Ab12Cd.keep", "pk.Ab12Cd"};
    for (const std::string& name : kept)
        writeFile(dir + "/" + name, "keep");
    writeFile(dir + "/.tarvotmp.Ab12Cd", "stale");
    writeFile(db, "CurrentVersion 5.2.4\n");
    for (uid_t uid : {65534u, 0u}) {
        ASSERT_EQ(chmod(db.c_str(), 0600), 0);
        ASSERT_EQ(chown(db.c_str(), uid, 65534), 0);
        EXPECT_TRUE(updateFileLine(db, "APP1", "5.2.4", true));
        EXPECT_EQ(owner(db), "384 " + std::to_string(uid) + " 65534");  // 0600
    }
    removeRecordTemporaries(installDir);
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename());
    EXPECT_EQ(names, kept);

    const std::string linked = freshDir("records_linked"), outside = freshDir("records_outside");
    std::filesystem::create_directories(linked + "/TARVO5/Linux/ppc64");
    ASSERT_EQ(symlink(outside.c_str(), recordDir(linked).c_str()), 0);
    writeFile(outside + "/.tarvotmp.Ab12Cd", "not ours");
    removeRecordTemporaries(linked);
    EXPECT_TRUE(exists(outside + "/.tarvotmp.Ab12Cd"));
}

TEST(Records, ReadLinesRewriteInPlaceAndSections)
{
    start();
    const std::string path = dir + "/profile", dat = dir + "/files.dat", missing = dir + "/missing";
    Lines lines{"stale"};
    EXPECT_FALSE(readLines(path, lines));
    writeFile(path, "a\r\n\n  b");
    ASSERT_TRUE(readLines(path, lines));
    EXPECT_EQ(lines, (Lines{"a\r", "", "  b"}));
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(link(path.c_str(), (path + ".same").c_str()), 0);  // rewritten in place: the link sees it
    EXPECT_TRUE(rewriteInPlace(path, {"x", "y"}));
    EXPECT_EQ(readFile(path + ".same") + std::to_string(modeOf(path)), "x\ny\n" + std::to_string(0640));

    // "B " with a trailing blank is no header of B, but it still ends A.
    writeFile(dat, "lib/a.so\n" + HDR + "A\na1\na2\n" + HDR + "B \nx\n" + HDR + "B\nb1");
    auto a = readSectionFromFilesDatAsVector(dat, "A"), b = readSectionFromFilesDatAsVector(dat, "B");
    auto none = readSectionFromFilesDatAsVector(dat, "Environment");
    ASSERT_TRUE(a && b && none && none->empty());
    EXPECT_EQ(*a, (Lines{HDR + "A", "a1", "a2"}));
    EXPECT_EQ(*b, (Lines{HDR + "B", "b1"}));
    EXPECT_EQ(readSectionFromFilesDatAsVector(missing, "A"), nullptr);
    EXPECT_EQ(readSectionFromFilesDatAsString(dat, "A") + readSectionFromFilesDatAsString(missing, "A"), HDR + "A\na1\na2\n");

    // An updated section moves to the end; a duplicate goes.
    writeFile(dat, "f1\nf2\n" + HDR + "A\na1\n" + HDR + "B\nb1\n" + HDR + "A\na-dup");
    Lines fresh{HDR + "A", "new1", "new2"}, c{HDR + "C", "c1"};
    EXPECT_EQ(updateSectionInFilesDat(dat, "A", &fresh), 0);
    EXPECT_EQ(updateSectionInFilesDat(dat, "C", &c), 0);
    EXPECT_EQ(readFile(dat), "f1\nf2\n" + HDR + "B\nb1\n" + HDR + "A\nnew1\nnew2\n" + HDR + "C\nc1\n");
    EXPECT_EQ(updateSectionInFilesDat(missing, "C", &c), 0);
    EXPECT_EQ(readFile(missing), HDR + "C\nc1\n");
    EXPECT_EQ(updateSectionInFilesDat(dir + "/no/such/files.dat", "C", &c), 1);
}

}  // namespace
