#include "runrecord.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "jsondiscovery.h"
#include "types.h"
#include "versions.h"

namespace {

// The records go to the authorization facility: who changed a component that every product trusts
// is an audit fact, and that facility's files are kept from ordinary users.
const int FACILITY = LOG_AUTHPRIV;
const char IDENT[] = "tarvo_installer";

bool g_removeOnly = false;
bool g_dirKnown = false;
std::string g_installDir;
std::string g_versionBefore;

std::string recordedVersion(const std::string& installDir)
{
    std::string version;
    return readRecordedVersion(installDir, version) ? recordValue(version) : "none";
}

void sendRecord(const char* mode, int status)
{
    std::string text = std::string("mode=") + mode + " caller=" + recordValue(g_opts.caller);
    if (g_dirKnown)
        text += " instdir=" + recordValue(g_installDir) + " before=" + g_versionBefore +
                " after=" + recordedVersion(g_installDir);
    else
        text += " instdir=none before=unknown after=unknown";
    text += std::string(" kit=") + thisKitVersion() +
            " program=" + (g_removeOnly ? "uninstaller" : "installer") + " result=" +
            (status == 0 ? "success" : "failure") + " status=" + std::to_string(status) +
            " uid=" + std::to_string(getuid());
    if (const char* sudoUser = getenv("SUDO_USER"))
        text += " sudo_user=" + recordValue(sudoUser);
    openlog(IDENT, LOG_PID, FACILITY);
    syslog(FACILITY | (status == 0 ? LOG_NOTICE : LOG_ERR), "%s", text.c_str());
    closelog();
}

}  // namespace

std::string recordValue(const std::string& text)
{
    std::string out = "\"";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7f) {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(c));
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

void noteRunProgram(bool removeOnly)
{
    g_removeOnly = removeOnly;
}

void noteRunInstallDir(const std::string& installDir)
{
    // The trace must never change the outcome of the run, out of memory included.
    try {
        g_versionBefore = recordedVersion(installDir);
        g_installDir = installDir;
        g_dirKnown = true;
    } catch (...) {
        g_dirKnown = false;
    }
}

void recordRun(const char* mode, int status)
{
    try {
        sendRecord(mode, status);
    } catch (...) {
    }
}
