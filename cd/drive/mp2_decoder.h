#pragma once

#include <cstddef>

#include "core/base/types.h"

// MPEG-1 and MPEG-2 low-sampling-rate audio layer II, fixed point. The MPEG
// card decodes the audio packets of a Video CD with it, one frame per call.
struct Mp2Decoder {
    static constexpr u32 kMagic = 0x32706D;
    static constexpr u32 kSynthesisSize = 1024;

    u32 magic = 0;
    // Per channel, the last sixteen 64-value blocks of the synthesis matrix.
    s32 synthesis[2][kSynthesisSize] = {};
    u32 offset = 0;
};

enum Mp2Error : s32 {
    kMp2BadDecoder = -1,
    kMp2NotLayer2 = -2,
    kMp2BadBitRate = -3,
    kMp2BadSamplingRate = -4,
    // The frame's length runs past the bytes the caller has.
    kMp2Truncated = -5,
};

// Every frame gives this many stereo pairs.
constexpr u32 kMp2FrameSamples = 1152;

void mp2Init(Mp2Decoder& decoder);

// Decodes the frame at the start of frame, of which only available bytes may
// be read. With output (kMp2FrameSamples stereo pairs, first channel first)
// the frame is decoded; without it only the header is read and the decoder
// is left alone. Returns the frame's length in bytes or an Mp2Error.
s32 mp2DecodeFrame(Mp2Decoder* decoder, const u8* frame, std::size_t available, s16* output);
