#include "cd/media/cue.h"
#include "fuzz_disc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz::run<CCue>("cue", data, size);
}
