// Small helpers shared by the unit tests (they run inside tests/sandbox.sh).
#pragma once

#include <bzlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

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
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline bool exists(const std::string& path) { struct stat st; return lstat(path.c_str(), &st) == 0; }

inline mode_t modeOf(const std::string& path) { struct stat st; return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0; }

inline std::string freshDir(const std::string& name)
{
    std::string dir = "/tmp/t_" + name;
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    return dir;
}

inline void resetOptions() { g_opts = opts(); std::remove(LOG_FILE_PATH); }  // between tests

inline int exitCodeOf(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool logged(const std::string& text) { return readFile(LOG_FILE_PATH).find(text) != std::string::npos; }

inline std::string bzip2(const std::string& data)
{
    unsigned int size = unsigned(data.size() + data.size() / 100 + 600);
    std::string out(size, '\0');
    BZ2_bzBuffToBuffCompress(&out[0], &size, const_cast<char*>(data.data()), unsigned(data.size()), 9, 0, 0);
    out.resize(size);
    return out;
}

}  // namespace testutil
