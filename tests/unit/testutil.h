// Small helpers shared by the unit tests (they run inside tests/sandbox.sh).
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "types.h"

namespace testutil {

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline mode_t modeOf(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A fresh, empty directory below the sandbox's private /tmp.
inline std::string freshDir(const std::string& name)
{
    std::string dir = "/tmp/t_" + name;
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    return dir;
}

// Resets options and the log between tests.
inline void resetOptions()
{
    g_opts = opts();
    std::remove(LOG_FILE_PATH);
}

}  // namespace testutil
