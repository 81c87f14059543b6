#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

using Args = std::vector<std::string>;

struct Captured {
    bool result = false;
    std::string out, err;
};

// Parses a command line (without argv[0]) after a reset and captures the console.
Captured parse(Args args)
{
    testutil::resetOptions();
    args.insert(args.begin(), "/opt/kit/tarvo_setup");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Captured c;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    c.result = parseCommandLine(static_cast<int>(args.size()), argv.data());
    c.out = testing::internal::GetCapturedStdout();
    c.err = testing::internal::GetCapturedStderr();
    return c;
}

bool has(const Args& args, const char* word)
{
    return std::find(args.begin(), args.end(), word) != args.end();
}

class OptionsTest : public testing::Test {
protected:
    void SetUp() override { unsetenv("QZSHCOMP"); write_temp_qzprofile(); }
    void TearDown() override { delete_temp_qzprofile(); }
};

// The log holds exactly the message; the console gets it only with a verbosity word anywhere,
// except the missing-arguments message, which is forced onto stdout.
TEST_F(OptionsTest, EveryRejectionLogsExactlyItsMessage)
{
    const std::string badAndLong = std::string(300, 'x') + "!";
    const std::vector<std::pair<Args, std::string>> cases = {
        {{}, " Number of arguments are not sufficient \n"},
        {{"install", "discover", "caller=app"}, "Discover must be the last option \n"},
        {{"install", "forceremove", "caller=app"}, "Installation mode may be specified only once\n"},
        {{"install", "caller=app "}, "Caller should not start or end with space\n"},
        {{"install", "caller=caf\xc3\xa9"}, "Caller contains non supported characters \n"},
        {{"install", "caller=" + badAndLong}, "Caller contains non supported characters \n"},
        {{"install", "caller=" + std::string(256, 'c')}, "Caller cannot contain more than 255 characters\n"},
        {{"install", "caller="}, "Parameter expected for caller\n"},
        {{"install", "caller=app", "instdirX"}, "Parameter expected for instdir\n"},
        {{"install", "caller=app", "env"}, "Invalid parameter for env\n"},
        {{"install", "caller=app", "env="}, "Invalid parameter for env\n"},
        {{"install", "caller=app", "environment"}, "Invalid parameter for env\n"},
        {{"install", "caller=app", "env=all", "env"}, "Environment variable setting mode may be specified only once\n"},
        {{"Install", "caller=app"}, "Unexpected command-line parameter: Install\n"},
        {{"install", "caller=app", ""}, "Unexpected command-line parameter: \n"},
        {{"install", "caller=app", "Verbose", "verbose"}, "Unexpected command-line parameter: Verbose\n"},
        {{"caller=app"}, "Installation mode not specified\n"},
        {{"veryverbose", "remove"}, "CallerID not specified\n"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        Captured c = parse(args);
        bool loud = has(args, "verbose") || has(args, "veryverbose");
        EXPECT_FALSE(c.result);
        EXPECT_EQ(readFile(LOG_FILE_PATH), message);
        EXPECT_EQ(c.out, args.empty() ? "[TARVO] " + message : "");
        EXPECT_EQ(c.err, loud ? "[TARVO] " + message : "");
        EXPECT_EQ(g_opts.verbose, loud);
        EXPECT_EQ(g_opts.veryverbose, has(args, "veryverbose"));
    }
}

// Accepted lines print and log nothing; a rejection keeps what was set before it.
TEST_F(OptionsTest, EachWordFillsItsFieldAndTheLastValueWins)
{
    struct Row {
        Args args;
        std::string caller, dir = "";
        SetEnv env = NONE;
        InstallMode mode = INSTALL;
        bool ok = true;
    };
    const std::string maxCaller(255, 'c');
    const Row rows[] = {
        {{"forceremove", "env=all", "instdir=/a b/c", "caller=x"}, "x", "/a b/c", ALL, FORCEREMOVE},
        {{"install", "verbose", "caller=app", "env=user", "instdir=/a", "instdir=/b"}, "app", "/b", USER},
        {{"remove", "caller=app", "env=user", "instdir=/x", "bogus"}, "app", "/x", USER, REMOVE, false},
        {{"install", "caller=a", "caller=b", "env=none"}, "b"},
        {{"install", "caller=" + maxCaller}, maxCaller},
        {{"caller=A-z_[09]()*&$ x", "install"}, "A-z_[09]()*&$ x"},
        // A value-less caller word re-checks the caller already given.
        {{"install", "caller=app", "callerX"}, "app"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        Captured c = parse(r.args);
        EXPECT_EQ(c.result, r.ok);
        EXPECT_EQ(g_opts.installMode, r.mode);
        EXPECT_EQ(g_opts.caller, r.caller);
        EXPECT_EQ(g_opts.installDir, r.dir);
        EXPECT_EQ(g_opts.setenv, r.env);
        EXPECT_EQ(g_opts.verbose, has(r.args, "verbose"));
        EXPECT_FALSE(g_opts.veryverbose);
        EXPECT_EQ(c.out + c.err, "");
        EXPECT_EQ(testutil::exists(LOG_FILE_PATH), !r.ok);
    }

    ASSERT_TRUE(parse({"forceremove", "caller=my app", "env=all"}).result);
    g_opts.verbose = true;
    testing::internal::CaptureStdout();
    logParametersLine();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[TARVO] Parameters: mode=forceremove, caller=my app, instdir=, env=all, verbose=true\n");
    EXPECT_STREQ(installModeName(UNKNOWN), "unknown");
    EXPECT_STREQ(installModeName(REMOVE), "remove");
}

// Only the last word is taken off, and its report comes before the rest is parsed.
TEST_F(OptionsTest, OnlyATrailingDiscoverIsTakenOffAfterTheReport)
{
    EXPECT_TRUE(parse({"install", "caller=app", "discover", "discover"}).result);
    EXPECT_EQ(g_opts.caller, "app");
    EXPECT_FALSE(parse({"install", "caller=app", "discover", "discover", "discover"}).result);
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to discover TARVO installation \nDiscover must be the last option \n");
}

// The discover-only run ends the process: run it in a child and look at what it left.
TEST_F(OptionsTest, DiscoverAloneReportsCleansUpAndExitsWithZero)
{
    std::string out = testutil::freshDir("opt_only") + "/out";
    testutil::resetOptions();
    testutil::writeFile(LOCK_FILE_PATH, "lock");
    delete_temp_qzprofile();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (!freopen(out.c_str(), "w", stdout))
            _exit(98);
        write_temp_qzprofile();
        char prog[] = "tarvo_setup", word[] = "discover";
        char* argv[] = {prog, word, nullptr};
        parseCommandLine(2, argv);
        _exit(99);  // not reached when the run ended as it should
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(out), "[TARVO] Unable to discover TARVO installation \n");
    EXPECT_EQ(readFile(LOG_FILE_PATH), "Unable to discover TARVO installation \n");
    EXPECT_FALSE(testutil::exists(LOCK_FILE_PATH));
    EXPECT_NE(std::system("ls /tmp/qzprof* >/dev/null 2>&1"), 0);  // the utility copy is gone
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
    const std::pair<std::string, std::string> names[] = {
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

}  // namespace
