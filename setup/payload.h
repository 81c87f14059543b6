// The payload appended to the installer file: catalog and bzip2 streams.
#pragma once

#include <string>

#include "types.h"

// 0 on success (also for a catalog without entries), 1 on any failure.
int processDataTable(const std::string& zipFilename, FileCollection& fcZipDataTable);
// Decompresses the stream of fileRes into fileRes.tempFilename.
bool decompressEmbeddedZipToFile(const FileCollection& fcZipDataTable, const FileResource& fileRes);
