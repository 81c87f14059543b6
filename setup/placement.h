// Placing the files of one directory with backups and rollback; creating directories.
#pragma once

#include <string>
#include <vector>

#include "types.h"

struct FilestoMove {
    std::string TmpName;
    std::string DestName;
    std::string OldName;
    int ret = 0;  // state 0 to 8 of the move
};

// 0 exists or created, 1 empty path or creation failed, 2 not a directory, -1 cannot examine.
int createDirectoryPath(std::string path);
bool installFiles(const std::string& installDir, const FileCollection& fcTop, std::vector<FileResource>& files);
// Entries other than "." and "..", or -1 when the directory cannot be opened.
int CountFilesAndDirsIn(const std::string& directory);
