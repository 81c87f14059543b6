#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "filelog.h"
#include "payload.h"
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

const std::string P = "TARVO5/Linux/ppc64/64/";

std::string withTrailer(const std::string& catalog) { return catalog + std::to_string(catalog.size() + 1) + "\n"; }

std::string entries(const FileCollection& fc)
{
    std::string s;
    for (const FileResource& r : fc.files)
        s += r.destFilename + "=" + std::to_string(r.lOffset) + ";";
    return s;
}

const std::string dir = "/tmp/t_payload", kit = dir + "/kit.bin";

TEST(Payload, CatalogTable)
{
    freshDir("payload");
    std::string image;  // a stream header every four bytes
    for (int i = 0; i < 1000; ++i)
        image += "BZh9";
    std::string big;  // five trailer digits
    for (int i = 0; big.size() < 10000; ++i)
        big += P + "f" + std::to_string(i) + "=" + std::to_string(4 * (i + 1)) + ";";
    const std::string one = P + "a=4;", noSemicolon = "Unable to find semicolon embedded in file \n",
                      noLength = "Unable to retieve data section size in embedded file 0 \n", damaged = "The installer file is damaged: ",
                      badTrailer = damaged + "it does not end in the catalog length and a line feed\n",
                      notBetween = " does not lie between the one before it and the catalog\n";
    const struct {
        std::string file, log, entries;  // a run fails exactly when it logs
        bool streams = true;
    } rows[] = {
        {image + one + "123456\n", noSemicolon, ""},  // six digits put the ";" out of reach
        {image + one + "\n", noLength, ""},
        {image + one + "1\n", badTrailer, ""},  // even an empty catalog holds its ";"
        {one + "99\n", "Unable to read data from the starting of data section embedded in file \n", ""},
        {image + withTrailer(big), "", big},
        {image + withTrailer(P + "a=4;;" + P + "b=8;"), "File size retrived from data section is not correct:0 \n", one},
        {image + withTrailer(P + "a=4;" + P + "a=8;"), damaged + "the catalog names " + P + "a twice\n", one},
        {image + withTrailer(P + "a=8;" + P + "b=8;"), damaged + "the stream of " + P + "b" + notBetween, P + "a=8;" + P + "b=8;"},
        {image + withTrailer(P + "a=8;" + P + "b=3997;"), damaged + "the stream of " + P + "b" + notBetween, P + "a=8;" + P + "b=3997;"},
        {image + withTrailer(P + "a=8;" + P + "b=3996;"), "", P + "a=8;" + P + "b=3996;"},  // the last four bytes
        {image + withTrailer(P + "a=4;" + P + "b=9;"), damaged + "no bzip2 stream begins at offset 9 for " + P + "b\n", P + "a=4;" + P + "b=9;"},
        {image + withTrailer(P + "a=9;" + P + "b=9;"), "", P + "a=9;" + P + "b=9;", false},  // the uninstaller's catalog
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.substr(row.file.size() > 100 ? row.file.size() - 100 : 0));
        resetOptions();
        writeFile(kit, row.file);
        FileCollection fc{{FileResource{"kept", "", 0}}, "", 0};  // entries are appended
        EXPECT_EQ(processDataTable(kit, fc, row.streams), row.log.empty() ? 0 : 1);
        EXPECT_EQ(readFile(LOG_FILE_PATH), row.log);
        EXPECT_EQ(entries(fc) + fc.strFilename, "kept=0;" + row.entries + kit);
    }
}

TEST(PayloadPath, AcceptsOnlyNamesThatCanBeInstalledUpdatedAndRemoved)
{
    for (const std::string& good :
         {P + "lib/libtarvo.so", P + "a.b/c-d_e+f~/.x", P + "lib/files.dat", P + "libcryptocme.so", P + std::string(1002, 'n')})
        EXPECT_EQ(payloadPathProblem(good), nullptr) << good;
    for (const std::string& bad : std::initializer_list<std::string>{
             "", P.substr(0, P.size() - 1), P, "/" + P + "a", "tarvo5/Linux/ppc64/64/a", "lib/a", P + "a/../../x",
          P + "lib/libx..so", P + "a//b", P + "./a", P + "a/.", P + "lib/", P + "pk.x", P + "pk.d/x", P + ".tarvotmp.1",
          P + "files.dat", P + ".installdb", P + "files.dat/x", P + ".installdb/x", P + "lib/libcryptocme.so",
          P + "lib/libccme_ecc.so", P + "lib/libcryptocme2.sig", P + "a b", P + "a\tb", P + "a;b", P + "a=b", P + "a\\b",
          P + "a\nb", P + "\x7f", P + "\xc3\xa9", P + std::string(1003, 'n')})
        EXPECT_NE(payloadPathProblem(bad), nullptr) << bad;
}

TEST(Payload, StreamsDecompressToExactlyTheirFilesOrFailWithTheDestinationsName)
{
    freshDir("payload");
    const std::string image(1000, 'E'), first = readFile("/proc/self/exe").substr(0, 60000), second = std::string(12000, 'z') + "end";
    const std::string a = bzip2(first), tmp = dir + "/out.tmp";  // a stream of several 5000-byte reads
    const int64_t offA = 1000, offB = offA + int64_t(a.size());
    const std::string streams = image + a + bzip2(second);
    const std::string catA = P + "a=" + std::to_string(offA) + ";", catB = P + "b=" + std::to_string(offB) + ";";
    FileCollection fc{{}, kit, 0};
    writeFile(kit, streams + withTrailer(catA + catB));
    writeFile(tmp, std::string(50000, 'x'));  // cut to zero first
    EXPECT_TRUE(decompressEmbeddedZipToFile(fc, FileResource{"a", tmp, offA}) && readFile(tmp) == first);
    EXPECT_TRUE(decompressEmbeddedZipToFile(fc, FileResource{"b", tmp, offB}) && readFile(tmp) == second);  // followed by the catalog

    auto fails = [&](int64_t offset, const std::string& out, const std::string& message) {
        resetOptions();
        EXPECT_FALSE(decompressEmbeddedZipToFile(fc, FileResource{"lib/x.so", out, offset}));
        EXPECT_EQ(readFile(LOG_FILE_PATH), message);
    };
    const std::string noExtract = "Unable to extract embedded binary file lib/x.so\n";
    fails(10, tmp, noExtract);
    fails(offA, dir + "/no/dir/out", "Error writing to file " + dir + "/no/dir/out\n");
    writeFile(kit, image + a.substr(0, a.size() - 20));
    fails(offA, tmp, noExtract);

    // A length one digit off that lands on an entry boundary hides the first entry; the streams show it.
    resetOptions();
    writeFile(kit, streams + catA + catB + std::to_string(catB.size() + 1) + "\n");
    FileCollection read;
    ASSERT_EQ(processDataTable(kit, read), 0);
    ASSERT_EQ(entries(read), catB);
    EXPECT_FALSE(decompressEmbeddedZipToFile(read, FileResource{"b", tmp, offB}));
    EXPECT_EQ(readFile(LOG_FILE_PATH), "The installer file is damaged: the stream of b does not end where the next one begins\n");
}

const std::string placeDir = "/tmp/t_place";

void start()
{
    resetOptions();
    g_opts.verbose = g_opts.veryverbose = true;
    g_thisKitVersionString = "5.2.4";
    freshDir("place");
    umask(077);
}

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

bool install(const Payload& payload) { FileCollection fc = make(payload); return installFiles(placeDir, fc, fc.files); }

std::string tree()
{
    std::map<std::string, std::string> entries;
    for (const auto& e : std::filesystem::directory_iterator(placeDir))
        entries[e.path().filename()] = e.is_directory() ? "/" : "=" + readFile(e.path());
    std::string out;
    for (const auto& [name, what] : entries)
        out += name + what + ";";
    return out;
}

TEST(Placement, MakesDirectoriesAndPlacesNewFilesThenReplacesThem)
{
    start();
    EXPECT_EQ(createDirectoryPath(placeDir + "/a//b"), 0);
    EXPECT_EQ(modeOf(placeDir + "/a") + modeOf(placeDir + "/a/b"), 2 * 0755u);

    EXPECT_TRUE(install({{"liborvan2.so", "legacy\n"}, {"cfg", ""}}) && tree() == "a/;cfg=;liborvan2.2.4.so=legacy\n;") << tree();

    // Replacing: cfg goes through its backup name; the hook takes liborvan's temporary file away.
    chmod((placeDir + "/cfg").c_str(), 0600);
    g_beforeRename = [] {
        for (const auto& e : std::filesystem::directory_iterator(placeDir))
            if (readFile(e.path()) == "lost")
                unlink(e.path().c_str());
    };
    EXPECT_TRUE(install({{"b", "new b"}, {"cfg", "new cfg"}, {"liborvan2.so", "lost"}}) &&
                tree() == "a/;b=new b;cfg=new cfg;liborvan2.2.4.so=legacy\n;") << tree();
    EXPECT_TRUE(logged("File " + placeDir + "/liborvan2.2.4.so can not be installed by this setup file, hence it has been left as it is \n"));
    for (const char* name : {"b", "cfg", "liborvan2.2.4.so"})
        EXPECT_EQ(modeOf(placeDir + "/" + name), 0755u) << name;
}

TEST(Placement, ALevelWhoseSubdirectoryCannotBeMadeStopsBeforeItsOwnFiles)
{
    start();
    writeFile(placeDir + "/b", "a regular file where a directory belongs");
    FileCollection fc = make({{"top", "t"}, {"b/f", "f"}});
    resetOptions();  // errors only
    EXPECT_TRUE(!installStructure(placeDir, fc, fc.files) && tree() == "b=a regular file where a directory belongs;") << tree();
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Failed to create installation directory\nA component of the installation path was not a directory\n");
}

}  // namespace
