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
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(&out[0], &size, const_cast<char*>(data.data()),
                                       static_cast<unsigned int>(data.size()), 9, 0, 0),
              BZ_OK);
    out.resize(size);
    return out;
}

// Bytes that compress poorly, so a stream spans several 5000-byte reads.
std::string noise(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}

std::string withTrailer(const std::string& catalog) { return catalog + std::to_string(catalog.size() + 1) + "\n"; }

std::string shippedCatalog()
{
    std::string catalog;
    for (int i = 0; i < 7; ++i)
        catalog += std::string(kShippedPaths[i]) + "=" + std::to_string(kShippedOffsets[i]) + ";";
    return catalog;
}

// The entries read, as "path=offset;..." for exact comparison.
std::string entries(const FileCollection& fc)
{
    std::string s;
    for (const FileResource& r : fc.files)
        s += r.destFilename + "=" + std::to_string(r.lOffset) + ";";
    return s;
}

class PayloadTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        dir = testutil::freshDir("payload");
        kit = dir + "/kit.bin";
    }
    std::string log() { return readFile(LOG_FILE_PATH); }
    std::string dir, kit;
};

TEST_F(PayloadTest, ShippedCatalogYieldsSevenEntriesInOrder)
{
    ASSERT_EQ(shippedCatalog().size(), 367u);
    g_opts.veryverbose = true;
    writeFile(kit, std::string(64, 'I') + withTrailer(shippedCatalog()));
    FileCollection fc;
    fc.files.push_back(FileResource{"kept", "", 0});
    ASSERT_EQ(processDataTable(kit, fc, false), 0);
    EXPECT_EQ(entries(fc), "kept=0;" + shippedCatalog());
    for (const FileResource& r : fc.files)
        EXPECT_EQ(r.tempFilename, "");
    EXPECT_NE(log().find("Embedded File name TARVO5/Linux/ppc64/64/lib/libtarvo.so and offset=2454475 \n"),
              std::string::npos);
}

TEST_F(PayloadTest, CatalogTable)
{
    std::string image;  // a stream header every four bytes
    for (int i = 0; i < 1000; ++i)
        image += "BZh9";
    const std::string P = "TARVO5/Linux/ppc64/64/";
    std::string big;  // five trailer digits: more than 9998 bytes
    for (int i = 0; big.size() < 10000; ++i)
        big += P + "f" + std::to_string(i) + "=" + std::to_string(4 * (i + 1)) + ";";
    const std::string one = P + "a=4;";
    const std::string noSemicolon = "Unable to find semicolon embedded in file \n";
    const std::string noLength = "Unable to retieve data section size in embedded file 0 \n";
    const std::string badTrailer = "The installer file is damaged: it does not end in the catalog length and a line feed\n";
    const std::string badOffset = "File size retrived from data section is not correct:0 \n";
    const std::string damaged = "The installer file is damaged: ";
    const std::string notBetween = " does not lie between the one before it and the catalog\n";
    const struct {
        std::string file;
        int rc;
        std::string log, entries;
        bool streams = true;
    } rows[] = {
        {image + one + "123456\n", 1, noSemicolon, ""},  // six digits put the ";" out of reach
        {"plain\n", 1, noSemicolon, ""},                 // shorter than the search window
        {image + one + "\n", 1, noLength, ""},
        {image + one, 1, noLength, ""},
        {image + one + "0\n", 1, noLength, ""},
        {image + one + "1\n", 1, badTrailer, ""},  // even an empty catalog holds its ";"
        {image + one + "27", 1, badTrailer, ""},  // the line feed cut off
        {image + one + "-5\n", 1, badTrailer, ""},
        {image + one + "2 7\n", 1, badTrailer, ""},
        {one + "99\n", 1, "Unable to read data from the starting of data section embedded in file \n", ""},
        {image + withTrailer(one), 0, "", one},
        {image + withTrailer(big), 0, "", big},
        {image + withTrailer(";"), 0, "", ""},
        // One digit off: the catalog seems to start inside its first path.
        {image + one + "26\n", 1, damaged + "catalog path ARVO5/Linux/ppc64/64/a does not begin with " + P + "\n", ""},
        {image + withTrailer(P + "a=4;;" + P + "b=8;"), 1, badOffset, one},
        {image + withTrailer(P + "a=4" + "x" + P + "b=8;"), 1,
         damaged + "catalog entry " + P + "a=4x" + P + "b=8 is not a path, \"=\" and an offset\n", ""},
        {image + withTrailer(P + "a=4\n;"), 1, damaged + "catalog entry " + P + "a=4? is not a path, \"=\" and an offset\n", ""},
        {image + withTrailer(P + "a=4;" + P + "b;"), 1, badOffset, one},
        {image + withTrailer(P + "../../../../../etc/evil=4;"), 1,
         damaged + "catalog path " + P + "../../../../../etc/evil holds \"..\"\n", ""},
        {image + withTrailer("/etc/evil=4;"), 1, damaged + "catalog path /etc/evil does not begin with " + P + "\n", ""},
        {image + withTrailer(P + "a=4;" + P + "a=8;"), 1, damaged + "the catalog names " + P + "a twice\n", one},
        {image + withTrailer(P + "a=8;" + P + "b=8;"), 1, damaged + "the stream of " + P + "b" + notBetween,
         P + "a=8;" + P + "b=8;"},
        {image + withTrailer(P + "a=8;" + P + "b=3997;"), 1, damaged + "the stream of " + P + "b" + notBetween,
         P + "a=8;" + P + "b=3997;"},
        {image + withTrailer(P + "a=4;" + P + "b=9;"), 1,
         damaged + "no bzip2 stream begins at offset 9 for " + P + "b\n", P + "a=4;" + P + "b=9;"},
        // The uninstaller's catalog: every offset 9, no streams.
        {image + withTrailer(P + "a=9;" + P + "b=9;"), 0, "", P + "a=9;" + P + "b=9;", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.substr(row.file.size() > 100 ? row.file.size() - 100 : 0));
        testutil::resetOptions();
        writeFile(kit, row.file);
        FileCollection fc;
        EXPECT_EQ(processDataTable(kit, fc, row.streams), row.rc);
        EXPECT_EQ(log(), row.log);
        EXPECT_EQ(entries(fc), row.entries);
        EXPECT_EQ(fc.strFilename, kit);
    }

    testutil::resetOptions();
    FileCollection fc;
    EXPECT_EQ(processDataTable(dir + "/missing", fc), 1);
    EXPECT_EQ(log(), "Could not open file " + dir + "/missing for reading\n");
    EXPECT_EQ(fc.strFilename, "");
}

TEST(PayloadPath, AcceptsOnlyNamesThatCanBeInstalledUpdatedAndRemoved)
{
    const std::string base = "TARVO5/Linux/ppc64/64/";
    for (const std::string& good :
         {base + "lib/libtarvo.so", base + "a.b/c-d_e+f~/.x", base + "lib/files.dat", base + "libcryptocme.so", base + std::string(1002, 'n')})
        EXPECT_EQ(payloadPathProblem(good), nullptr) << good;
    const std::string bad[] = {
        "", "TARVO5/Linux/ppc64/64", base, "/" + base + "a", "tarvo5/Linux/ppc64/64/a", "lib/a", base + "a/../../x",
        base + "lib/libx..so", base + "a//b", base + "./a", base + "a/.", base + "lib/", base + "pk.x",
        base + "pk.d/x", base + ".tarvotmp.1", base + "files.dat", base + ".installdb", base + "files.dat/x", base + ".installdb/x",
        base + "lib/libcryptocme.so", base + "lib/libccme_ecc.so", base + "lib/libcryptocme2.sig", base + "a b",
        base + "a\tb", base + "a;b", base + "a=b", base + "a\\b", base + "a\nb", base + "\x7f", base + "\xc3\xa9",
        base + std::string(1003, 'n'),
    };
    for (const std::string& path : bad)
        EXPECT_NE(payloadPathProblem(path), nullptr) << path;
}

class DecompressTest : public PayloadTest {
protected:
    void SetUp() override
    {
        PayloadTest::SetUp();
        tmp = dir + "/out.tmp";
        streamA = compress(first);
        offsetB = offsetA + static_cast<int64_t>(streamA.size());
        std::string catalog = "a=" + std::to_string(offsetA) + ";b=" + std::to_string(offsetB) + ";";
        writeFile(kit, image + streamA + compress(second) + withTrailer(catalog));
        fc.strFilename = kit;
    }

    // Extracts the stream at offset, expecting failure with exactly this log.
    void expectFailure(int64_t offset, const std::string& message, const std::string& out)
    {
        testutil::resetOptions();
        EXPECT_FALSE(decompressEmbeddedZipToFile(fc, FileResource{"lib/x.so", out, offset}));
        EXPECT_EQ(log(), message);
    }

    const std::string first = noise(23456, 1), second = std::string(12000, 'z') + "end", image = std::string(1000, 'E');
    std::string tmp, streamA;
    int64_t offsetA = 1000, offsetB = 0;
    FileCollection fc;
};

TEST_F(DecompressTest, EachStreamYieldsExactlyItsOwnFile)
{
    writeFile(tmp, std::string(50000, 'x'));  // cut to zero first
    EXPECT_TRUE(decompressEmbeddedZipToFile(fc, FileResource{"a", tmp, offsetA}));
    EXPECT_EQ(readFile(tmp), first);
    EXPECT_TRUE(decompressEmbeddedZipToFile(fc, FileResource{"b", tmp, offsetB}));  // followed by the catalog
    EXPECT_EQ(readFile(tmp), second);
    EXPECT_EQ(log(), "");
}

TEST_F(DecompressTest, FailuresNameTheDestinationOrTheTemporaryFile)
{
    const std::string message = "Unable to extract embedded binary file lib/x.so\n";
    expectFailure(10, message, tmp);       // not a stream at all
    expectFailure(1 << 30, message, tmp);  // past the end of the file
    expectFailure(-5, "Unable to extract embedded binary files\n", tmp);
    const std::string noDir = dir + "/no/such/dir/out.tmp";
    expectFailure(offsetA, "Error writing to file " + noDir + "\n", noDir);

    std::string bytes = readFile(kit);
    bytes[offsetA + streamA.size() / 2] ^= 0x55;
    writeFile(kit, bytes);
    expectFailure(offsetA, message, tmp);
    writeFile(kit, image + streamA.substr(0, streamA.size() - 20));  // ends inside the stream
    expectFailure(offsetA, message, tmp);

    fc.strFilename = dir + "/missing";
    expectFailure(offsetA, "Could not open file " + dir + "/missing for reading\n", dir + "/out");
    EXPECT_FALSE(testutil::exists(dir + "/out"));

    // A full disk: the data does not fit a small file system.
    fc.strFilename = kit;
    writeFile(kit, image + streamA);
    std::string small = dir + "/small";
    ASSERT_EQ(system(("mkdir -p " + small).c_str()), 0);
    if (mount("tarvo-small", small.c_str(), "tmpfs", 0, "size=8k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs";
    expectFailure(offsetA, "Error writing to file " + small + "/out.tmp\n", small + "/out.tmp");
    umount(small.c_str());
}

// A length one digit off that lands on an entry boundary hides the first entry; the streams show it.
TEST_F(DecompressTest, StreamsMustEndWhereTheNextEntryOrTheCatalogBegins)
{
    const std::string P = "TARVO5/Linux/ppc64/64/";
    const std::string a = P + "a=" + std::to_string(offsetA) + ";", b = P + "b=" + std::to_string(offsetB) + ";";
    const std::string streams = image + streamA + compress(second);
    for (bool hidden : {false, true}) {
        SCOPED_TRACE(hidden);
        testutil::resetOptions();
        const std::string shown = hidden ? b : a + b;
        writeFile(kit, streams + a + b + std::to_string(shown.size() + 1) + "\n");
        FileCollection read;
        ASSERT_EQ(processDataTable(kit, read), 0);
        ASSERT_EQ(entries(read), shown);
        FileResource last = read.files.back();
        last.tempFilename = tmp;
        EXPECT_EQ(decompressEmbeddedZipToFile(read, last), !hidden);
        EXPECT_EQ(log(), hidden ? "The installer file is damaged: the stream of " + P +
                                      "b does not end where the next one begins\n"
                                : "");
    }
}

// The kit the build makes must read back through the installer's own reader.
TEST(BuiltKit, EveryEntryDecompressesToItsSource)
{
    testutil::resetOptions();
    const char* build = getenv("TARVO_BUILD");
    if (build == nullptr || !testutil::exists(std::string(build) + "/tarvo_installer.bin"))
        GTEST_SKIP() << "no built kit";
    FileCollection fc;
    ASSERT_EQ(processDataTable(std::string(build) + "/tarvo_installer.bin", fc), 0);
    ASSERT_EQ(fc.files.size(), 7u);
    std::string out = testutil::freshDir("builtkit") + "/out";
    for (int i = 0; i < 7; ++i) {
        FileResource r = fc.files[i];
        EXPECT_EQ(r.destFilename, kShippedPaths[i]);
        std::string name = r.destFilename.substr(r.destFilename.rfind('/') + 1);
        r.tempFilename = out;
        ASSERT_TRUE(decompressEmbeddedZipToFile(fc, r)) << name;
        EXPECT_EQ(readFile(out), readFile(std::string(build) + "/kit/payload/" + name)) << name;
    }
}

}  // namespace
