#include "jsondiscovery.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "environment.h"
#include "homeowner.h"
#include "installdir.h"
#include "options.h"
#include "qzprofile.h"
#include "records.h"
#include "treedir.h"
#include "types.h"
#include "versions.h"

namespace {

const int STATUS_FAILURE = 3;
const char CURRENT_VERSION_KEY[] = "CurrentVersion";

// A record file, reached through no link below the install directory; a FIFO never blocks.
bool readRecord(const std::string& installDir, const char* name, std::vector<std::string>& lines)
{
    return readLinesSilently(recordDir(installDir) + "/" + name, lines);
}

std::string trimmed(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isVersionLine(const std::string& line)
{
    std::string word = line.substr(0, line.find_first_of(" \t"));
    return strcasecmp(word.c_str(), CURRENT_VERSION_KEY) == 0;
}

// A file of the tree is present when it is a regular file reached through no link below installDir.
bool presentBelow(const std::string& installDir, const std::string& relPath)
{
    if (relPath.find("..") != std::string::npos)
        return false;
    size_t slash = relPath.rfind('/');
    std::string dir = slash == std::string::npos ? "" : relPath.substr(0, slash);
    std::string base = slash == std::string::npos ? relPath : relPath.substr(slash + 1);
    int fd = base.empty() ? -1 : openTreeDir(installDir, dir, false);
    if (fd < 0)
        return false;
    struct stat st;
    bool present = fstatat(fd, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return present;
}

// Whether $HOME/.profile holds line, read with the rights of whoever controls $HOME, as the installer
// edits it, and only when it is a regular file of one link.
bool homeProfileHolds(const std::string& line)
{
    const char* home = getenv("HOME");
    if (!home || !*home)
        return false;
    std::vector<std::string> lines;
    return asOwnerOf(home, [&] { return readLinesSilently(std::string(home) + "/.profile", lines); }) &&
           std::find(lines.begin(), lines.end(), line) != lines.end();
}

const char* ruleName(InstallDirRule rule)
{
    switch (rule) {
    case RULE_QZSHCOMP:
        return "QZSHCOMP";
    case RULE_QZLIB:
        return "QZLIB";
    case RULE_INSTDIR:
        return "instdir";
    default:
        return "default";
    }
}

// Length of the valid UTF-8 sequence at text[i] that starts with a byte above 127; 0 when invalid.
size_t utf8Length(const std::string& text, size_t i)
{
    unsigned char c = static_cast<unsigned char>(text[i]);
    // The lead byte gives the length and the first bits of the code point.
    size_t length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : 2;
    if (c < 0xc2 || c > 0xf4)
        return 0;
    uint32_t code = c & (0x7f >> length);
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        unsigned char d = static_cast<unsigned char>(text[i + k]);
        if ((d & 0xc0) != 0x80)
            return 0;
        code = code << 6 | (d & 0x3f);
    }
    // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
    if (length == 3 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff)))
        return 0;
    if (length == 4 && (code < 0x10000 || code > 0x10ffff))
        return 0;
    return length;
}

std::string jsonBool(bool value)
{
    return value ? "true" : "false";
}

int refuse(const char* argv0, bool removeOnly, const std::string& message)
{
    fprintf(stderr, "[TARVO] %s", message.c_str());
    printUsage(stderr, "[TARVO] ", argv0, removeOnly);
    return STATUS_FAILURE;
}

}  // namespace

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c >= 0x80 ? utf8Length(text, i) : 1;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7f || length == 0) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u00%02X", unsigned(c));
            out += escaped;
        } else {
            out.append(text, i, length);
        }
        i += length == 0 ? 1 : length;
    }
    return out + "\"";
}

bool readRecordedVersion(const std::string& installDir, std::string& version)
{
    std::vector<std::string> registry;
    return readRecord(installDir, INSTALLDB_NAME, registry) &&
           findFileLine(registry, CURRENT_VERSION_KEY, version) == 0;
}

int runJsonDiscovery(int argc, char* argv[], bool removeOnly)
{
    bool instdirSeen = false, envSeen = false;
    for (int i = 1; i < argc - 1; ++i) {
        const char* arg = argv[i];
        if (strncmp(arg, "instdir=", 8) == 0) {
            if (instdirSeen)
                return refuse(argv[0], removeOnly, "Installation directory may be specified only once\n");
            if (arg[8] == '\0')
                return refuse(argv[0], removeOnly, "Parameter expected for instdir\n");
            g_opts.installDir = arg + 8;
            instdirSeen = true;
        } else if (strncmp(arg, "env=", 4) == 0) {
            if (envSeen)
                return refuse(argv[0], removeOnly, "Environment variable setting mode may be specified only once\n");
            const std::string value = arg + 4;
            if (value != "none" && value != "user" && value != "all")
                return refuse(argv[0], removeOnly, "Invalid parameter for env\n");
            g_opts.setenv = value == "user" ? USER : value == "all" ? ALL : NONE;
            envSeen = true;
        } else {
            return refuse(argv[0], removeOnly, std::string("Unexpected command-line parameter: ") + arg + "\n");
        }
    }

    InstallDirChoice choice = chooseInstallDir(g_opts.installDir, query_shared_profile_from_memory);
    std::vector<std::string> registry, filesDat;
    bool installed = choice.usable && readRecord(choice.installDir, INSTALLDB_NAME, registry);
    if (choice.usable)
        readRecord(choice.installDir, FILES_DAT_NAME, filesDat);

    std::string json = "{\"kit_version\":" +
                       jsonString(thisKitVersion());
    json += ",\"install_dir\":" + (choice.usable ? jsonString(choice.installDir) : std::string("null"));
    json += ",\"rule\":" + jsonString(ruleName(choice.rule));
    json += ",\"installed\":" + jsonBool(installed);
    std::string version;
    bool hasVersion = installed && findFileLine(registry, CURRENT_VERSION_KEY, version) == 0;
    json += ",\"version\":" + (hasVersion ? jsonString(version) : std::string("null"));

    // Every other non-blank line is a dependant: the caller (which may hold blanks), a blank, its version.
    json += ",\"dependants\":[";
    const char* separator = "";
    for (const std::string& raw : registry) {
        std::string line = trimmed(raw);
        if (line.empty() || isVersionLine(line))
            continue;
        size_t blank = line.find_last_of(" \t");
        std::string caller = blank == std::string::npos ? line : trimmed(line.substr(0, blank));
        std::string callerVersion = blank == std::string::npos ? "" : line.substr(blank + 1);
        json += separator + std::string("{\"caller\":") + jsonString(caller) +
                ",\"version\":" + jsonString(callerVersion) + "}";
        separator = ",";
    }

    // The file list is the part of files.dat before its first section, one path (first word) a line.
    int files = 0, missing = 0;
    for (const std::string& line : filesDat) {
        if (line.compare(0, strlen(SECTION_DELIMITER), SECTION_DELIMITER) == 0)
            break;
        std::string entry = trimmed(line);
        if (entry.empty())
            continue;
        ++files;
        if (!presentBelow(choice.installDir, entry.substr(0, entry.find_first_of(" \t"))))
            ++missing;
    }
    json += "],\"files\":" + std::to_string(files) + ",\"missing_files\":" + std::to_string(missing);

    // The first line of the section is its header; a key given twice counts once, as its first line.
    json += ",\"environment\":{";
    std::vector<std::string> section = sectionOfLines(filesDat, ENVIRONMENT_SECTION);
    std::vector<std::string> keys;
    separator = "";
    for (size_t i = 1; i < section.size(); ++i) {
        size_t equals = section[i].find('=');
        std::string key = section[i].substr(0, equals);
        if (equals == std::string::npos || key.empty() || std::find(keys.begin(), keys.end(), key) != keys.end())
            continue;
        keys.push_back(key);
        json += separator + jsonString(key) + ":" + jsonString(section[i].substr(equals + 1));
        separator = ",";
    }

    bool published = g_opts.setenv == NONE;
    if (choice.usable && g_opts.setenv != NONE) {
        std::string root = choice.linkDir.substr(0, choice.linkDir.rfind('/'));
        if (g_opts.setenv == ALL) {
            std::unique_ptr<std::string> shared = query_shared_profile_from_memory("QZSHCOMP");
            published = shared && *shared == root;
        } else {
            published = homeProfileHolds(userProfileLine("QZSHCOMP", root));
        }
    }
    json += "},\"env_published\":" + jsonBool(published) + "}\n";

    fputs(json.c_str(), stdout);
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : STATUS_FAILURE;
}
