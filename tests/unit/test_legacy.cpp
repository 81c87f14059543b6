#include <gtest/gtest.h>

#include "legacy.h"
#include "testutil.h"

using testutil::exists;
using testutil::readFile;
using testutil::writeFile;

namespace {

class LegacyTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        dir = testutil::freshDir("legacy");
        libDir = dir + "/" + RECORD_SUBDIR + "/lib/";
        std::system(("mkdir -p '" + libDir + "'").c_str());
    }
    std::string dir, libDir;
};

TEST(VersionedLibName, OnlyTheLegacyLibraryCarriesTheVersion)
{
    const struct {
        const char *version, *name, *out;  // out nullptr: refused, output untouched
    } rows[] = {
        {"2.3.1", "liborvan2.so", "liborvan2.3.1.so"}, {"5.2.4", "lib/libtarvo.so", "lib/libtarvo.so"},
        {"x", "liborvan2.so.1", "liborvan2.so.1"},     {"5", "liborvan2.so", nullptr},
        {"", "libtarvo.so", nullptr},                  {"5.2.4", "", nullptr},
    };
    for (const auto& row : rows) {
        std::string out = "before";
        EXPECT_EQ(getVersionedLibName(row.version, row.name, out), row.out != nullptr) << row.name;
        EXPECT_EQ(out, row.out ? row.out : "before") << row.name;
    }
}

TEST_F(LegacyTest, ObsoleteCryptoFilesRemovedByExactName)
{
    const char* removed[] = {"libcryptocme2.sig",      "libcryptocme.sig",    "libcryptocme2.so", "libccme_eccaccel.so",
                             "libccme_eccnistaccel.so", "libccme_ecdrbg.so",   "libccme_asym.so",  "libccme_base.so",
                             "libccme_ecc_accel_fips.so", "libccme_ecc.so",   "libccme_error_info.so",
                             "libcryptocme.so"};
    const char* kept[] = {"libcryptocme.so.1", "libccme_ecc.so.2", "libcryptocme", "libtarvo.so", "libccme_ecc2.so"};

    EXPECT_TRUE(removeOldRSAFiles(dir));  // nothing there: silent
    EXPECT_EQ(readFile(LOG_FILE_PATH), "");

    for (const char* name : removed)
        writeFile(libDir + name, "x");
    for (const char* name : kept)
        writeFile(libDir + name, "x");
    g_opts.veryverbose = true;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(removeOldRSAFiles(dir));
    testing::internal::GetCapturedStdout();

    std::string expected;
    for (const char* name : removed) {
        EXPECT_FALSE(exists(libDir + name)) << name;
        expected += "Removed obsolete file " + libDir + name + "\n";
    }
    for (const char* name : kept)
        EXPECT_TRUE(exists(libDir + name)) << name;
    EXPECT_EQ(readFile(LOG_FILE_PATH), expected);  // in this order

    testutil::resetOptions();
    std::string path = libDir + "libccme_base.so";
    std::system(("mkdir -p '" + path + "' && touch '" + path + "/inner'").c_str());  // unlink fails on a directory
    EXPECT_TRUE(removeOldRSAFiles(dir));
    EXPECT_TRUE(exists(path));
    EXPECT_EQ(readFile(LOG_FILE_PATH),
              "Failed to remove obsolete file " + path + ", must be done manually.\n");
}

TEST_F(LegacyTest, LegacyLibrariesBlockRemovalAndEachIsReported)
{
    EXPECT_FALSE(checkForExistingOldVersion(dir));
    EXPECT_EQ(readFile(LOG_FILE_PATH), "");

    writeFile(dir + "/liborvan2.so", "x");
    writeFile(dir + "/liborvan2.3.1.so", "x");
    writeFile(dir + "/liborvan2.3.2.so", "x");
    EXPECT_TRUE(checkForExistingOldVersion(dir));
    const std::string tail =
        ", which indicates that a legacy version of ORVAN has been installed and may still be in use. Removal will "
        "not continue.\n";
    EXPECT_EQ(readFile(LOG_FILE_PATH),
              "Found file " + dir + "/liborvan2.so" + tail + "Found file " + dir + "/liborvan2.3.1.so" + tail);
}

}  // namespace
