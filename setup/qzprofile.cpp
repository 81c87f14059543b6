// The profile utility's text and the temporary copy through which the
// installer runs it.
#include "qzprofile.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log.h"

extern char** environ;

char tmpfile_name[20];
int tmpfile_created = 0;

namespace {

// mkstemp picks a fresh name and creates the file in one step, so no other
// process can slip a file or link in between; the name fits tmpfile_name.
const char TEMP_TEMPLATE[] = "/tmp/qzprofXXXXXX";
static_assert(sizeof(TEMP_TEMPLATE) <= sizeof(tmpfile_name), "name must fit the field");

const size_t MAX_ANSWER = 4095;

// The utility's lookup finds a variable only on a line of these files that holds "NAME=". When
// neither holds that text, its answer is "not set" without starting a shell twice per query.
bool profileFilesMayHold(const char* name)
{
    const std::string needle = std::string(name) + "=";
    for (const char* path : {"/etc/profile", "/etc/profile.QZ"}) {
        int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT)
                continue;
            return true;  // unreadable here: let the utility decide
        }
        std::string text;
        char buffer[8192];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        close(fd);
        if (n < 0 || text.find(needle) != std::string::npos)
            return true;
    }
    return false;
}

// "0" only when Update_Profile is set and its leading number is 0.
const char* updateProfileDigit()
{
    const char* value = getenv("Update_Profile");
    if (value == nullptr)
        return "1";
    return strtol(value, nullptr, 10) == 0 ? "0" : "1";
}

// The value sits between the first and the last double quote; the utility
// reads it through sh, which would otherwise expand it.
std::string escapeQuotedValue(const std::string& argument)
{
    size_t first = argument.find('"');
    size_t last = argument.rfind('"');
    if (first == std::string::npos || last == first)
        return argument;
    std::string out = argument.substr(0, first + 1);
    for (size_t i = first + 1; i < last; ++i) {
        char c = argument[i];
        if (c == '"' || c == '$' || c == '`' || c == '\\')
            out += '\\';
        out += c;
    }
    out += argument.substr(last);
    return out;
}

int runCommand(const std::string& command)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    return pclose(pipe);
}

}  // namespace

void create_qzprofile(FILE* out)
{
    const char* line = QZPROFILE_TEXT;
    while (*line != '\0') {
        const char* end = strchr(line, '\n');
        size_t length = end != nullptr ? static_cast<size_t>(end - line) + 1 : strlen(line);
        fwrite(line, 1, length, out);
        line += length;
    }
}

std::string qzprofile_query_command(const char* utility, const char* name)
{
    return std::string("QZPROFILE_OVERRIDE=1 sh ") + utility + " -q " + name;
}

std::string qzprofile_set_command(const char* utility, const char* argument)
{
    return std::string("QZPROFILE_OVERRIDE=1 Update_Profile=") + updateProfileDigit() + " sh " + utility +
           " -s " + escapeQuotedValue(argument);
}

std::string qzprofile_delete_command(const char* utility, const char* name)
{
    return std::string("QZPROFILE_OVERRIDE=1 sh ") + utility + " -d " + name;
}

int create_temp_qzprofile()
{
    if (tmpfile_created == 1)
        return 0;
    char name[sizeof(TEMP_TEMPLATE)];
    memcpy(name, TEMP_TEMPLATE, sizeof(TEMP_TEMPLATE));
    int fd = mkstemp(name);
    if (fd < 0) {
        log_msg(MT_ERROR, "Failed to create temporary file for storing qzprofile\n");
        return 1;
    }
    close(fd);
    memcpy(tmpfile_name, name, sizeof(name));
    tmpfile_created = 1;
    return 0;
}

const char* give_temp_qzprofile_name()
{
    if (tmpfile_created == 1)
        return tmpfile_name;
    return create_temp_qzprofile() == 0 ? tmpfile_name : nullptr;
}

int write_temp_qzprofile()
{
    if (tmpfile_created == 1)
        return 1;
    if (create_temp_qzprofile() != 0)
        return 0;
    FILE* out = fopen(tmpfile_name, "w");
    if (out == nullptr)
        return 0;
    create_qzprofile(out);
    bool written = !ferror(out);
    if (fclose(out) != 0)
        written = false;
    return written ? 1 : 0;
}

std::unique_ptr<std::string> get_env_var_from_temp_qzprofile(const char* name)
{
    const char* utility = give_temp_qzprofile_name();
    if (utility == nullptr || !profileFilesMayHold(name))
        return nullptr;
    FILE* pipe = popen(qzprofile_query_command(utility, name).c_str(), "r");
    if (pipe == nullptr)
        return nullptr;
    std::unique_ptr<std::string> value(new std::string);
    int c;
    while ((c = fgetc(pipe)) != EOF && c != '\n' && value->size() < MAX_ANSWER)
        *value += static_cast<char>(c);
    // Drain the rest so the utility never dies of a closed pipe.
    while (c != EOF)
        c = fgetc(pipe);
    if (pclose(pipe) != 0)
        return nullptr;
    return value;
}

int update_env_var_with_temp_qzprofile(const char* argument)
{
    const char* utility = give_temp_qzprofile_name();
    if (utility == nullptr)
        return -1;
    return runCommand(qzprofile_set_command(utility, argument));
}

int delete_env_var_with_temp_qzprofile(const char* name)
{
    const char* utility = give_temp_qzprofile_name();
    if (utility == nullptr)
        return -1;
    return runCommand(qzprofile_delete_command(utility, name));
}

int delete_temp_qzprofile()
{
    if (tmpfile_created != 1)
        return 1;
    if (remove(tmpfile_name) != 0) {
        log_msg(MT_ERROR, "Failed to remove temporary qzprofile %s\n", tmpfile_name);
        return 0;
    }
    tmpfile_created = 0;
    return 1;
}

std::unique_ptr<std::string> query_shared_profile_from_memory(const char* name)
{
    if (!profileFilesMayHold(name))
        return nullptr;
    // As the query through the temporary copy: the override keeps the utility from handing the request
    // to another product's installed copy. $0 is an absolute name that can never exist.
    const std::string override = "QZPROFILE_OVERRIDE=1";
    std::vector<char*> env;
    for (char** e = environ; e && *e; ++e)
        if (strncmp(*e, "QZPROFILE_OVERRIDE=", 19) != 0)
            env.push_back(*e);
    env.push_back(const_cast<char*>(override.c_str()));
    env.push_back(nullptr);
    const char* args[] = {"sh", "-c", QZPROFILE_TEXT, "/dev/null/qzprofile", "-q", name, nullptr};

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid;
    int spawned = posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char* const*>(args), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string line;
    FILE* pipe = fdopen(fds[0], "r");
    const bool answered = pipe != nullptr;
    if (answered) {
        int c;
        while ((c = fgetc(pipe)) != EOF && c != '\n' && line.size() < MAX_ANSWER)
            line += static_cast<char>(c);
        while (c != EOF)  // drain, so the utility never dies of a closed pipe
            c = fgetc(pipe);
        fclose(pipe);
    } else {
        close(fds[0]);
    }
    if (spawned != 0)
        return nullptr;
    int status = -1;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!answered || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return nullptr;
    return std::make_unique<std::string>(line);
}
