#include <cstdint>
#include <vector>

#include "cd/drive/mp2_decoder.h"

// Decodes the input as a stream, frame after frame, the way the MPEG card
// walks an audio sector. The input is copied into a buffer of its exact
// size so any read past the available length is caught.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Mp2Decoder decoder;
    static std::vector<s16> pcm(2 * kMp2FrameSamples);
    mp2Init(decoder);
    const std::vector<u8> bytes(data, data + size);
    std::size_t position = 0;
    while (position < bytes.size()) {
        const s32 length = mp2DecodeFrame(&decoder, bytes.data() + position, bytes.size() - position, pcm.data());
        if (length <= 0) {
            break;
        }
        position += static_cast<std::size_t>(length);
    }
    return 0;
}
