// The fuzz targets, one per FUZZ_<name> macro (CMakeLists.txt builds each). They run inside
// tests/sandbox.sh (run.sh sees to it): the installer logs to, and they write below, the private /tmp.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "filelog.h"
#include "log.h"
#include "options.h"
#include "payload.h"
#include "records.h"
#include "types.h"
#include "versions.h"
#ifdef FUZZ_kit_catalog
#include "catalog.h"
#endif

namespace {

// A private directory for the file-based functions, made once per process.
[[maybe_unused]] const std::string& dir()
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

// Writes text to a file of the private directory and returns its path.
[[maybe_unused]] std::string file(const std::string& name, const std::string& text)
{
    std::string path = dir() + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0)
        abort();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Default options and an empty log for every input, so that the log never grows.
    g_opts = opts();
    remove_temp_install_log_file();
    const std::string input(reinterpret_cast<const char*>(data), size);
#if defined(FUZZ_catalog)  // the installer's catalog reader on an arbitrary installer file
    FileCollection fc;
    if (processDataTable(file("kit", input), fc) == 0)
        for (const FileResource& f : fc.files)
            if (f.lOffset < 1)
                abort();
#elif defined(FUZZ_kit_catalog)  // the kit tool's catalog reader on an arbitrary kit
    kit::Tail tail;
    const std::string path = file("kit", input);
    if (kit::readTail(path, tail).empty()) {
        for (const kit::Entry& e : tail.entries)
            kit::checkCatalogPath(e.path);
        kit::checkEntrySet(tail.entries);
    }
    kit::readVersionMark(path, static_cast<int64_t>(input.size()));
#elif defined(FUZZ_stream)  // one stream's decompression; the first byte chooses its offset
    static bool limited = [] {
        // A small stream may expand a thousandfold: a write past the limit fails instead of filling /tmp.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 << 20, 64 << 20};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }();
    (void)limited;
    FileCollection fc;
    fc.strFilename = file("kit", input);
    FileResource res;
    res.destFilename = "TARVO5/Linux/ppc64/64/lib/libx.so";
    res.tempFilename = dir() + "/out";
    res.lOffset = size > 0 ? data[0] % 8 : 0;
    decompressEmbeddedZipToFile(fc, res);
#elif defined(FUZZ_records)  // key lines and sections: the first line is the key, the rest the file
    size_t newline = input.find('\n');
    std::string key = input.substr(0, newline);
    std::string path = file("records", newline == std::string::npos ? "" : input.substr(newline + 1));
    std::string value;
    readFileLine(path, key, value);
    updateFileLine(path, key, "5.2.4", size % 2 == 0);
    removeFileLine(path, key);
    std::unique_ptr<std::vector<std::string>> section = readSectionFromFilesDatAsVector(path, key.c_str());
    readSectionFromFilesDatAsString(path, key.c_str());
    updateSectionInFilesDat(path, key.c_str(), section.get());
#elif defined(FUZZ_filelog)  // the installed-files log reader on an arbitrary files.dat
    static const std::string installDir = [] {
        std::string path = dir() + "/TARVO";
        for (const char* part : {"", "/TARVO5", "/Linux", "/ppc64", "/64"})
            mkdir((path += part).c_str(), 0755);
        return dir() + "/TARVO";
    }();
    file(std::string("TARVO/") + RECORD_SUBDIR + "/" + FILES_DAT_NAME, input);
    FileCollection fc;
    bool illegal = false;
    readInstalledFilesLog(installDir, fc, &illegal);
#elif defined(FUZZ_version)  // any text gives no version or one no larger than 1000.1000.1000
    uint64_t value = getVersionValue(input);
    if (value != NO_VERSION && value > 1001001000u)
        abort();
#elif defined(FUZZ_cmdline)
    // NUL-separated words after the program name. A trailing "discover" is dropped: discovery
    // starts child processes and may end the process.
    std::vector<std::string> words{"tarvo_setup"};
    for (size_t start = 0; start <= input.size() && words.size() < 32;) {
        size_t end = input.find('\0', start);
        words.push_back(input.substr(start, end - start));
        start = end == std::string::npos ? input.size() + 1 : end + 1;
    }
    while (words.size() > 1 && words.back() == "discover")
        words.pop_back();
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    if (parseCommandLine(static_cast<int>(words.size()), argv.data()))
        logParametersLine();
    else
        usage(words[0]);
#endif
    return 0;
}
