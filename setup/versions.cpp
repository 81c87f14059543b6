#include "versions.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "log.h"
#include "records.h"

#define TARVO_TEXT_(x) #x
#define TARVO_TEXT(x) TARVO_TEXT_(x)
const char g_kitVersionMark[] = "TARVO_KIT_VERSION=" TARVO_TEXT(TARVO_VERSION_MAJOR) "." TARVO_TEXT(
    TARVO_VERSION_MINOR) "." TARVO_TEXT(TARVO_VERSION_BUILD);

const char* thisKitVersion() { return g_kitVersionMark + sizeof "TARVO_KIT_VERSION=" - 1; }

std::string g_thisKitVersionString;
uint64_t g_thisKitVersionValue = NO_VERSION;
std::string g_existingVersionString;
uint64_t g_existingVersionValue = NO_VERSION;

namespace {

const char CURRENT_VERSION_KEY[] = "CurrentVersion";
const int MAX_VERSION_PART = 1000;

bool isDecimal(const std::string& part)
{
    if (part.empty())
        return false;
    for (char c : part)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool isBlankOnly(const std::string& line)
{
    for (char c : line)
        if (c != ' ' && c != '\t')
            return false;
    return true;
}

}  // namespace

std::string getVersionString(uint16_t major, uint16_t minor, uint16_t build)
{
    char buffer[20];
    snprintf(buffer, sizeof buffer, "%d.%d.%d", int(major), int(minor), int(build));
    return buffer;
}

uint64_t getVersionValue(const std::string& version)
{
    size_t first = version.find('.');
    if (first == std::string::npos)
        return NO_VERSION;
    size_t second = version.find('.', first + 1);
    if (second == std::string::npos)
        return NO_VERSION;
    std::string parts[3] = {version.substr(0, first), version.substr(first + 1, second - first - 1),
                            version.substr(second + 1)};
    int values[3];
    for (int i = 0; i < 3; ++i) {
        if (!isDecimal(parts[i]))
            return NO_VERSION;
        // strtol saturates on overflow, which the range check then rejects.
        long value = strtol(parts[i].c_str(), nullptr, 10);
        if (value > MAX_VERSION_PART)
            return NO_VERSION;
        values[i] = int(value);
    }
    // At most 1001001000, which fits a signed 32-bit int.
    int32_t combined = (values[0] * 1000 + values[1]) * 1000 + values[2];
    return uint64_t(combined);
}

int getExistingVersion(std::string& szVersionString, uint64_t* plVersionValue, const std::string& szInstallDir)
{
    std::string value;
    int result;
    int rc = readFileLine(installDbPath(szInstallDir), CURRENT_VERSION_KEY, value);
    if (rc == -1 && errno != ENOENT) {
        // A registry that is there but cannot be read is no fresh start: an install would forget its version.
        log_msg(MT_ERROR, "Unable to read %s\n", installDbPath(szInstallDir).c_str());
        return -1;
    } else if (rc == -1) {
        result = 1;
    } else {
        // Without a version line there is no version, whatever the string held before.
        szVersionString = rc == 2 ? std::string() : value;
        uint64_t versionValue = getVersionValue(szVersionString);
        if (plVersionValue)
            *plVersionValue = versionValue;
        result = versionValue == NO_VERSION ? 0 : 2;
    }
    log_msg(MT_INFO, "Existing Version RV=%d\n", result);
    return result;
}

bool setExistingVersion(const std::string& szVersionString, const std::string& szInstallDir)
{
    return updateFileLine(installDbPath(szInstallDir), CURRENT_VERSION_KEY, szVersionString, false);
}

bool fileIntegrity(const std::string& InstallDir, const FileCollection& fcZipDataTable)
{
    for (const FileResource& file : fcZipDataTable.files) {
        // Composed at full length: a shortened path could name a different, existing file.
        std::string path = InstallDir + "/" + file.destFilename;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            log_msg(MT_INFO, "File %s is not present in existing installation.\n", path.c_str());
            return false;
        }
        log_msg(MT_VV, "File %s is present in existing installation.\n", path.c_str());
    }
    return true;
}

bool addDependency(const std::string& szInstallDir)
{
    std::string registry = installDbPath(szInstallDir);
    if (!updateFileLine(registry, g_opts.caller, g_thisKitVersionString, true)) {
        log_msg(MT_ERROR, "Failed to add dependency to %s.\n", registry.c_str());
        return false;
    }
    return true;
}

bool checkDependency(const std::string& szInstallDir, std::string& szVersion)
{
    std::string value;
    int rc = readFileLine(installDbPath(szInstallDir), g_opts.caller, value);
    if (rc == 0 || rc == 1)
        szVersion = value;
    // A caller counts as registered only with a non-empty version.
    return rc == 0;
}

bool removeDependency(const std::string& szInstallDir)
{
    return removeFileLine(installDbPath(szInstallDir), g_opts.caller);
}

int getNumExistingDependencies(const std::string& szInstallDir)
{
    std::vector<std::string> lines;
    if (!readLines(installDbPath(szInstallDir), lines))
        return -1;
    int count = 0;
    for (const std::string& line : lines)
        if (!isBlankOnly(line))
            ++count;
    // One line is the version itself.
    return count - 1;
}

bool decideUpgrade(const std::string& installDir, const FileCollection& fcZipData)
{
    uint64_t existing = g_existingVersionValue;
    uint64_t kit = g_thisKitVersionValue;
    if (existing == NO_VERSION || existing < kit)
        return true;
    if (existing == kit)
        return !fileIntegrity(installDir, fcZipData);
    log_msg(MT_ERROR, "Existing Version is higher than installing Version\n");
    return false;
}
