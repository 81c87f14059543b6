// The kit tool's catalog reader on an arbitrary kit.
#include "catalog.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kit::Tail tail;
    if (kit::readTail(fuzz::file("kit", fuzz::text(data, size)), tail).empty())
        for (const kit::Entry& e : tail.entries)
            kit::checkCatalogPath(e.path);
    return 0;
}
