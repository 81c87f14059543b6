#include "placement.h"
int createDirectoryPath(std::string) { return 1; }
bool installFiles(const std::string&, const FileCollection&, std::vector<FileResource>&) { return false; }
int CountFilesAndDirsIn(const std::string&) { return -1; }
