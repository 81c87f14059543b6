// The installer's catalog reader on an arbitrary installer file.
#include "fuzz.h"
#include "payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    FileCollection fc;
    if (processDataTable(fuzz::file("kit", fuzz::text(data, size)), fc) == 0)
        for (const FileResource& f : fc.files)
            if (f.lOffset < 1)
                abort();
    return 0;
}
