#pragma once

#include "core/base/types.h"

// Where the sound chip hands its mixed output, one stereo pair per output
// sample. The machine implements it, so the chip needs no more of it.
class SampleSink {
public:
    virtual void pushSample(const s16* pair) = 0;

protected:
    ~SampleSink() = default;
};
