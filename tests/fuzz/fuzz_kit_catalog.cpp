// The kit tool's reader of a kit's tail: any bytes give either a reason or a
// tail whose pieces fit the file.
#include <cstdint>
#include <cstdio>

#include "catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (f == nullptr) {
        return 0;
    }
    kit::Tail tail;
    std::string why = kit::readTail(f, tail);
    fclose(f);
    if (!why.empty()) {
        return 0;
    }
    std::string catalog = kit::formatCatalog(tail.entries);
    bool fits = tail.fileSize == static_cast<int64_t>(size) && tail.catalogStart >= 1 &&
                tail.catalogStart + tail.catalogBytes + static_cast<int64_t>(kit::formatTrailer(catalog).size()) <= tail.fileSize;
    for (const kit::Entry& e : tail.entries) {
        fits = fits && e.offset >= 1 && e.offset < tail.catalogStart;
        kit::checkCatalogPath(e.path);
    }
    if (!fits) {
        __builtin_trap();
    }
    return 0;
}
