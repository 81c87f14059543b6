// Placing the payload tree as a whole, with backups and rollback; creating directories.
#pragma once

#include <string>
#include <vector>

#include "types.h"

// One file's move into place. Names are full paths for messages; the moves themselves are made
// relative to the directory's descriptor.
struct FilestoMove {
    std::string TmpName;   // the extracted file, "pk." and six characters
    std::string DestName;  // where it goes
    std::string OldName;   // a hard link that keeps the replaced file until the whole tree is committed
    // 0 collected; 1 new file in place; 2 its temporary file vanished, nothing placed; 3 that rename
    // failed; 4 backup linked, rename failed; 5 backup linked, temporary file vanished; 6 replaced, the
    // old file kept as backup; 7 and 8 the backup link failed, with and without the temporary file.
    int ret = 0;
    bool modeSet = false;  // the extracted file got mode 0755
};

// One directory of the tree to place: relDir below the install directory ("" for itself), and its
// files by bare name.
struct TreeLevel {
    std::string relDir;
    std::vector<FileResource> files;
};

// 0 exists or created, 1 empty path or creation failed, 2 not a directory, -1 cannot examine.
int createDirectoryPath(std::string path);
// Places the levels below installDir, in their order, as one whole: every stream is decoded to its
// temporary file first, then every file is moved in, keeping each replaced file until the last level
// is in; any failure puts every level back. No link below installDir is followed. Fills in tempFilename.
bool installTree(const std::string& installDir, const FileCollection& fcTop, std::vector<TreeLevel>& levels);
// installTree with installDir as the only level.
bool installFiles(const std::string& installDir, const FileCollection& fcTop, std::vector<FileResource>& files);
// Entries other than "." and "..", or -1 when the directory cannot be opened.
int CountFilesAndDirsIn(const std::string& directory);
