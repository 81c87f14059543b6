// Records, enumerations and path constants shared by every part of the installer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum InstallMode : int32_t { UNKNOWN = 0, INSTALL = 1, REMOVE = 2, FORCEREMOVE = 3 };
enum SetEnv : int32_t { NONE = 0, USER = 1, ALL = 2 };
enum MessageType : int32_t { MT_INFO = 0, MT_ERROR = 1, MT_VV = 2 };

// The parsed command line; one process-wide instance, g_opts (options.cpp).
struct opts {
    InstallMode installMode = UNKNOWN;
    std::string caller;
    std::string installDir;  // the raw instdir= value
    bool verbose = false;
    bool veryverbose = false;
    SetEnv setenv = NONE;
};
extern opts g_opts;

// One payload or installed file.
struct FileResource {
    std::string destFilename;  // relative to the install directory (or to a subdirectory while placing)
    std::string tempFilename;  // full path of its temporary file while it is placed
    int64_t lOffset = 0;       // offset of its bzip2 stream in the installer file
};

struct FileCollection {
    std::vector<FileResource> files;
    std::string strFilename;  // the installer file that holds the payload
    int64_t lCatalogStart = 0;  // where the catalog begins once its streams were checked; 0 when unknown
};

// Fixed paths of the installation and of the run.
inline constexpr const char* PLATFORM_PATH = "/TARVO5/Linux/ppc64/64";
inline constexpr const char* RECORD_SUBDIR = "TARVO5/Linux/ppc64/64";  // PLATFORM_PATH without its leading "/"
inline constexpr const char* FILES_DAT_NAME = "files.dat";
inline constexpr const char* INSTALLDB_NAME = ".installdb";
inline constexpr const char* SECTION_DELIMITER = "*#*#*#*#*#-";
inline constexpr const char* ENVIRONMENT_SECTION = "Environment";
inline constexpr const char* DEFAULT_INSTALL_DIR = "/opt/QZ/SharedComponents/TARVO";
inline constexpr const char* DEFAULT_LINK_DIR = "/opt/QZ/SharedComponents/lib";
inline constexpr const char* LOG_FILE_PATH = "/tmp/tarvo_install.log";
inline constexpr const char* LOCK_FILE_PATH = "/tmp/.QZ_TARVO_Installer.lock";
inline constexpr const char* RECORD_TEMP_PREFIX = ".tarvotmp.";  // + six mkstemp characters
inline constexpr const char* LEGACY_VERSION = "2.3.3";  // installations of it kept no files.dat

// install directory + "/TARVO5/Linux/ppc64/64": holds the records and every payload file.
inline std::string recordDir(const std::string& installDir) { return installDir + "/" + RECORD_SUBDIR; }
inline std::string filesDatPath(const std::string& installDir) { return recordDir(installDir) + "/" + FILES_DAT_NAME; }
inline std::string installDbPath(const std::string& installDir) { return recordDir(installDir) + "/" + INSTALLDB_NAME; }
