#include "environment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "homeowner.h"
#include "log.h"
#include "qzprofile.h"
#include "records.h"
#include "types.h"

namespace {

const char* const VAR_NAMES[] = {"QZSHCOMP", "QZLIB", "QZBIN"};

std::string parentOf(const std::string& dir)
{
    size_t slash = dir.rfind('/');
    return slash == std::string::npos ? dir : dir.substr(0, slash);
}

// The line written into $HOME/.profile and looked for on removal: the value always quoted, with the
// characters that stay special inside double quotes escaped, so that a login shell reads the very
// directory and a crafted one cannot run code at every login.
std::string profileLine(const std::string& name, const std::string& value)
{
    std::string line = name + "=\"";
    for (char c : value) {
        if (c == '"' || c == '$' || c == '`' || c == '\\')
            line += '\\';
        line += c;
    }
    return line + "\"; export " + name;
}

// Only a present variable can switch updates off; a value without digits reads as 0, as with strtol.
bool userProfileUpdatesDisabled()
{
    const char* value = getenv("Update_User_Profile");
    return value && strtol(value, nullptr, 10) == 0;
}

bool beginsWithKey(const std::string& line, const std::string& name)
{
    return line.size() > name.size() && line.compare(0, name.size(), name) == 0 && line[name.size()] == '=';
}

std::unique_ptr<std::vector<std::string>> readEnvironmentSection(const std::string& installDir)
{
    return readSectionFromFilesDatAsVector(filesDatPath(installDir), ENVIRONMENT_SECTION);
}

std::string sectionHeader()
{
    return std::string(SECTION_DELIMITER) + ENVIRONMENT_SECTION + "\n";
}

void logNewSection(const std::string& text)
{
    log_msg(MT_VV, "Environment variable section is being set to %s \n", text.c_str());
}

int setForUser(const std::string& homeVal, const std::string& parent, const std::string& target, bool sectionExists,
               std::string& section)
{
    std::vector<std::string> lines = {profileLine("QZLIB", homeVal), profileLine("QZBIN", parent + "/bin"),
                                      profileLine("QZSHCOMP", parent)};
    const char* key = "1";
    if (userProfileUpdatesDisabled()) {
        log_msg(MT_VV, "Update_User_Profile variable set to 0 \n");
        key = "0";
    } else {
        log_msg(MT_VV, "Update_User_Profile variable  either not set or set to 1 \n");
        if (!insert_lines_in_file(target, lines))
            return 1;
    }
    if (sectionExists)
        return 0;
    section += sectionHeader();
    for (const char* name : VAR_NAMES)
        section += std::string("env.usr.") + name + ".set=" + key + "\n";
    logNewSection(section);
    return 0;
}

std::string setArgument(const std::string& name, const std::string& value)
{
    return name + " \"" + value + "\"";
}

// QZLIB and QZBIN are only claimed when this run set them; a value found elsewhere is left alone.
char setDependentVar(const char* name, const std::string& value, const char* elsewhereMessage)
{
    std::unique_ptr<std::string> current = get_env_var_from_temp_qzprofile(name);
    if (current) {
        if (*current != value)
            log_msg(MT_INFO, "%s", elsewhereMessage);
        return '0';
    }
    if (update_env_var_with_temp_qzprofile(setArgument(name, value).c_str()) == 0)
        return '1';
    log_msg(MT_INFO, "Enviornment variable %s has not updated properly in /etc/profile.QZ \n", name);
    return '0';
}

int setForAll(const std::string& homeVal, const std::string& parent, bool sectionExists, std::string& section)
{
    char keys[3] = {'0', '0', '0'};
    std::unique_ptr<std::string> current = get_env_var_from_temp_qzprofile("QZSHCOMP");
    if (!current || *current != parent) {
        if (update_env_var_with_temp_qzprofile(setArgument("QZSHCOMP", parent).c_str()) == -1) {
            log_msg(MT_INFO, "Enviornment variable QZSHCOMP has not updated properly in /etc/profile.QZ \n");
            log_msg(MT_INFO, "environment variable setting failed\n");
            return 1;
        }
        // Overwriting someone else's value does not make it ours to delete later.
        keys[0] = current ? '0' : '1';
    }
    keys[1] = setDependentVar("QZLIB", homeVal,
                              "Enviornment variable QZLIB is not refering to $(QZSHCOMP)/lib directory\n");
    keys[2] = setDependentVar("QZBIN", parent + "/bin",
                              "Enviornment variable QZBIN is not refering to $(QZSHCOMP)/bin directory\n");
    if (sectionExists)
        return 0;
    section += sectionHeader();
    for (int i = 0; i < 3; ++i)
        section += std::string("env.all.") + VAR_NAMES[i] + ".set=" + keys[i] + "\n";
    logNewSection(section);
    return 0;
}

// A link, a FIFO or another special file, or a file of several links, at the login file's name.
bool wasRefused(int error)
{
    return error == ELOOP || error == EINVAL;
}

bool insertLines(const std::string& szFilename, const std::vector<std::string>& newlines)
{
    std::vector<std::string> lines;
    if (!readLines(szFilename, lines)) {
        int error = errno;
        if (wasRefused(error)) {
            log_msg(MT_INFO, "Unable to open %s for writing, environment variable setting failed\n",
                    szFilename.c_str());
            return false;
        }
        // Only a missing file may be started afresh: rewriting one we could not read would empty it.
        if (error != ENOENT) {
            log_msg(MT_ERROR, "Unable to read %s, environment variable setting failed\n", szFilename.c_str());
            return false;
        }
        log_msg(MT_INFO, "Unable to open %s , will attempt to create file\n", szFilename.c_str());
        lines.clear();
    }
    // Older copies go, also with text around them, so each line stands once, at the end.
    for (const std::string& add : newlines) {
        std::vector<std::string> kept;
        for (std::string& line : lines)
            if (line.find(add) == std::string::npos)
                kept.push_back(std::move(line));
        kept.push_back(add);
        lines.swap(kept);
    }
    if (!rewriteInPlace(szFilename, lines)) {
        log_msg(MT_INFO, "Unable to open %s for writing, environment variable setting failed\n", szFilename.c_str());
        return false;
    }
    return true;
}

// refused: the file was a link or no plain file, so lines to remove may have stayed.
bool removeLines(const std::string& szFilename, const std::vector<std::string>& removelines, bool& refused)
{
    refused = false;
    // The file must already exist and be writable: removal never creates a profile.
    std::vector<std::string> lines;
    if (!readLines(szFilename, lines, O_RDWR)) {
        refused = wasRefused(errno);
        log_msg(MT_INFO, "Unable to open %s , environment variable removal failed\n", szFilename.c_str());
        return false;
    }
    bool changed = false;
    for (const std::string& remove : removelines) {
        bool found = false;
        for (auto it = lines.begin(); it != lines.end(); ++it) {
            if (*it == remove) {
                lines.erase(it);
                found = changed = true;
                break;
            }
        }
        if (!found)
            log_msg(MT_INFO,
                    "Unable to remove line \"%s\" from file %s this is done to ensure backward compatibility of the "
                    "installer\n",
                    remove.c_str(), szFilename.c_str());
    }
    // An unchanged file is left as it is, inode and all.
    if (changed && !rewriteInPlace(szFilename, lines)) {
        refused = wasRefused(errno);
        log_msg(MT_INFO, "Unable to open %s for writing, environment variable removal failed\n", szFilename.c_str());
        return false;
    }
    return true;
}

}  // namespace

int set_env_vars(const std::string& homeVal, const std::string& fileDir, std::string& environ_section_contents)
{
    std::string parent = parentOf(homeVal);
    std::string target;
    if (g_opts.setenv == USER) {
        const char* home = getenv("HOME");
        if (!home) {
            log_msg(MT_ERROR, "Unable to read $HOME, environment variable setting failed\n");
            return 1;
        }
        target = std::string(home) + "/.profile";
    }

    // The first install that published anything owns the section; later ones copy it unchanged.
    bool sectionExists = false;
    std::unique_ptr<std::vector<std::string>> stored = readEnvironmentSection(fileDir);
    if (stored && !stored->empty()) {
        log_msg(MT_VV, "Environment variable section is already present in the files.dat file \n");
        for (const std::string& line : *stored)
            environ_section_contents += line + "\n";
        sectionExists = true;
    }

    switch (g_opts.setenv) {
    case USER:
        return setForUser(homeVal, parent, target, sectionExists, environ_section_contents);
    case ALL:
        return setForAll(homeVal, parent, sectionExists, environ_section_contents);
    default:
        return 0;
    }
}

bool insert_lines_in_file(const std::string& szFilename, const std::vector<std::string>& newlines)
{
    log_msg(MT_VV, "Setting environment variable in %s file\n", szFilename.c_str());
    return asOwnerOf(directoryOf(szFilename), [&] { return insertLines(szFilename, newlines); });
}

std::string getParamValFromEnvironSectionVector(const std::vector<std::string>* lines, const std::string& param_name)
{
    if (!lines)
        return "";
    std::string prefix = param_name + "=";
    for (const std::string& line : *lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line.substr(prefix.size());
    return "";
}

int updateParamValInEnvironSectionVector(std::vector<std::string>* lines, const std::string& param_name,
                                         const std::string& new_param_value)
{
    if (!lines)
        return 1;
    std::string prefix = param_name + "=";
    std::string replacement = prefix + new_param_value;
    for (std::string& line : *lines) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            line = replacement;
            return 0;
        }
    }
    lines->push_back(replacement);
    return 0;
}

bool checkIfEnvVarIsPresentInProfile(const std::string& fileName, const std::string& env_var_name)
{
    std::vector<std::string> lines;
    if (!asOwnerOf(directoryOf(fileName), [&] { return readLines(fileName, lines); }))
        return false;
    std::string exportText = "export " + env_var_name;
    for (const std::string& line : lines)
        if (beginsWithKey(line, env_var_name) && line.find(exportText) != std::string::npos)
            return true;
    return false;
}

int del_env_vars(const std::string& homeVal)
{
    std::string parent = parentOf(homeVal);
    bool forced = g_opts.installMode == FORCEREMOVE;
    if (g_opts.setenv == USER) {
        const char* home = getenv("HOME");
        if (!home) {
            log_msg(MT_ERROR, "Unable to read $HOME, environment variable removal failed\n");
            return 0;
        }
        // Only a forced removal takes lines out, and only those the first install recorded as written.
        std::vector<std::string> remove;
        if (forced) {
            std::unique_ptr<std::vector<std::string>> stored = readEnvironmentSection(homeVal);
            if (stored && !stored->empty()) {
                const std::string values[] = {parent, parent + "/lib", parent + "/bin"};
                for (int i = 0; i < 3; ++i)
                    if (getParamValFromEnvironSectionVector(stored.get(),
                                                            std::string("env.usr.") + VAR_NAMES[i] + ".set") == "1")
                        remove.push_back(profileLine(VAR_NAMES[i], values[i]));
            }
        }
        // Lines that a refused file keeps must be taken out by hand; with none to take out there is no failure.
        std::string profile = std::string(home) + "/.profile";
        bool refused = true;  // also when the owner's identity could not be taken
        asOwnerOf(home, [&] { return removeLines(profile, remove, refused); });
        return refused && !remove.empty() ? 0 : 1;
    }
    if (g_opts.setenv != ALL || !forced)
        return 1;
    std::unique_ptr<std::vector<std::string>> stored = readEnvironmentSection(homeVal);
    if (!stored || stored->empty())
        return 1;
    for (const char* name : VAR_NAMES) {
        if (getParamValFromEnvironSectionVector(stored.get(), std::string("env.all.") + name + ".set") != "1")
            continue;
        if (delete_env_var_with_temp_qzprofile(name) != 0) {
            log_msg(MT_INFO, "Unable to remove %s environment variable using qzprofile\n", name);
            return 0;
        }
    }
    return 1;
}

bool remove_lines_from_file(const std::string& szFilename, const std::vector<std::string>& removelines)
{
    bool refused = false;
    return asOwnerOf(directoryOf(szFilename), [&] { return removeLines(szFilename, removelines, refused); });
}

std::string userProfileLine(const std::string& name, const std::string& value)
{
    return profileLine(name, value);
}
