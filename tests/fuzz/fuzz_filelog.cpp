// The installed-files log reader on an arbitrary files.dat.
#include <sys/stat.h>

#include "filelog.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string installDir = [] {
        std::string path = fuzz::dir() + "/TARVO";
        for (const char* part : {"", "/TARVO5", "/Linux", "/ppc64", "/64"})
            mkdir((path += part).c_str(), 0755);
        return fuzz::dir() + "/TARVO";
    }();
    fuzz::reset();
    fuzz::file(std::string("TARVO/") + RECORD_SUBDIR + "/" + FILES_DAT_NAME, fuzz::text(data, size));
    FileCollection fc;
    bool illegal = false;
    readInstalledFilesLog(installDir, fc, &illegal);
    return 0;
}
