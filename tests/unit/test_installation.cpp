// What an installation records (versions, dependants, the installed-files log, the registry and
// its sections), and the walk below the install directory that never follows a link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <tuple>

#include "filelog.h"
#include "legacy.h"
#include "records.h"
#include "testutil.h"
#include "treedir.h"
#include "versions.h"

using namespace testutil;
using Names = std::vector<std::string>;

namespace {

TEST(Versions, OnlyThreeDecimalPartsUpTo1000MakeAVersion)
{
    for (const auto& [text, value] : {std::pair<const char*, uint64_t>{"5.2.4", 5002004u}, {"1000.1000.1000", 1001001000u},
                                      {"0.0.0", 0u}, {"05.02.04", 5002004u}})
        EXPECT_EQ(getVersionValue(text), value) << text;
    for (const char* bad : {"1001.0.0", "5.1001.0", "5.2.1001", "5.2", "5..4", ".2.4", "5.2.", "5.2.4.1", "V5.2.4",
                            "", "+5.2.4", "5.-2.4", " 5.2.4", "5.2.4 ", "99999999999999999999.0.0"})
        EXPECT_EQ(getVersionValue(bad), NO_VERSION) << bad;
}

Names names(const std::vector<FileResource>& files)
{
    Names out;
    for (const FileResource& f : files)
        out.push_back(f.destFilename);
    return out;
}

TEST(Installation, RegistryInstalledFilesLogAndObsoleteFiles)
{
    resetOptions();
    g_opts.verbose = true;
    g_opts.caller = "APP1";
    g_thisKitVersionString = "5.2.4";
    const std::string dir = freshDir("records") + "/TARVO", db = installDbPath(dir), dat = filesDatPath(dir);
    std::string version;
    uint64_t value = 0;
    FileCollection fc, zip{{{"a/lib.so", "", 10}, {"lib/new.so", "", 20}, {"lib/new.so", "", 30}}, "", 0};
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
    writeFile(db, "CurrentVersion 5.2\nAPP1 5.2.3\nBACKUP7 \n");
    EXPECT_TRUE(getExistingVersion(version, &value, dir) == 0 && version == "5.2") << version;
    EXPECT_TRUE(addDependency(dir));  // the caller's line keeps its place and gets this kit's version
    EXPECT_EQ(readFile(db), "CurrentVersion 5.2\nAPP1 5.2.4\nBACKUP7 \n");
    writeFile(db, readFile(db) + "\n  \t\n");
    EXPECT_EQ(getNumExistingDependencies(dir), 2);  // blank lines are no dependants
    g_opts.caller = "BACKUP7";  // registered without a version: not a dependant of ours
    EXPECT_FALSE(checkDependency(dir, version));

    writeFile(dat, "TARVO5/a/lib.so\n   \t TARVO5/b/cfg  trailing words\n\n \t \nTARVO5/u\n"
                   "*#*#*#*#*#-Environment\nafter/it\n");
    fc.files.push_back(FileResource{"kept", "", 0});
    EXPECT_TRUE(readInstalledFilesLog(dir, fc));
    EXPECT_EQ(names(fc.files), (Names{"kept", "TARVO5/a/lib.so", "TARVO5/b/cfg", "TARVO5/u"}));
    // Payload entries come in only when no recorded name contains them.
    ComposeAllFileCollection(zip, fc);
    EXPECT_EQ(names(fc.files), (Names{"kept", "TARVO5/a/lib.so", "TARVO5/b/cfg", "TARVO5/u", "lib/new.so"}));

    // ".." anywhere: the log was tampered with, and nothing after it is taken.
    resetOptions();
    writeFile(dat, "first/file\nTARVO5/../../etc/passwd\nlater/file\n");
    bool illegal = false;
    FileCollection tampered;
    EXPECT_FALSE(readInstalledFilesLog(dir, tampered, &illegal));
    EXPECT_TRUE(illegal && names(tampered.files) == Names{"first/file"});
    EXPECT_EQ(readFile(LOG_FILE_PATH), "The installed files log contains an illegal path. This file may have been "
                                       "altered with malicious intent. Exiting.\n");

    // Absent obsolete files are no failure; one that cannot be unlinked is reported and the upgrade goes on.
    resetOptions();
    const std::string obsolete = recordDir(dir) + "/lib/libccme_base.so";
    std::system(("mkdir -p '" + obsolete + "'").c_str());
    EXPECT_TRUE(removeOldRSAFiles(dir) && readFile(LOG_FILE_PATH) == "Failed to remove obsolete file " + obsolete + ", must be done manually.\n");
}

TEST(Installation, AnUpgradeDeletesOnlyRegularFilesTheKitLacksAndKeepsListedWhatStays)
{
    resetOptions();
    const std::string dir = freshDir("drops"), r = RECORD_SUBDIR, rec = dir + "/" + r;
    std::system(("mkdir -p '" + rec + "/lib' '" + rec + "/old/sub' '" + rec + "/busy'").c_str());
    for (const char* f :
         {"lib/new.so", "lib/gone.so", "old/sub/gone.cfg", "busy/gone", "busy/user", FILES_DAT_NAME, INSTALLDB_NAME})
        writeFile(rec + "/" + f, "x");
    ASSERT_EQ(mkfifo((rec + "/lib/fifo").c_str(), 0600), 0);
    FileCollection log, zip{{{r + "/lib/new.so", "", 1}}, "", 0};
    // However a log spells them, the kit's own files, the records and legacy libraries are never dropped.
    for (const char* f : {"/lib/new.so", "//lib//new.so", "/files.dat", "//.installdb", "/lib/gone.so", "/lib/gone.so/",
                          "/old/sub/gone.cfg", "/busy/gone", "/lib/fifo", "/absent/x"})
        log.files.push_back({r + f, "", 0});
    log.files.push_back({"/liborvan2.3.1.so", "", 0});
    const std::vector<FileResource> dropped = droppedFiles(log, zip);
    EXPECT_EQ(names(dropped), (Names{r + "/lib/gone.so", r + "/old/sub/gone.cfg", r + "/busy/gone", r + "/lib/fifo",
                                     r + "/absent/x"}));
    // A FIFO is no file of ours; busy/ still holds a user's file: both stay listed for a removal to report.
    EXPECT_EQ(names(removeDroppedFiles(dir, dropped, zip)), (Names{r + "/busy/gone", r + "/lib/fifo"}));
    for (const char* gone : {"lib/gone.so", "old", "busy/gone"})
        EXPECT_FALSE(exists(rec + "/" + gone)) << gone;
    for (const char* kept : {"lib/new.so", "lib/fifo", "busy/user", FILES_DAT_NAME, INSTALLDB_NAME})
        EXPECT_TRUE(exists(rec + "/" + kept)) << kept;
}

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

const std::string HDR = SECTION_DELIMITER;

const std::string installDir = "/tmp/t_records", rdir = recordDir(installDir), rdb = rdir + "/.installdb";

void start()
{
    resetOptions();
    umask(022);
    freshDir("records");
    std::filesystem::create_directories(rdir);
}

TEST(Records, RegistryLinesAndFilesDatSections)
{
    start();
    // removed: removeFileLine takes the line out; replaced: updateFileLine replaces it, else adds a first line.
    const std::tuple<const char*, int, const char*, bool, bool> rows[] = {
        {"CurrentVersion 5.2.4", 0, "5.2.4", true, true},     {"currentversion 5.2.4", 0, "5.2.4", true, true},
        {"CurrentVersion ", 1, "", true, true},               {"CurrentVersion", 2, "untouched", false, true},
        {"\tCurrentVersion\t5.2.4", 0, "5.2.4", true, true},  {"CurrentVersion 5.2.4 x", 2, "untouched", false, true},
        {"CurrentVersion 5.2.4\r", 0, "5.2.4\r", true, true}, {"CurrentVersionX 5.2.4", 2, "untouched", false, false},
    };
    for (const auto& [line, readRc, readValue, removed, replaced] : rows) {
        SCOPED_TRACE(line);
        const std::string original = std::string("APP1 1.0.0\n") + line + "\nAPP2 2.0.0\n";
        writeFile(rdb, original);
        std::string value = "untouched";
        EXPECT_EQ(readFileLine(rdb, "CurrentVersion", value), readRc);
        EXPECT_EQ(value, readValue);
        EXPECT_TRUE(removeFileLine(rdb, "CurrentVersion"));
        EXPECT_EQ(readFile(rdb), removed ? "APP1 1.0.0\nAPP2 2.0.0\n" : original);
        writeFile(rdb, original);
        EXPECT_TRUE(updateFileLine(rdb, "CurrentVersion", "9.9.9", false));
        EXPECT_EQ(readFile(rdb), replaced ? "APP1 1.0.0\nCurrentVersion 9.9.9\nAPP2 2.0.0\n" : "CurrentVersion 9.9.9\n" + original);
    }

    // Appended after a last line without LF, or first; the key written as given; only the first of two touched.
    writeFile(rdb, "CurrentVersion 5.2.4\nAPP1 1\nX 0\nAPP1 2");
    EXPECT_TRUE(updateFileLine(rdb, "APP3", "5.2.4", true) && updateFileLine(rdb, "NewKey", "v", false) && updateFileLine(rdb, "app1", "3", true));
    EXPECT_EQ(readFile(rdb), "NewKey v\nCurrentVersion 5.2.4\napp1 3\nX 0\nAPP1 2\nAPP3 5.2.4\n");
    EXPECT_TRUE(removeFileLine(rdb, "APP1") && readFile(rdb) == "NewKey v\nCurrentVersion 5.2.4\nX 0\nAPP1 2\nAPP3 5.2.4\n") << readFile(rdb);

    // A caller ID with inner blanks keeps one line, however often it installs.
    writeFile(rdb, "CurrentVersion 5.2.4\nmy app 5.2.3\n");
    EXPECT_TRUE(updateFileLine(rdb, "my app", "5.2.4", true) && updateFileLine(rdb, "MY APP", "5.2.4", true));
    EXPECT_EQ(readFile(rdb), "CurrentVersion 5.2.4\nMY APP 5.2.4\n");

    std::remove(rdb.c_str());
    umask(077);
    EXPECT_TRUE(updateFileLine(rdb, "CurrentVersion", "5.2.4", true) && modeOf(rdb) == 0644u);

    const std::string missing = rdir + "/no/such/.installdb";
    resetOptions();
    EXPECT_FALSE(updateFileLine(missing, "APP1", "5.2.4", true) || removeFileLine(missing, "APP1"));
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to create/write to file " + missing + "\nUnable to create/write to file " + missing + "\n");

    // An updated section of files.dat moves to the end; a duplicate goes.
    const std::string dat = rdir + "/files.dat", none = rdir + "/missing";
    writeFile(dat, "f1\nf2\n" + HDR + "A\na1\n" + HDR + "B\nb1\n" + HDR + "A\na-dup");
    Names fresh{HDR + "A", "new1", "new2"}, c{HDR + "C", "c1"};
    EXPECT_EQ(updateSectionInFilesDat(dat, "A", &fresh), 0);
    EXPECT_EQ(updateSectionInFilesDat(dat, "C", &c), 0);
    EXPECT_EQ(readFile(dat), "f1\nf2\n" + HDR + "B\nb1\n" + HDR + "A\nnew1\nnew2\n" + HDR + "C\nc1\n");
    EXPECT_TRUE(updateSectionInFilesDat(none, "C", &c) == 0 && readFile(none) == HDR + "C\nc1\n");
    EXPECT_EQ(updateSectionInFilesDat(rdir + "/no/such/files.dat", "C", &c), 1);
}

// Only our temporaries go: no administrator's copy, look-alike, payload backup, or anything behind a link.
TEST(Records, ReplacementKeepsModeAndOwnerAndOnlyOurTemporariesAreCleaned)
{
    start();
    const std::set<std::string> kept{".installdb",      ".installdb.backup", ".files.dat.saved1",     ".installdb.Ab12Cd",
                                     ".tarvotmp.Ab12C", ".tarvotmp.Ab-2Cd",  ".tarvotmp.Ab12Cd.keep", "pk.Ab12Cd"};
    for (const std::string& name : kept)
        writeFile(rdir + "/" + name, "keep");
    writeFile(rdir + "/.tarvotmp.Ab12Cd", "stale");
    writeFile(rdb, "CurrentVersion 5.2.4\n");
    for (uid_t uid : {65534u, 0u}) {
        ASSERT_EQ(chmod(rdb.c_str(), 0600), 0);
        ASSERT_EQ(chown(rdb.c_str(), uid, 65534), 0);
        EXPECT_TRUE(updateFileLine(rdb, "APP1", "5.2.4", true));
        struct stat st;
        EXPECT_TRUE(stat(rdb.c_str(), &st) == 0 && (st.st_mode & 07777) == 0600 && st.st_uid == uid && st.st_gid == 65534) << uid;
    }
    removeRecordTemporaries(installDir);
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(rdir))
        names.insert(e.path().filename());
    EXPECT_EQ(names, kept);

    // A link (dangling too), a FIFO or a hard link at a record's name: refused at once, its target untouched.
    const std::string target = freshDir("records_target") + "/t";
    alarm(20);  // a blocking open fails the test instead of hanging it
    for (const char* kind : {"link", "dangling", "fifo", "hardlink"}) {
        SCOPED_TRACE(kind);
        std::remove(rdb.c_str());
        std::remove(target.c_str());
        if (std::string(kind) != "dangling")
            writeFile(target, "x 1\n");
        if (std::string(kind) == "fifo")
            ASSERT_EQ(mkfifo(rdb.c_str(), 0600), 0);
        else if (std::string(kind) == "hardlink")
            ASSERT_EQ(link(target.c_str(), rdb.c_str()), 0);
        else
            ASSERT_EQ(symlink(target.c_str(), rdb.c_str()), 0);
        std::string value = "untouched";
        std::vector<std::string> lines;
        EXPECT_EQ(readFileLine(rdb, "x", value), -1);
        EXPECT_FALSE(updateFileLine(rdb, "x", "2", true) || removeFileLine(rdb, "x") || readLines(rdb, lines) ||
                     replaceRecordFile(rdb, "y\n") || rewriteInPlace(rdb, {"y"}) || recordFilesAreSafe(installDir));
        EXPECT_EQ(exists(target) ? readFile(target) : "absent", std::string(kind) == "dangling" ? "absent" : "x 1\n");
    }
    alarm(0);
    std::remove(rdb.c_str());

    const std::string linked = freshDir("records_linked"), outside = freshDir("records_outside");
    std::filesystem::create_directories(linked + "/TARVO5/Linux/ppc64");
    ASSERT_EQ(symlink(outside.c_str(), recordDir(linked).c_str()), 0);
    writeFile(outside + "/.tarvotmp.Ab12Cd", "not ours");
    removeRecordTemporaries(linked);
    EXPECT_TRUE(exists(outside + "/.tarvotmp.Ab12Cd"));
}

}  // namespace
