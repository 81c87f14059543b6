// The version parser: any text gives the no-version value or a version no larger than 1000.1000.1000.
#include "fuzz.h"
#include "versions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint64_t value = getVersionValue(fuzz::text(data, size));
    if (value != NO_VERSION && value > 1001001000u)
        abort();
    return 0;
}
