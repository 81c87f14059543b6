#include "filelog.h"
bool readInstalledFilesLog(const std::string&, FileCollection&, bool*) { return false; }
void ComposeAllFileCollection(const FileCollection&, FileCollection&) {}
void RemoveTempFiles(const std::string&, const FileCollection&) {}
bool installStructure(std::string, const FileCollection&, const std::vector<FileResource>&) { return false; }
bool updateInstalledFilesLog(const std::string&, const FileCollection&, const std::string&) { return false; }
