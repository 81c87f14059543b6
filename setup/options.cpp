#include "options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "autolock.h"
#include "log.h"
#include "qzprofile.h"
#include "records.h"
#include "runrecord.h"

opts g_opts;

namespace {

const char INSTALL_STR[] = "install";
const char REMOVE_STR[] = "remove";
const char FORCEREMOVE_STR[] = "forceremove";
const char CALLER_STR[] = "caller";
const char INSTALL_DIR_STR[] = "instdir";
const char ENV_STR[] = "env";
const char ENV_NONE_STR[] = "none";
const char ENV_USER_STR[] = "user";
const char ENV_ALL_STR[] = "all";
const char VERBOSE_STR[] = "verbose";
const char VERYVERBOSE_STR[] = "veryverbose";
const char DISCOVER_STR[] = "discover";

const size_t MAX_CALLER_LENGTH = 255;

bool startsWith(const char* arg, const char* word)
{
    return strncmp(arg, word, strlen(word)) == 0;
}

// Letters and digits of ASCII only, whatever the locale says.
bool isCallerChar(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != '\0' && strchr(" -_[]()*&$", c) != nullptr;
}

bool fail(const char* message)
{
    log_msg(MT_ERROR, "%s", message);
    return false;
}

bool validateCaller(const std::string& caller)
{
    if (caller.empty())
        return fail("Parameter expected for caller\n");
    if (caller.front() == ' ' || caller.back() == ' ')
        return fail("Caller should not start or end with space\n");
    for (char c : caller)
        if (!isCallerChar(static_cast<unsigned char>(c)))
            return fail("Caller contains non supported characters \n");
    if (caller.size() > MAX_CALLER_LENGTH)
        return fail("Caller cannot contain more than 255 characters\n");
    return true;
}

const char* setEnvName(SetEnv mode)
{
    switch (mode) {
    case USER:
        return ENV_USER_STR;
    case ALL:
        return ENV_ALL_STR;
    default:
        return ENV_NONE_STR;
    }
}

// A discover-only run ends here, so it must clean up what the driver would have.
[[noreturn]] void endDiscoverOnlyRun()
{
    recordRun("discover", 0);
    delete_temp_qzprofile();
    remove_lock(LOCK_FILE_PATH);
    fflush(stdout);
    exit(0);
}

// Opens a registry only when it is a plain file: a directory opens but reads nothing, a FIFO would block.
FILE* openRegistry(const std::string& path)
{
    struct stat st;
    int fd = openRegularFile(path, O_RDONLY, st, path);
    FILE* file = fd < 0 ? nullptr : fdopen(fd, "r");
    if (!file && fd >= 0)
        close(fd);
    return file;
}

// One line without its end; false at the end of the file.
bool nextLine(FILE* file, std::string& line)
{
    line.clear();
    int c;
    bool any = false;
    while ((c = fgetc(file)) != EOF) {
        any = true;
        if (c == '\n')
            return true;
        line += static_cast<char>(c);
    }
    return any;
}

void reportRegistry(FILE* registry, const std::string& installDir, bool global)
{
    log_msg(MT_INFO, "-----------Starting Discovery-----------\n\n");
    if (global)
        log_msg(MT_INFO, "Found global installation of TARVO in %s.\n", installDir.c_str());
    else
        log_msg(MT_INFO, "Found non-global installation of TARVO in %s.\n", installDir.c_str());
    log_msg(MT_INFO, "Found & Opened .installdb\n");
    std::string line;
    for (int n = 0; nextLine(registry, line) && !line.empty(); ++n) {
        // The first line is the version; the header introduces the dependants after it.
        if (n == 1) {
            log_msg(MT_INFO, "Existing installations will be displayed as\n");
            log_msg(MT_INFO, "caller Installed Version\n");
        }
        log_msg(MT_INFO, "%s \n", line.c_str());
    }
    log_msg(MT_INFO, "-----------Discovery Complete-----------\n\n");
}

bool discoverFrom(const std::string* root, bool global)
{
    if (!root)
        return false;
    std::string installDir = *root + "/" + "TARVO";
    FILE* registry = openRegistry(installDbPath(installDir));
    if (!registry)
        return false;
    reportRegistry(registry, installDir, global);
    fclose(registry);
    return true;
}

}  // namespace

void runDiscovery()
{
    std::unique_ptr<std::string> global = get_env_var_from_temp_qzprofile("QZSHCOMP");
    if (discoverFrom(global.get(), true))
        return;
    const char* env = getenv("QZSHCOMP");
    std::string local = env ? env : "";
    if (discoverFrom(env ? &local : nullptr, false))
        return;
    log_msg(MT_INFO, "Unable to discover TARVO installation \n");
}

bool parseCommandLine(int argc, char* argv[])
{
    if (argc <= 1) {
        g_opts.verbose = true;
        log_msg(MT_INFO, " Number of arguments are not sufficient \n");
        g_opts.verbose = false;
        return false;
    }

    if (strcmp(argv[argc - 1], DISCOVER_STR) == 0) {
        g_opts.verbose = true;
        runDiscovery();
        g_opts.verbose = false;
        --argc;
        if (argc == 1)
            endDiscoverOnlyRun();
    }

    // Verbosity first, so that every message below reaches the console when asked for.
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], VERBOSE_STR) == 0) {
            g_opts.verbose = true;
        } else if (strcmp(argv[i], VERYVERBOSE_STR) == 0) {
            g_opts.verbose = true;
            g_opts.veryverbose = true;
        }
    }

    bool envSeen = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, DISCOVER_STR) == 0) {
            if (i != argc - 1)
                return fail("Discover must be the last option \n");
        } else if (strcmp(arg, INSTALL_STR) == 0 || strcmp(arg, REMOVE_STR) == 0 ||
                   strcmp(arg, FORCEREMOVE_STR) == 0) {
            if (g_opts.installMode != UNKNOWN)
                return fail("Installation mode may be specified only once\n");
            g_opts.installMode = strcmp(arg, INSTALL_STR) == 0  ? INSTALL
                                 : strcmp(arg, REMOVE_STR) == 0 ? REMOVE
                                                                : FORCEREMOVE;
        } else if (startsWith(arg, CALLER_STR)) {
            const char* rest = arg + strlen(CALLER_STR);
            if (*rest == '=')
                g_opts.caller = rest + 1;
            if (!validateCaller(g_opts.caller))
                return false;
        } else if (startsWith(arg, INSTALL_DIR_STR)) {
            const char* rest = arg + strlen(INSTALL_DIR_STR);
            if (*rest == '=')
                g_opts.installDir = rest + 1;
            if (g_opts.installDir.empty())
                return fail("Parameter expected for instdir\n");
        } else if (startsWith(arg, ENV_STR)) {
            if (envSeen)
                return fail("Environment variable setting mode may be specified only once\n");
            const char* rest = arg + strlen(ENV_STR);
            if (*rest != '=')
                return fail("Invalid parameter for env\n");
            const char* value = rest + 1;
            if (strcmp(value, ENV_NONE_STR) == 0)
                g_opts.setenv = NONE;
            else if (strcmp(value, ENV_USER_STR) == 0)
                g_opts.setenv = USER;
            else if (strcmp(value, ENV_ALL_STR) == 0)
                g_opts.setenv = ALL;
            else
                return fail("Invalid parameter for env\n");
            envSeen = true;
        } else if (strcmp(arg, VERBOSE_STR) != 0 && strcmp(arg, VERYVERBOSE_STR) != 0) {
            log_msg(MT_ERROR, "Unexpected command-line parameter: %s\n", arg);
            return false;
        }
    }

    if (g_opts.installMode == UNKNOWN)
        return fail("Installation mode not specified\n");
    if (g_opts.caller.empty())
        return fail("CallerID not specified\n");
    return true;
}

namespace {

std::string fileNameOf(const std::string& appName)
{
    size_t slash = appName.find_last_of("/\\");
    return slash == std::string::npos ? appName : appName.substr(slash + 1);
}

const char USAGE_FIRST[] = "Usage: %s <install|remove> caller=<CallerID> [options...]\n";
const char* const USAGE_REST[] = {
    ("where: CallerID is the parent application that is installing TARVO, CallerID only accepts "
     "alpha-numeric values\n"),
    "options:\n",
    "       instdir=path   to set installation directory path (absolute)\n",
    "       verbose        to enable output of diagnoses messages\n",
    "       env=<none|user|all>\n",
    "                      to enable setting environment variables for\n",
    "                      the specified user(s) from:\n",
    "                      none: do not set environment variables (default)\n",
    "                      user: current user only ($HOME/.profile)\n",
    "                      all:  all users (/etc/profile)\n",
    "       discover   \t discover existing installation.\n",
    "                      discover must be the last option if used.\n",
};
// Words that only standalone runs know; the logged usage text stays as callers have always seen it.
const char* const USAGE_EXTENSIONS[] = {
    "       discover=json  print the discovery as one JSON object and change nothing;\n",
    "                      only instdir= and env= may come before it.\n",
    "       --version      print the version of this program\n",
    "       --help, -h     print this text\n",
};

}  // namespace

void usage(const std::string& appName)
{
    log_msg(MT_ERROR, USAGE_FIRST, fileNameOf(appName).c_str());
    for (const char* line : USAGE_REST)
        log_msg(MT_ERROR, "%s", line);
}

void printUsage(FILE* out, const char* prefix, const std::string& appName, bool removeOnly)
{
    std::string name = fileNameOf(appName);
    if (removeOnly)
        fprintf(out, "%sUsage: %s <remove|forceremove> caller=<CallerID> [options...]\n", prefix, name.c_str());
    else
        fprintf(out, "%sUsage: %s <install|remove> caller=<CallerID> [options...]\n", prefix, name.c_str());
    for (const char* line : USAGE_REST)
        fprintf(out, "%s%s", prefix, line);
    for (const char* line : USAGE_EXTENSIONS)
        fprintf(out, "%s%s", prefix, line);
}

void logParametersLine()
{
    log_msg(MT_INFO, "Parameters: mode=%s, caller=%s, instdir=%s, env=%s, verbose=%s\n",
            installModeName(g_opts.installMode), g_opts.caller.c_str(), g_opts.installDir.c_str(),
            setEnvName(g_opts.setenv), "true");
}

const char* installModeName(InstallMode mode)
{
    switch (mode) {
    case INSTALL:
        return INSTALL_STR;
    case REMOVE:
        return REMOVE_STR;
    case FORCEREMOVE:
        return FORCEREMOVE_STR;
    default:
        return "unknown";
    }
}
