// The payload appended to the installer file: catalog and bzip2 streams.
#pragma once

#include <string>

#include "types.h"

// nullptr when path may name a payload file; otherwise a short English reason. Shared with the kit
// tool, so it never logs: a name that the installed-files log reader rejects, or that the start-of-run
// clean-up deletes, could never be updated or removed.
const char* payloadPathProblem(const std::string& path);

// 0 on success (also for a catalog without entries), 1 on any failure.
int processDataTable(const std::string& zipFilename, FileCollection& fcZipDataTable);
// Decompresses the stream of fileRes into fileRes.tempFilename.
bool decompressEmbeddedZipToFile(const FileCollection& fcZipDataTable, const FileResource& fileRes);
