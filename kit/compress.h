// Compressing the payload into the kit: one bzip2 stream (block size 9) per
// file, in catalog order, on several threads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "catalog.h"

namespace kit {

// Appends one stream per entry to out, starting at offset start (out's
// position), and sets each entry's offset. Up to jobs files are compressed at
// once; the bytes do not depend on jobs. With terminal set and a large
// payload, a line of files and bytes done is kept up to date on standard
// error. Empty on success, else why not.
std::string appendStreams(FILE* out, int64_t start, std::vector<Entry>& entries, unsigned jobs, bool terminal);

}  // namespace kit
