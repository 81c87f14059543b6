// The command line, the console and log routing, and the discovery report.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "log.h"
#include "options.h"
#include "qzprofile.h"
#include "testutil.h"

using namespace testutil;
using Args = std::vector<std::string>;

namespace {

// What f prints: stdout, "|", stderr.
template <typename F>
std::string console(F f)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    std::string out = testing::internal::GetCapturedStdout();
    return out + "|" + testing::internal::GetCapturedStderr();
}

// Parses a command line (without argv[0]) after a reset.
bool parse(Args args)
{
    resetOptions();
    args.insert(args.begin(), "/opt/kit/tarvo_setup");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    return parseCommandLine(int(argv.size()), argv.data());
}

TEST(Log, EachVerbosityRoutesEveryClassToItsStreamAndTheFile)
{
    const std::tuple<bool, bool, const char*, const char*, const char*> rows[] = {
        {false, false, "", "", "error x\n"},
        {true, false, "[TARVO] info 1\n", "[TARVO] error x\n", "info 1\nerror x\n"},
        {true, true, "[TARVO] info 1\n[TARVO] detail\n", "[TARVO] error x\n", "info 1\ndetail\nerror x\n"},
    };
    for (const auto& [verbose, veryverbose, out, err, log] : rows) {
        resetOptions();
        g_opts.verbose = verbose;
        g_opts.veryverbose = veryverbose;
        std::string printed = console([] {
            log_msg(MT_INFO, "info %d\n", 1);
            log_msg(MT_VV, "detail\n");
            log_msg(MT_ERROR, "error %s\n", "x");
        });
        EXPECT_EQ(printed + "|" + readFile(LOG_FILE_PATH), std::string(out) + "|" + err + "|" + log);
    }
}

// Planted in the shared /tmp: a link to another file, and a FIFO that has a reader.
TEST(Log, PlantedLinkOrFifoAtItsNameIsNeverWritten)
{
    resetOptions();
    writeFile("/tmp/victim", "keep\n");
    ASSERT_EQ(symlink("/tmp/victim", LOG_FILE_PATH), 0);
    log_msg(MT_ERROR, "planted\n");
    EXPECT_EQ(readFile("/tmp/victim"), "keep\n");
    resetOptions();
    ASSERT_EQ(mkfifo(LOG_FILE_PATH, 0666), 0);
    int reader = open(LOG_FILE_PATH, O_RDONLY | O_NONBLOCK);
    log_msg(MT_ERROR, "planted\n");
    char c;
    EXPECT_LE(read(reader, &c, 1), 0);
    close(reader);
}

// The log holds exactly the message; the console only with verbose, as for any error.
TEST(Options, RejectionsLogExactlyTheirMessage)
{
    const std::pair<Args, std::string> cases[] = {
        {{}, " Number of arguments are not sufficient \n"},
        {{"install", "caller=app "}, "Caller should not start or end with space\n"},
        {{"install", "caller=caf\xc3\xa9"}, "Caller contains non supported characters \n"},
        {{"install", "caller=" + std::string(300, 'x') + "!"}, "Caller contains non supported characters \n"},
        {{"install", "caller=" + std::string(256, 'c')}, "Caller cannot contain more than 255 characters\n"},
        {{"install", "caller=app", "env"}, "Invalid parameter for env\n"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_FALSE(parse(args)) << message;
        EXPECT_EQ(readFile(LOG_FILE_PATH), message);
    }
    // A verbosity word anywhere counts, even after the word that fails.
    EXPECT_EQ(console([] { parse({"install", "Verbose", "verbose"}); }),
              "|[TARVO] Unexpected command-line parameter: Verbose\n");
}

// The last value of a word wins.
TEST(Options, EachWordFillsItsFieldAndTheLastValueWins)
{
    const std::tuple<Args, std::string, std::string, SetEnv, InstallMode> rows[] = {
        {{"forceremove", "env=all", "instdir=/a b/c", "caller=x"}, "x", "/a b/c", ALL, FORCEREMOVE},
        {{"remove", "verbose", "caller=app", "env=user", "instdir=/a", "instdir=/b"}, "app", "/b", USER, REMOVE},
        {{"install", "caller=a", "caller=b", "env=none"}, "b", "", NONE, INSTALL},
        {{"install", "caller=" + std::string(255, 'c')}, std::string(255, 'c'), "", NONE, INSTALL},
        {{"caller=A-z_[09]()*&$ x", "install"}, "A-z_[09]()*&$ x", "", NONE, INSTALL},
        {{"install", "caller=app", "callerX"}, "app", "", NONE, INSTALL},  // re-checks the caller already given
        {{"install", "caller=app", "discover", "discover"}, "app", "", NONE, INSTALL},  // only the last one goes
    };
    for (const auto& [args, caller, dir, env, mode] : rows) {
        EXPECT_TRUE(parse(args)) << testing::PrintToString(args);
        EXPECT_EQ(std::tie(g_opts.caller, g_opts.installDir, g_opts.setenv, g_opts.installMode),
                  std::tie(caller, dir, env, mode));
    }
    ASSERT_TRUE(parse({"forceremove", "caller=my app", "env=all"}));
    g_opts.verbose = true;
    EXPECT_EQ(console(logParametersLine),
              "[TARVO] Parameters: mode=forceremove, caller=my app, instdir=, env=all, verbose=true\n|");
}

// The global root comes from the shared profile files, set here through the profile utility.
TEST(Discovery, SharedProfileFirstThenTheEnvironmentAndOnlyARegularRegistry)
{
    resetOptions();
    g_opts.verbose = true;  // as the parser runs it
    auto discover = [] { std::remove(LOG_FILE_PATH); console(runDiscovery); return readFile(LOG_FILE_PATH); };
    const std::string root = freshDir("disc"), global = root + "/global", db = installDbPath(root + "/TARVO");
    delete_temp_qzprofile();  // a discovery run earlier left an empty one
    write_temp_qzprofile();
    ASSERT_EQ(update_env_var_with_temp_qzprofile(("QZSHCOMP \"" + global + "\"").c_str()), 0);
    setenv("QZSHCOMP", root.c_str(), 1);
    std::system(("mkdir -p '" + db + "' '" + recordDir(global + "/TARVO") + "'").c_str());
    EXPECT_EQ(discover(), "Unable to discover TARVO installation \n");  // a directory is no registry
    rmdir(db.c_str());
    // A line of blanks does not end the list; the last line needs no line end.
    writeFile(db, "CurrentVersion 5.2.4\na 1\n  \nb 1");
    EXPECT_NE(discover().find("non-global installation of TARVO in " + root + "/TARVO.\nFound & Opened .installdb\n"
                              "CurrentVersion 5.2.4 \nExisting installations will be displayed as\ncaller Installed "
                              "Version\na 1 \n   \nb 1 \n-----------Discovery Complete-----------\n\n"),
              std::string::npos);
    writeFile(installDbPath(global + "/TARVO"), "CurrentVersion 5.2.4\nx 1\n");
    EXPECT_NE(discover().find("Found global installation of TARVO in " + global + "/TARVO.\n"), std::string::npos);
}

}  // namespace
