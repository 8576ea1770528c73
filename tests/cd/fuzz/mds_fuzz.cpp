#include "cd/media/mds.h"
#include "fuzz_disc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz::run<CMds>("mds", data, size);
}
