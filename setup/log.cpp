#include "log.h"

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace {

const char CONSOLE_PREFIX[] = "[TARVO] ";

bool toConsole(MessageType type)
{
    return type == MT_VV ? g_opts.veryverbose : g_opts.verbose;
}

bool toLogFile(MessageType type)
{
    return type == MT_ERROR || toConsole(type);
}

}  // namespace

void log_msg(MessageType messageType, const char* message, ...)
{
    if (toConsole(messageType)) {
        FILE* stream = messageType == MT_ERROR ? stderr : stdout;
        fputs(CONSOLE_PREFIX, stream);
        va_list args;
        va_start(args, message);
        vfprintf(stream, message, args);
        va_end(args);
    }
    if (!toLogFile(messageType))
        return;
    // Anyone can plant something at the log's name in the shared /tmp: a symbolic link or a hard link
    // to a file of theirs or ours, or a FIFO that would block us. Write only to a plain file of one link.
    // A message logged while acting on a user's file with that user's rights still reaches our log.
    uid_t actingAs = uid_t(setfsuid(geteuid()));
    gid_t actingGroup = gid_t(setfsgid(getegid()));
    int fd = open(LOG_FILE_PATH, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    setfsgid(actingGroup);
    setfsuid(actingAs);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        close(fd);
        return;
    }
    FILE* file = fdopen(fd, "a");
    if (!file) {
        close(fd);
        return;
    }
    va_list args;
    va_start(args, message);
    vfprintf(file, message, args);
    va_end(args);
    fclose(file);
}

int remove_temp_install_log_file()
{
    return remove(LOG_FILE_PATH) == 0 ? 0 : -1;
}
