#include <bzlib.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstdlib>

#include "payload.h"
#include "testutil.h"

using testutil::readFile;
using testutil::writeFile;

namespace {

const char* const kShippedPaths[] = {
    "TARVO5/Linux/ppc64/64/lib/libtarvo.so",          "TARVO5/Linux/ppc64/64/lib/libtarvo_thread_posix.so",
    "TARVO5/Linux/ppc64/64/lib/libqzopenssl_crypto.so", "TARVO5/Linux/ppc64/64/lib/libqzopenssl_ssl.so",
    "TARVO5/Linux/ppc64/64/tarvo/log/liblog_api.so",  "TARVO5/Linux/ppc64/64/tarvo/log/_tarvo_log.cfg",
    "TARVO5/Linux/ppc64/64/uninstaller",
};
const int64_t kShippedOffsets[] = {2454475, 2728892, 2735428, 3716001, 3953107, 4066133, 4066686};

std::string compress(const std::string& data)
{
    unsigned int size = static_cast<unsigned int>(data.size() + data.size() / 100 + 600);
    std::string out(size, '\0');
    int rc = BZ2_bzBuffToBuffCompress(&out[0], &size, const_cast<char*>(data.data()),
                                      static_cast<unsigned int>(data.size()), 9, 0, 0);
    EXPECT_EQ(rc, BZ_OK);
    out.resize(size);
    return out;
}

// Bytes that compress poorly, so a stream spans several 5000-byte reads.
std::string noise(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

std::string shippedCatalog()
{
    std::string catalog;
    for (int i = 0; i < 7; ++i) {
        catalog += std::string(kShippedPaths[i]) + "=" + std::to_string(kShippedOffsets[i]) + ";";
    }
    return catalog;
}

std::string withTrailer(const std::string& catalog) { return catalog + std::to_string(catalog.size() + 1) + "\n"; }

class PayloadTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        dir = testutil::freshDir("payload");
        kit = dir + "/kit.bin";
    }

    // Reads the catalog of a kit made of an image and the given tail.
    int readTail(const std::string& tail, FileCollection& fc)
    {
        writeFile(kit, std::string(64, 'I') + tail);
        return processDataTable(kit, fc);
    }

    std::string log() { return readFile(LOG_FILE_PATH); }

    std::string dir, kit;
};

TEST_F(PayloadTest, ShippedCatalogYieldsSevenEntriesInOrder)
{
    std::string catalog = shippedCatalog();
    ASSERT_EQ(catalog.size(), 367u);
    g_opts.veryverbose = true;
    FileCollection fc;
    fc.files.push_back(FileResource{"kept", "", 0});
    ASSERT_EQ(readTail(withTrailer(catalog), fc), 0);

    EXPECT_EQ(fc.strFilename, kit);
    ASSERT_EQ(fc.files.size(), 8u);
    EXPECT_EQ(fc.files[0].destFilename, "kept");
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(fc.files[i + 1].destFilename, kShippedPaths[i]);
        EXPECT_EQ(fc.files[i + 1].lOffset, kShippedOffsets[i]);
        EXPECT_EQ(fc.files[i + 1].tempFilename, "");
    }
    EXPECT_NE(log().find("Embedded File name TARVO5/Linux/ppc64/64/lib/libtarvo.so and offset=2454475 \n"),
              std::string::npos);
}

TEST_F(PayloadTest, TrailerMustFollowASemicolonWithinTheLastSevenBytes)
{
    FileCollection fc;
    EXPECT_EQ(readTail("a=1;123456\n", fc), 1);  // six digits put the ";" out of reach
    EXPECT_EQ(log(), "Unable to find semicolon embedded in file \n");
    EXPECT_TRUE(fc.files.empty());

    testutil::resetOptions();
    writeFile(kit, "plain\n");  // shorter than the search window, no ";"
    EXPECT_EQ(processDataTable(kit, fc), 1);
    EXPECT_EQ(log(), "Unable to find semicolon embedded in file \n");

    // Five digits are accepted: a catalog of more than 9998 bytes.
    std::string catalog;
    for (int i = 0; catalog.size() < 10000; ++i) {
        catalog += "TARVO5/Linux/ppc64/64/f" + std::to_string(i) + "=" + std::to_string(i + 1) + ";";
    }
    FileCollection big;
    ASSERT_EQ(readTail(withTrailer(catalog), big), 0);
    ASSERT_FALSE(big.files.empty());
    EXPECT_EQ(big.files.front().destFilename, "TARVO5/Linux/ppc64/64/f0");
    EXPECT_EQ(big.files.back().lOffset, static_cast<int64_t>(big.files.size()));
}

TEST_F(PayloadTest, MissingCatalogLengthReadsAsZero)
{
    FileCollection fc;
    EXPECT_EQ(readTail("a=1;\n", fc), 1);
    EXPECT_EQ(log(), "Unable to retieve data section size in embedded file 0 \n");
    EXPECT_TRUE(fc.files.empty());
}

TEST_F(PayloadTest, LastByteIsNeverReadAsADigit)
{
    // Without the line feed, ";368" reads as 36: only the last 35 catalog bytes.
    FileCollection fc;
    ASSERT_EQ(readTail(shippedCatalog() + "368", fc), 0);
    ASSERT_EQ(fc.files.size(), 1u);
    EXPECT_EQ(fc.files[0].destFilename, "Linux/ppc64/64/uninstaller");
    EXPECT_EQ(fc.files[0].lOffset, 4066686);
}

TEST_F(PayloadTest, EntrySplitting)
{
    FileCollection runs;
    ASSERT_EQ(readTail(withTrailer(";;a/b=5;;;c=70;;"), runs), 0);
    ASSERT_EQ(runs.files.size(), 2u);
    EXPECT_EQ(runs.files[0].destFilename, "a/b");
    EXPECT_EQ(runs.files[0].lOffset, 5);
    EXPECT_EQ(runs.files[1].destFilename, "c");
    EXPECT_EQ(runs.files[1].lOffset, 70);

    FileCollection only;
    EXPECT_EQ(readTail(withTrailer(";;;"), only), 0);
    EXPECT_TRUE(only.files.empty());
    EXPECT_EQ(only.strFilename, kit);

    // The catalog is read as one line: after a line feed, an entry without
    // its ";" is dropped. The first "=" ends the path.
    FileCollection line;
    ASSERT_EQ(readTail(withTrailer("x=3=4;y=4\nz=5;"), line), 0);
    ASSERT_EQ(line.files.size(), 1u);
    EXPECT_EQ(line.files[0].destFilename, "x");
    EXPECT_EQ(line.files[0].lOffset, 3);
    EXPECT_EQ(log(), "");
}

TEST_F(PayloadTest, OffsetBelowOneFailsAndKeepsEarlierEntries)
{
    for (const char* bad : {"b=0;", "b=x1;", "b=;"}) {
        testutil::resetOptions();
        FileCollection fc;
        EXPECT_EQ(readTail(withTrailer(std::string("a=5;") + bad), fc), 1) << bad;
        ASSERT_EQ(fc.files.size(), 1u) << bad;
        EXPECT_EQ(fc.files[0].destFilename, "a");
        EXPECT_EQ(log(), "File size retrived from data section is not correct:0 \n") << bad;
    }
}

TEST_F(PayloadTest, CatalogLengthReachingBeforeTheFileFails)
{
    FileCollection fc;
    writeFile(kit, "a=1;99\n");
    EXPECT_EQ(processDataTable(kit, fc), 1);
    EXPECT_EQ(log(), "Unable to read data from the starting of data section embedded in file \n");
    EXPECT_TRUE(fc.files.empty());

    // Exactly reaching the first byte is fine.
    writeFile(kit, "a=1;5\n");
    EXPECT_EQ(processDataTable(kit, fc), 0);
    EXPECT_EQ(fc.files.size(), 1u);
}

TEST_F(PayloadTest, UnopenableInstallerFile)
{
    FileCollection fc;
    EXPECT_EQ(processDataTable(dir + "/missing", fc), 1);
    EXPECT_EQ(log(), "Could not open file " + dir + "/missing for reading\n");
    EXPECT_EQ(fc.strFilename, "");

    testutil::resetOptions();
    FileCollection payload{{}, dir + "/missing"};
    EXPECT_FALSE(decompressEmbeddedZipToFile(payload, FileResource{"d", dir + "/out", 1}));
    EXPECT_EQ(log(), "Could not open file " + dir + "/missing for reading\n");
    EXPECT_FALSE(testutil::exists(dir + "/out"));
}

class DecompressTest : public PayloadTest {
protected:
    void SetUp() override
    {
        PayloadTest::SetUp();
        first = noise(23456, 1);
        second = std::string(12000, 'z') + "end";
        streamA = compress(first);
        streamB = compress(second);
        image = std::string(1000, 'E');
        offsetA = static_cast<int64_t>(image.size());
        offsetB = offsetA + static_cast<int64_t>(streamA.size());
        std::string catalog = "a=" + std::to_string(offsetA) + ";b=" + std::to_string(offsetB) + ";";
        writeFile(kit, image + streamA + streamB + withTrailer(catalog));
        fc.strFilename = kit;
    }

    FileResource res(const std::string& dest, int64_t offset) { return FileResource{dest, dir + "/out.tmp", offset}; }

    std::string first, second, streamA, streamB, image;
    int64_t offsetA = 0, offsetB = 0;
    FileCollection fc;
};

TEST_F(DecompressTest, EachStreamYieldsExactlyItsOwnFile)
{
    ASSERT_EQ(streamA.compare(0, 4, "BZh9"), 0);
    writeFile(dir + "/out.tmp", std::string(50000, 'x'));  // cut to zero first
    EXPECT_TRUE(decompressEmbeddedZipToFile(fc, res("a", offsetA)));
    EXPECT_EQ(readFile(dir + "/out.tmp"), first);
    EXPECT_TRUE(decompressEmbeddedZipToFile(fc, res("b", offsetB)));  // followed by the catalog
    EXPECT_EQ(readFile(dir + "/out.tmp"), second);
    EXPECT_EQ(log(), "");
    EXPECT_EQ(fc.strFilename, kit);
}

TEST_F(DecompressTest, BadStreamsNameTheDestination)
{
    const std::string message = "Unable to extract embedded binary file lib/x.so\n";
    // Not a stream at all.
    EXPECT_FALSE(decompressEmbeddedZipToFile(fc, res("lib/x.so", 10)));
    EXPECT_EQ(log(), message);

    // A byte changed in the middle of the first stream.
    testutil::resetOptions();
    std::string bytes = readFile(kit);
    bytes[offsetA + streamA.size() / 2] ^= 0x55;
    writeFile(kit, bytes);
    EXPECT_FALSE(decompressEmbeddedZipToFile(fc, res("lib/x.so", offsetA)));
    EXPECT_EQ(log(), message);

    // The file ends inside the stream.
    testutil::resetOptions();
    writeFile(kit, image + streamA.substr(0, streamA.size() - 20));
    EXPECT_FALSE(decompressEmbeddedZipToFile(fc, res("lib/x.so", offsetA)));
    EXPECT_EQ(log(), message);

    // An offset past the end of the file.
    testutil::resetOptions();
    EXPECT_FALSE(decompressEmbeddedZipToFile(fc, res("lib/x.so", 1 << 30)));
    EXPECT_EQ(log(), message);

    testutil::resetOptions();
    EXPECT_FALSE(decompressEmbeddedZipToFile(fc, res("lib/x.so", -5)));
    EXPECT_EQ(log(), "Unable to extract embedded binary files\n");
}

TEST_F(DecompressTest, UnwritableOutputNamesTheTemporaryFile)
{
    FileResource noDir{"a", dir + "/no/such/dir/out.tmp", offsetA};
    EXPECT_FALSE(decompressEmbeddedZipToFile(fc, noDir));
    EXPECT_EQ(log(), "Error writing to file " + noDir.tempFilename + "\n");

    // A full disk: the data does not fit a small file system.
    testutil::resetOptions();
    std::string small = dir + "/small";
    ASSERT_EQ(system(("mkdir -p " + small).c_str()), 0);
    if (mount("tarvo-small", small.c_str(), "tmpfs", 0, "size=8k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs";
    }
    FileResource full{"a", small + "/out.tmp", offsetA};
    EXPECT_FALSE(decompressEmbeddedZipToFile(fc, full));
    EXPECT_EQ(log(), "Error writing to file " + full.tempFilename + "\n");
    umount(small.c_str());
}

// The kit the build makes must read back through the installer's own reader.
TEST(BuiltKit, EveryEntryDecompressesToItsSource)
{
    testutil::resetOptions();
    const char* build = getenv("TARVO_BUILD");
    if (build == nullptr || !testutil::exists(std::string(build) + "/tarvo_installer.bin")) {
        GTEST_SKIP() << "no built kit";
    }
    FileCollection fc;
    ASSERT_EQ(processDataTable(std::string(build) + "/tarvo_installer.bin", fc), 0);
    ASSERT_EQ(fc.files.size(), 7u);
    std::string out = testutil::freshDir("builtkit") + "/out";
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(fc.files[i].destFilename, kShippedPaths[i]);
        std::string name = fc.files[i].destFilename.substr(fc.files[i].destFilename.rfind('/') + 1);
        FileResource r = fc.files[i];
        r.tempFilename = out;
        ASSERT_TRUE(decompressEmbeddedZipToFile(fc, r)) << name;
        EXPECT_EQ(readFile(out), readFile(std::string(build) + "/kit/payload/" + name)) << name;
    }
}

}  // namespace
