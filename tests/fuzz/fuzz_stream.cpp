// One stream's decompression; the first byte of the input chooses the stream's offset in it.
#include <signal.h>
#include <sys/resource.h>

#include "fuzz.h"
#include "payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool limited = [] {
        // A small stream may expand a thousandfold: a write past the limit fails instead of filling /tmp.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 << 20, 64 << 20};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }();
    (void)limited;
    fuzz::reset();
    FileCollection fc;
    fc.strFilename = fuzz::file("kit", fuzz::text(data, size));
    FileResource res;
    res.destFilename = "TARVO5/Linux/ppc64/64/lib/libx.so";
    res.tempFilename = fuzz::dir() + "/out";
    res.lOffset = size > 0 ? data[0] % 8 : 0;
    decompressEmbeddedZipToFile(fc, res);
    return 0;
}
