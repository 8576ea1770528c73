#include "cd/media/ccd.h"
#include "fuzz_disc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz::run<CCcd>("ccd", data, size);
}
