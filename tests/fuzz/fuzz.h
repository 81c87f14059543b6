// Shared by the fuzz targets. They run inside tests/sandbox.sh (tests/fuzz/run.sh sees to it),
// since the installer logs to, and these targets write below, the private /tmp.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log.h"
#include "types.h"

namespace fuzz {

// A private directory for the file-based functions, made once per process.
inline const std::string& dir()
{
    static const std::string path = [] {
        if (!getenv("TARVO_SANDBOX")) {
            fprintf(stderr, "run the fuzz targets inside tests/sandbox.sh\n");
            exit(2);
        }
        char name[] = "/tmp/fuzz.XXXXXX";
        if (!mkdtemp(name))
            abort();
        return std::string(name);
    }();
    return path;
}

// Starts an input afresh: default options and an empty log, so that the log never grows.
inline void reset()
{
    g_opts = opts();
    remove_temp_install_log_file();
}

// Writes text to a file of the private directory and returns its path.
inline std::string file(const std::string& name, const std::string& text)
{
    std::string path = dir() + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0)
        abort();
    return path;
}

inline std::string text(const uint8_t* data, size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzz
