#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "log.h"
#include "options.h"
#include "qzprofile.h"
#include "testutil.h"

using testutil::readFile;

namespace {

struct Captured {
    bool result = false;
    std::string out, err;
};

// Parses a command line (without argv[0]) and captures the console.
Captured parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "/opt/kit/tarvo_setup");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Captured c;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    c.result = parseCommandLine(static_cast<int>(args.size()), argv.data());
    fflush(stdout);
    c.out = testing::internal::GetCapturedStdout();
    c.err = testing::internal::GetCapturedStderr();
    return c;
}

// A registry below root for the non-global discovery candidate.
void makeRegistry(const std::string& root, const std::string& content)
{
    std::string dir = recordDir(root + "/TARVO");
    std::system(("mkdir -p '" + dir + "'").c_str());
    testutil::writeFile(dir + "/.installdb", content);
}

class OptionsTest : public testing::Test {
protected:
    void SetUp() override
    {
        testutil::resetOptions();
        unsetenv("QZSHCOMP");
        write_temp_qzprofile();
    }
    void TearDown() override
    {
        delete_temp_qzprofile();
        unsetenv("QZSHCOMP");
    }
};

TEST_F(OptionsTest, EveryRejectionLogsExactlyItsMessageToTheLogFileOnly)
{
    const std::string longCaller(256, 'c');
    const std::string badAndLong = std::string(300, 'x') + "!";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"discover", "install", "caller=app"}, "Discover must be the last option \n"},
        {{"install", "discover", "caller=app"}, "Discover must be the last option \n"},
        {{"remove", "caller=app", "remove"}, "Installation mode may be specified only once\n"},
        {{"install", "forceremove", "caller=app"}, "Installation mode may be specified only once\n"},
        {{"install", "caller= app"}, "Caller should not start or end with space\n"},
        {{"install", "caller=app "}, "Caller should not start or end with space\n"},
        {{"install", "caller=a!b"}, "Caller contains non supported characters \n"},
        {{"install", "caller=caf\xc3\xa9"}, "Caller contains non supported characters \n"},
        {{"install", "caller=a/b"}, "Caller contains non supported characters \n"},
        {{"install", "caller=" + badAndLong}, "Caller contains non supported characters \n"},
        {{"install", "caller=" + longCaller}, "Caller cannot contain more than 255 characters\n"},
        {{"install", "callerX"}, "Parameter expected for caller\n"},
        {{"install", "caller="}, "Parameter expected for caller\n"},
        {{"install", "caller=app", "instdir="}, "Parameter expected for instdir\n"},
        {{"install", "caller=app", "instdirX"}, "Parameter expected for instdir\n"},
        {{"install", "caller=app", "env=USER"}, "Invalid parameter for env\n"},
        {{"install", "caller=app", "env"}, "Invalid parameter for env\n"},
        {{"install", "caller=app", "env:all"}, "Invalid parameter for env\n"},
        {{"install", "caller=app", "env="}, "Invalid parameter for env\n"},
        {{"install", "caller=app", "environment"}, "Invalid parameter for env\n"},
        {{"install", "caller=app", "env=user", "env=all"}, "Environment variable setting mode may be specified only once\n"},
        {{"install", "caller=app", "env=none", "env=user"}, "Environment variable setting mode may be specified only once\n"},
        {{"install", "caller=app", "env=all", "env"}, "Environment variable setting mode may be specified only once\n"},
        {{"install", "caller=app", "Verbose"}, "Unexpected command-line parameter: Verbose\n"},
        {{"Install", "caller=app"}, "Unexpected command-line parameter: Install\n"},
        {{"install", "caller=app", ""}, "Unexpected command-line parameter: \n"},
        {{"caller=app"}, "Installation mode not specified\n"},
        {{"install"}, "CallerID not specified\n"},
        {{"instdir=/x", "env=all"}, "Installation mode not specified\n"},
    };
    for (const auto& [args, message] : cases) {
        testutil::resetOptions();
        std::string line;
        for (const std::string& a : args)
            line += "[" + a.substr(0, 20) + "]";
        SCOPED_TRACE(line);
        Captured c = parse(args);
        EXPECT_FALSE(c.result);
        EXPECT_EQ(readFile(LOG_FILE_PATH), message);
        EXPECT_EQ(c.out, "");
        EXPECT_EQ(c.err, "");
    }
}

TEST_F(OptionsTest, RejectionReachesStderrOnlyWithAVerbosityWordAnywhere)
{
    Captured c = parse({"install", "caller=app", "Verbose", "verbose"});
    EXPECT_FALSE(c.result);
    EXPECT_EQ(c.err, "[TARVO] Unexpected command-line parameter: Verbose\n");
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unexpected command-line parameter: Verbose\n");

    testutil::resetOptions();
    c = parse({"veryverbose", "remove"});
    EXPECT_FALSE(c.result);
    EXPECT_EQ(c.err, "[TARVO] CallerID not specified\n");
    EXPECT_TRUE(g_opts.veryverbose);
}

TEST_F(OptionsTest, NoArgumentsSaysSoOnTheConsoleAndLeavesVerboseOff)
{
    Captured c = parse({});
    EXPECT_FALSE(c.result);
    EXPECT_EQ(c.out, "[TARVO]  Number of arguments are not sufficient \n");
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(readFile(LOG_FILE_PATH), " Number of arguments are not sufficient \n");
    EXPECT_FALSE(g_opts.verbose);
}

TEST_F(OptionsTest, ValuesSetBeforeARejectionStay)
{
    EXPECT_FALSE(parse({"remove", "caller=app", "env=user", "instdir=/x", "bogus"}).result);
    EXPECT_EQ(g_opts.installMode, REMOVE);
    EXPECT_EQ(g_opts.caller, "app");
    EXPECT_EQ(g_opts.setenv, USER);
    EXPECT_EQ(g_opts.installDir, "/x");
}

TEST_F(OptionsTest, AcceptedLinesFillTheRecordQuietly)
{
    Captured c = parse({"forceremove", "env=all", "instdir=/a b/c", "caller=x"});
    EXPECT_TRUE(c.result);
    EXPECT_EQ(g_opts.installMode, FORCEREMOVE);
    EXPECT_EQ(g_opts.caller, "x");
    EXPECT_EQ(g_opts.installDir, "/a b/c");
    EXPECT_EQ(g_opts.setenv, ALL);
    EXPECT_FALSE(g_opts.verbose);
    EXPECT_EQ(c.out + c.err, "");
    EXPECT_FALSE(testutil::exists(LOG_FILE_PATH));

    const std::string maxCaller(255, 'c');
    const std::vector<std::pair<std::vector<std::string>, std::string>> callers = {
        {{"install", "caller=a", "caller=b"}, "b"},
        {{"install", "caller=my app(2)"}, "my app(2)"},
        {{"install", "caller=" + maxCaller}, maxCaller},
        {{"caller=A-z_[09]()*&$ x", "install"}, "A-z_[09]()*&$ x"},
        // A value-less caller word re-checks the caller already given.
        {{"install", "caller=app", "callerX"}, "app"},
    };
    for (const auto& [args, caller] : callers) {
        testutil::resetOptions();
        SCOPED_TRACE(caller);
        EXPECT_TRUE(parse(args).result);
        EXPECT_EQ(g_opts.caller, caller);
    }

    testutil::resetOptions();
    EXPECT_TRUE(parse({"install", "verbose", "caller=app", "env=user", "instdir=/a", "instdir=/b"}).result);
    EXPECT_EQ(g_opts.setenv, USER);
    EXPECT_EQ(g_opts.installDir, "/b");
    EXPECT_TRUE(g_opts.verbose);
    EXPECT_FALSE(g_opts.veryverbose);
}

TEST_F(OptionsTest, TrailingDiscoverReportsFirstThenParsesTheRest)
{
    std::string root = testutil::freshDir("opt_disc");
    makeRegistry(root, "CurrentVersion 5.2.4\n");
    setenv("QZSHCOMP", root.c_str(), 1);

    Captured c = parse({"install", "caller=app", "discover"});
    EXPECT_TRUE(c.result);
    EXPECT_EQ(g_opts.installMode, INSTALL);
    EXPECT_FALSE(g_opts.verbose);  // the report alone was forced onto the console
    EXPECT_NE(c.out.find("[TARVO] Found non-global installation of TARVO in " + root + "/TARVO.\n"),
              std::string::npos);
    EXPECT_NE(readFile(LOG_FILE_PATH).find("-----------Discovery Complete-----------\n\n"), std::string::npos);

    testutil::resetOptions();
    c = parse({"install", "caller=app", "discover", "discover"});
    EXPECT_TRUE(c.result);
    EXPECT_EQ(g_opts.caller, "app");

    testutil::resetOptions();
    c = parse({"install", "caller=app", "discover", "discover", "discover"});
    EXPECT_FALSE(c.result);
    std::string log = readFile(LOG_FILE_PATH);
    EXPECT_EQ(log.substr(log.rfind("-----------Discovery Complete")),
              "-----------Discovery Complete-----------\n\nDiscover must be the last option \n");
}

// The discover-only run ends the process: run it in a child and look at what it left.
TEST_F(OptionsTest, DiscoverAloneReportsCleansUpAndExitsWithZero)
{
    std::string dir = testutil::freshDir("opt_only");
    setenv("QZSHCOMP", (dir + "/none").c_str(), 1);
    testutil::writeFile(LOCK_FILE_PATH, "lock");
    delete_temp_qzprofile();

    fflush(stdout);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (!freopen((dir + "/out").c_str(), "w", stdout))
            _exit(98);
        write_temp_qzprofile();
        const char* name = give_temp_qzprofile_name();
        testutil::writeFile(dir + "/name", name ? name : "");
        char prog[] = "tarvo_setup";
        char word[] = "discover";
        char* argv[] = {prog, word, nullptr};
        parseCommandLine(2, argv);
        _exit(99);  // not reached when the run ended as it should
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(dir + "/out"), "[TARVO] Unable to discover TARVO installation \n");
    EXPECT_FALSE(testutil::exists(LOCK_FILE_PATH));
    std::string name = readFile(dir + "/name");
    if (!name.empty()) {
        EXPECT_FALSE(testutil::exists(name));
    }
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to discover TARVO installation \n");
}

TEST_F(OptionsTest, UsageNamesTheProgramFileAndGoesToTheLog)
{
    const std::string body =
        "where: CallerID is the parent application that is installing TARVO, CallerID only accepts alpha-numeric "
        "values\n"
        "options:\n"
        "       instdir=path   to set installation directory path (absolute)\n"
        "       verbose        to enable output of diagnoses messages\n"
        "       env=<none|user|all>\n"
        "                      to enable setting environment variables for\n"
        "                      the specified user(s) from:\n"
        "                      none: do not set environment variables (default)\n"
        "                      user: current user only ($HOME/.profile)\n"
        "                      all:  all users (/etc/profile)\n"
        "       discover   \t discover existing installation.\n"
        "                      discover must be the last option if used.\n";
    const std::vector<std::pair<std::string, std::string>> names = {
        {"/opt/kit/tarvo_setup", "tarvo_setup"},
        {"dir\\sub/x\\setup.exe", "setup.exe"},
        {"plain", "plain"},
    };
    for (const auto& [appName, file] : names) {
        testutil::resetOptions();
        testing::internal::CaptureStderr();
        usage(appName);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(readFile(LOG_FILE_PATH), "Usage: " + file + " <install|remove> caller=<CallerID> [options...]\n" + body);
    }

    g_opts.verbose = true;
    testing::internal::CaptureStderr();
    usage("x");
    std::string err = testing::internal::GetCapturedStderr();
    size_t prefixed = 0;
    for (size_t at = 0; (at = err.find("[TARVO] ", at)) != std::string::npos; ++at)
        ++prefixed;
    EXPECT_EQ(prefixed, 13u);
}

TEST_F(OptionsTest, ParametersLineEchoesTheParsedLine)
{
    Captured c = parse({"forceremove", "caller=my app", "env=all", "verbose"});
    ASSERT_TRUE(c.result);
    testing::internal::CaptureStdout();
    logParametersLine();
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[TARVO] Parameters: mode=forceremove, caller=my app, instdir=, env=all, verbose=true\n");

    EXPECT_STREQ(installModeName(UNKNOWN), "unknown");
    EXPECT_STREQ(installModeName(REMOVE), "remove");
    EXPECT_STREQ(installModeName(static_cast<InstallMode>(7)), "unknown");
}

}  // namespace
