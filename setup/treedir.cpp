#include "treedir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "log.h"

namespace {

const mode_t DIRECTORY_MODE = 0755;
const int DIR_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void closeKeepingErrno(int fd)
{
    int saved = errno;
    close(fd);
    errno = saved;
}

// The kernel reports a link refused by O_NOFOLLOW | O_DIRECTORY as ENOTDIR; callers want to say which.
int openNoFollow(int parent, const std::string& name)
{
    int fd = openat(parent, name.c_str(), DIR_FLAGS);
    struct stat st;
    if (fd < 0 && errno == ENOTDIR && fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
    return fd;
}

// Opens (and with create, makes) one component below parent; -1 with errno.
int openComponent(int parent, const std::string& name, bool create, const std::string& shownPath)
{
    int fd = openNoFollow(parent, name);
    if (fd >= 0 || errno != ENOENT || !create)
        return fd;
    if (mkdirat(parent, name.c_str(), DIRECTORY_MODE) != 0 && errno != EEXIST)
        return -1;
    // Whatever stands there now is opened without following it, so a link planted meanwhile is refused.
    fd = openNoFollow(parent, name);
    if (fd < 0)
        return -1;
    // The umask must not narrow the mode.
    if (fchmod(fd, DIRECTORY_MODE) != 0) {
        closeKeepingErrno(fd);
        return -1;
    }
    log_msg(MT_VV, "Created directory %s\n", shownPath.c_str());
    return fd;
}

}  // namespace

int openTreeDir(const std::string& baseDir, const std::string& relDir, bool create)
{
    int fd = open(baseDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t start = 0;
    while (start < relDir.size()) {
        size_t slash = relDir.find('/', start);
        size_t end = slash == std::string::npos ? relDir.size() : slash;
        std::string name = relDir.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        if (name == "." || name == "..") {
            close(fd);
            errno = EINVAL;
            return -1;
        }
        int next = openComponent(fd, name, create, baseDir + "/" + relDir.substr(0, end));
        closeKeepingErrno(fd);
        if (next < 0)
            return -1;
        fd = next;
    }
    return fd;
}
