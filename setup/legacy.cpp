#include "legacy.h"

#include <sys/stat.h>
#include <unistd.h>

#include "log.h"
#include "types.h"

namespace {

const char LEGACY_LIB_NAME[] = "liborvan2.so";
const char LEGACY_LIB_STEM[] = "liborvan2";

const char* const LEGACY_FILES[] = {"liborvan2.so", "liborvan2.3.0.so", "liborvan2.3.1.so"};

const char* const OBSOLETE_SIGNATURES[] = {"libcryptocme2.sig", "libcryptocme.sig"};

// Base names of an outside vendor's crypto libraries that this release no longer ships.
const char* const files_to_be_remove[] = {"libcryptocme2",
                                          "libccme_eccaccel",
                                          "libccme_eccnistaccel",
                                          "libccme_ecdrbg",
                                          "libccme_asym",
                                          "libccme_base",
                                          "libccme_ecc_accel_fips",
                                          "libccme_ecc",
                                          "libccme_error_info",
                                          "libcryptocme",
                                          nullptr};

}  // namespace

bool isObsoleteLibraryFile(const std::string& name)
{
    for (const char* signature : OBSOLETE_SIGNATURES)
        if (name == signature)
            return true;
    for (const char* const* base = files_to_be_remove; *base; ++base)
        if (name == std::string(*base) + ".so")
            return true;
    return false;
}

bool getVersionedLibName(const std::string& szVerString, const std::string& szLibName, std::string& szVerLibName)
{
    if (szVerString.empty() || szLibName.empty())
        return false;
    if (szLibName != LEGACY_LIB_NAME) {
        szVerLibName = szLibName;
        return true;
    }
    // The major number is already part of the stem: 2.3.1 gives liborvan2.3.1.so.
    size_t dot = szVerString.find('.');
    if (dot == std::string::npos)
        return false;
    szVerLibName = std::string(LEGACY_LIB_STEM) + szVerString.substr(dot) + ".so";
    return true;
}

void removeFile(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return;
    if (unlink(path.c_str()) == 0)
        log_msg(MT_VV, "Removed obsolete file %s\n", path.c_str());
    else
        log_msg(MT_ERROR, "Failed to remove obsolete file %s, must be done manually.\n", path.c_str());
}

bool removeOldRSAFiles(const std::string& installDir)
{
    std::string libDir = installDir + "/" + RECORD_SUBDIR + "/lib/";
    for (const char* signature : OBSOLETE_SIGNATURES)
        removeFile(libDir + signature);
    for (const char* const* name = files_to_be_remove; *name; ++name)
        removeFile(libDir + *name + ".so");
    return true;
}

bool checkForExistingOldVersion(const std::string& szInstallDir)
{
    bool found = false;
    for (const char* name : LEGACY_FILES) {
        std::string path = szInstallDir + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) == 0) {
            log_msg(MT_ERROR,
                    "Found file %s, which indicates that a legacy version of ORVAN has been installed and may still be "
                    "in use. Removal will not continue.\n",
                    path.c_str());
            found = true;
        }
    }
    return found;
}
