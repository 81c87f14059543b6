#include "legacy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <set>

#include "log.h"
#include "treedir.h"
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

bool removeFile(int dirFd, const std::string& dirPath, const std::string& name, bool linksToo)
{
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    const std::string path = dirPath + "/" + name;
    // unlinkat never follows a link, so deleting one only removes its name from the tree.
    bool removable = S_ISREG(st.st_mode) || (linksToo && S_ISLNK(st.st_mode));
    if (removable && unlinkat(dirFd, name.c_str(), 0) == 0) {
        log_msg(MT_VV, "Removed obsolete file %s\n", path.c_str());
        return true;
    }
    log_msg(MT_ERROR, "Failed to remove obsolete file %s, must be done manually.\n", path.c_str());
    return false;
}

bool removeOldRSAFiles(const std::string& installDir)
{
    // The vendor's libraries were often links to versioned names; those links go too.
    const std::string libRel = std::string(RECORD_SUBDIR) + "/lib", libDir = installDir + "/" + libRel;
    int fd = openTreeDir(installDir, libRel, false);
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT)
            return true;  // nothing obsolete can lie in a lib directory that is not there
        if (error == ELOOP) {
            log_msg(MT_ERROR, "A component of %s is a symbolic link, which is never followed\n", libDir.c_str());
            return true;
        }
        // The version is recorded only after this step, so a rerun tries again.
        log_msg(MT_ERROR, "Failed to open the directory %s: %s\n", libDir.c_str(), strerror(error));
        return false;
    }
    for (const char* signature : OBSOLETE_SIGNATURES)
        removeFile(fd, libDir, signature, true);
    for (const char* const* name = files_to_be_remove; *name; ++name)
        removeFile(fd, libDir, std::string(*name) + ".so", true);
    close(fd);
    return true;
}

bool checkForExistingOldVersion(const std::string& szInstallDir)
{
    int fd = openTreeDir(szInstallDir, "", false);
    if (fd < 0)
        return false;
    bool found = false;
    for (const char* name : LEGACY_FILES) {
        std::string path = szInstallDir + "/" + name;
        struct stat st;
        if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            log_msg(MT_ERROR,
                    "Found file %s, which indicates that a legacy version of ORVAN has been installed and may still be "
                    "in use. Removal will not continue.\n",
                    path.c_str());
            found = true;
        }
    }
    close(fd);
    return found;
}

namespace {

// "a//b/" -> "a/b": one file, however a log spells its name.
std::string normalised(const std::string& rel)
{
    std::string out;
    for (size_t start = 0; start < rel.size();) {
        size_t slash = rel.find('/', start);
        size_t end = slash == std::string::npos ? rel.size() : slash;
        if (end > start)
            out += (out.empty() ? "" : "/") + rel.substr(start, end - start);
        start = end + 1;
    }
    return out;
}

std::string parentOf(const std::string& rel)
{
    size_t slash = rel.rfind('/');
    return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

std::string baseOf(const std::string& rel)
{
    size_t slash = rel.rfind('/');
    return slash == std::string::npos ? rel : rel.substr(slash + 1);
}

// True when the file is gone from below the install directory, which is reached through no link.
bool removeDroppedFile(const std::string& installDir, const std::string& rel)
{
    const std::string dirPath = installDir + "/" + parentOf(rel), path = installDir + "/" + rel;
    int fd = openTreeDir(installDir, parentOf(rel), false);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        if (errno == ELOOP)
            log_msg(MT_ERROR, "A component of %s is a symbolic link, which is never followed\n", dirPath.c_str());
        log_msg(MT_ERROR, "Failed to remove obsolete file %s, must be done manually.\n", path.c_str());
        return false;
    }
    // Only a regular file is what an earlier release placed there.
    bool gone = removeFile(fd, dirPath, baseOf(rel), false);
    close(fd);
    return gone;
}

// rmdir through no link; true when the directory is gone.
bool removeEmptiedDirectory(const std::string& installDir, const std::string& rel)
{
    int fd = openTreeDir(installDir, parentOf(rel), false);
    if (fd < 0)
        return errno == ENOENT;
    int rc = unlinkat(fd, baseOf(rel).c_str(), AT_REMOVEDIR);
    int error = errno;
    close(fd);
    if (rc == 0)
        log_msg(MT_VV, "Removed directory %s\n", (installDir + "/" + rel).c_str());
    return rc == 0 || error == ENOENT;
}

}  // namespace

std::vector<FileResource> droppedFiles(const FileCollection& fcInstallLog, const FileCollection& fcZipData)
{
    // Neither the records nor the legacy product's libraries are taken for a dropped file, whatever the log says.
    std::set<std::string> known = {"", std::string(RECORD_SUBDIR) + "/" + FILES_DAT_NAME,
                                   std::string(RECORD_SUBDIR) + "/" + INSTALLDB_NAME};
    known.insert(std::begin(LEGACY_FILES), std::end(LEGACY_FILES));
    for (const FileResource& f : fcZipData.files)
        known.insert(normalised(f.destFilename));
    std::vector<FileResource> dropped;
    for (const FileResource& f : fcInstallLog.files)
        if (known.insert(normalised(f.destFilename)).second)
            dropped.push_back(f);
    return dropped;
}

std::vector<FileResource> removeDroppedFiles(const std::string& installDir, const std::vector<FileResource>& dropped,
                                             const FileCollection& fcZipData)
{
    // Directories that hold this kit's files or the records stay.
    std::set<std::string> kept, emptied, remainingDirs;
    for (std::string d = RECORD_SUBDIR; !d.empty(); d = parentOf(d))
        kept.insert(d);
    for (const FileResource& f : fcZipData.files)
        for (std::string d = parentOf(normalised(f.destFilename)); !d.empty(); d = parentOf(d))
            kept.insert(d);
    std::vector<bool> gone;
    for (const FileResource& f : dropped) {
        const std::string rel = normalised(f.destFilename);
        gone.push_back(removeDroppedFile(installDir, rel));
        for (std::string d = parentOf(rel); gone.back() && !d.empty(); d = parentOf(d))
            if (!kept.count(d))
                emptied.insert(d);
    }
    // A set sorts each directory before those below it: backwards, every one comes before its parent.
    for (auto it = emptied.rbegin(); it != emptied.rend(); ++it)
        if (!removeEmptiedDirectory(installDir, *it))
            remainingDirs.insert(*it);
    // An entry stays while its file, or a directory it emptied, is still there: a removal finds them through it.
    std::vector<FileResource> remaining;
    for (size_t i = 0; i < dropped.size(); ++i) {
        bool stays = !gone[i];
        for (std::string d = parentOf(normalised(dropped[i].destFilename)); !stays && !d.empty(); d = parentOf(d))
            stays = remainingDirs.count(d) != 0;
        if (stays)
            remaining.push_back(dropped[i]);
    }
    return remaining;
}
