// The payload appended to the installer file: catalog and bzip2 streams.
#pragma once

#include <string>

#include "types.h"

// nullptr when path may name a payload file; otherwise a short English reason. Shared with the kit
// tool, so it never logs: a name that the installed-files log reader rejects, or that the start-of-run
// clean-up deletes, could never be updated or removed.
const char* payloadPathProblem(const std::string& path);

// 0 on success (also for a catalog without entries), 1 on any failure, each logged: a catalog that is
// not exactly "path=offset;" entries with acceptable paths is damaged. withStreams also requires each
// offset to point, in increasing order, at a bzip2 stream header before the catalog; the uninstaller's
// catalog carries no streams and is read only for its paths.
int processDataTable(const std::string& zipFilename, FileCollection& fcZipDataTable, bool withStreams = true);
// True when the catalog read into fc names the same paths, in the same order, as the copy at the end of
// the payload's uninstaller, whose stream carries a CRC: a byte changed in a path shows. (An offset needs
// no copy: each must begin a stream that ends where the next one begins.) False after logging.
bool checkCatalogCopy(const FileCollection& fc);
// Decompresses the stream of fileRes into fileRes.tempFilename.
bool decompressEmbeddedZipToFile(const FileCollection& fcZipDataTable, const FileResource& fileRes);
// The same into the open, empty file fd, which stays open; messages still name fileRes.tempFilename.
bool decompressEmbeddedZipToFd(const FileCollection& fcZipDataTable, const FileResource& fileRes, int fd);
