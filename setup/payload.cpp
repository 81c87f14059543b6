#include "payload.h"
int processDataTable(const std::string&, FileCollection&) { return 1; }
bool decompressEmbeddedZipToFile(const FileCollection&, const FileResource&) { return false; }
