#include "removal.h"
bool removeFiles(const std::string&, const FileCollection&) { return false; }
