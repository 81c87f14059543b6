#include "homeowner.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "log.h"
#include "types.h"

namespace {

struct Identity {
    uid_t uid;
    gid_t gid;
};

// The uid that controls dir, with the group of the directory it owns; uid 0 when only root does.
Identity controllingUser(const std::string& dir)
{
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && st.st_uid != 0)
        return Identity{st.st_uid, st.st_gid};
    // lstat of every prefix: a link or directory of a user's on the way lets that user choose where
    // the rest of the path leads, a root-owned directory included. A relative path starts at ".".
    std::string prefix = dir.compare(0, 1, "/") == 0 ? "" : ".";
    if (prefix == "." && lstat(".", &st) == 0 && st.st_uid != 0)
        return Identity{st.st_uid, st.st_gid};
    size_t start = 0;
    while (start < dir.size()) {
        size_t slash = dir.find('/', start);
        size_t end = slash == std::string::npos ? dir.size() : slash;
        if (end > start) {
            prefix += "/" + dir.substr(start, end - start);
            if (lstat(prefix.c_str(), &st) == 0 && st.st_uid != 0)
                return Identity{st.st_uid, st.st_gid};
        }
        start = end + 1;
    }
    return Identity{0, 0};
}

// The current file-system ids: an invalid id changes nothing, and both calls return the current one.
bool fsIdentityIs(uid_t uid, gid_t gid)
{
    return uid_t(setfsuid(uid_t(-1))) == uid && gid_t(setfsgid(gid_t(-1))) == gid;
}

bool setGroups(const std::vector<gid_t>& groups)
{
    return setgroups(groups.size(), groups.empty() ? nullptr : groups.data()) == 0;
}

}  // namespace

bool asOwnerOf(const std::string& dir, const std::function<bool()>& action)
{
    if (geteuid() != 0)
        return action();
    Identity user = controllingUser(dir);
    if (user.uid == 0)
        return action();

    // The user's own groups, as a login gives them; the directory's group when the user is unknown.
    std::vector<gid_t> groups{user.gid};
    if (struct passwd* pw = getpwuid(user.uid)) {
        user.gid = pw->pw_gid;
        int count = 64;
        groups.assign(size_t(count), 0);
        if (getgrouplist(pw->pw_name, user.gid, groups.data(), &count) < 0) {
            groups.assign(size_t(count), 0);
            getgrouplist(pw->pw_name, user.gid, groups.data(), &count);
        }
        groups.resize(size_t(count));
    }
    std::vector<gid_t> saved(size_t(getgroups(0, nullptr)));
    saved.resize(size_t(getgroups(int(saved.size()), saved.data())));

    bool switched = setGroups(groups);
    if (switched) {
        setfsgid(user.gid);
        setfsuid(user.uid);
        switched = fsIdentityIs(user.uid, user.gid);
    }
    bool result = false;
    if (switched)
        result = action();
    else
        log_msg(MT_ERROR, "Unable to take the identity of uid %u, the owner of %s\n", unsigned(user.uid), dir.c_str());

    setfsuid(geteuid());
    setfsgid(getegid());
    if (!setGroups(saved) || !fsIdentityIs(geteuid(), getegid())) {
        // Going on with another identity would act with the wrong rights: end the run here.
        log_msg(MT_ERROR, "Unable to return to the identity of uid %u after acting on %s\n", unsigned(geteuid()),
                dir.c_str());
        exit(3);
    }
    return result;
}
