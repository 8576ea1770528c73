#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cd/drive/mp2_decoder.h"

namespace {

namespace fs = std::filesystem;

// The eight-bit synthesis matrix keeps the decoder about 44-47 dB from
// mpg123's floating-point output on these streams.
constexpr double kSnrFloorDb = 43.0;

std::vector<u8> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct StreamResult {
    std::string error;
    u64 samples = 0;
    u64 referenceSamples = 0;
    double snrDb = 0;

    bool passed() const { return error.empty() && samples == referenceSamples && snrDb >= kSnrFloorDb; }
};

// Decodes NAME.bit frame after frame, each frame starting where the last
// one's length said, and compares the PCM with NAME.pcm beside it.
StreamResult compareWithReference(const fs::path& stream)
{
    const std::vector<u8> bytes = readFile(stream);
    const std::vector<u8> reference = readFile(fs::path(stream).replace_extension(".pcm"));
    StreamResult result;
    result.referenceSamples = reference.size() / 4;

    Mp2Decoder decoder;
    mp2Init(decoder);
    std::vector<s16> pcm;
    std::vector<s16> frame(2 * kMp2FrameSamples);
    std::size_t position = 0;
    while (position < bytes.size()) {
        const s32 length = mp2DecodeFrame(&decoder, bytes.data() + position, bytes.size() - position, frame.data());
        if (length <= 0) {
            result.error = "error " + std::to_string(length) + " at byte " + std::to_string(position);
            break;
        }
        pcm.insert(pcm.end(), frame.begin(), frame.end());
        position += static_cast<std::size_t>(length);
    }
    result.samples = pcm.size() / 2;

    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < std::min(pcm.size(), reference.size() / 2); ++i) {
        const double expected = static_cast<s16>(reference[2 * i] | reference[2 * i + 1] << 8);
        signal += expected * expected;
        noise += (pcm[i] - expected) * (pcm[i] - expected);
    }
    result.snrDb = 10 * std::log10(signal / std::max(noise, 1.0));
    return result;
}

std::vector<fs::path> streamsIn(const fs::path& folder)
{
    std::vector<fs::path> streams;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".bit") {
            streams.push_back(entry.path());
        }
    }
    std::sort(streams.begin(), streams.end());
    return streams;
}

TEST(Mp2Decoder, MatchesMpg123OnTwolameAndFfmpegStreams)
{
    // Mono, stereo, joint and dual channel at all six sampling rates; the
    // joint streams carry intensity-stereo frames.
    const std::vector<fs::path> streams = streamsIn(KEST_MP2_STREAMS_DIR);
    ASSERT_EQ(streams.size(), 12u);
    double lowest = 100;
    for (const fs::path& stream : streams) {
        const StreamResult r = compareWithReference(stream);
        EXPECT_EQ(r.error, "") << stream;
        EXPECT_EQ(r.samples, r.referenceSamples) << stream;
        EXPECT_GE(r.snrDb, kSnrFloorDb) << stream;
        lowest = std::min(lowest, r.snrDb);
    }
    std::printf("mp2 streams: lowest SNR %.2f dB\n", lowest);
}

TEST(Mp2Decoder, ReferenceVectorsFromTheEnvironment)
{
    const char* folder = std::getenv("KEST_MP2_VECTORS");
    if (folder == nullptr || *folder == 0) {
        GTEST_SKIP() << "KEST_MP2_VECTORS not set";
    }
    int passed = 0;
    int failed = 0;
    for (const fs::path& stream : streamsIn(folder)) {
        const StreamResult r = compareWithReference(stream);
        (r.passed() ? passed : failed)++;
        if (!r.passed()) {
            std::printf("%s: %s samples %llu of %llu, SNR %.2f dB\n", stream.filename().c_str(), r.error.c_str(),
                        static_cast<unsigned long long>(r.samples),
                        static_cast<unsigned long long>(r.referenceSamples), r.snrDb);
        }
    }
    std::printf("mp2 vectors: %d passed, %d failed\n", passed, failed);
    EXPECT_EQ(failed, 0);
}

// A frame of the given header bytes and length, zero after the header,
// in a buffer of exactly that length so a read past it trips ASan.
std::vector<u8> frameOf(u8 b1, u8 b2, u8 b3, std::size_t length, u8 fill = 0)
{
    std::vector<u8> frame(length, fill);
    const u8 header[4] = {0xFF, b1, b2, b3};
    std::copy(header, header + std::min<std::size_t>(4, length), frame.begin());
    return frame;
}

TEST(Mp2Decoder, HeaderLengthsAndErrors)
{
    Mp2Decoder decoder;
    std::vector<s16> out(2 * kMp2FrameSamples);
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFD, 0xE0, 0x00, 1253).data(), 1253, nullptr), kMp2BadDecoder);
    mp2Init(decoder);
    EXPECT_EQ(mp2DecodeFrame(nullptr, frameOf(0xFD, 0xE0, 0x00, 1253).data(), 1253, nullptr), kMp2BadDecoder);

    // 384 kbit/s at 44.1 kHz, with and without padding; 160 kbit/s at
    // 22.05 kHz with a check word.
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFD, 0xE0, 0x00, 1253).data(), 1253, nullptr), 1253);
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFD, 0xE2, 0x00, 1254).data(), 1254, nullptr), 1254);
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xF4, 0xE0, 0x00, 1044).data(), 1044, out.data()), 1044);

    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFB, 0xE0, 0x00, 1253).data(), 1253, nullptr), kMp2NotLayer2);
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFD, 0x00, 0x00, 1253).data(), 1253, nullptr), kMp2BadBitRate);
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFD, 0xF0, 0x00, 1253).data(), 1253, nullptr), kMp2BadBitRate);
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFD, 0xEC, 0x00, 1253).data(), 1253, nullptr), kMp2BadSamplingRate);
}

TEST(Mp2Decoder, NeverReadsPastTheBytesItIsGiven)
{
    Mp2Decoder decoder;
    mp2Init(decoder);
    std::vector<s16> out(2 * kMp2FrameSamples);
    // A frame longer than what remains is refused, in both modes.
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFD, 0xE0, 0x00, 1252).data(), 1252, nullptr), kMp2Truncated);
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFD, 0xE0, 0x00, 1252).data(), 1252, out.data()), kMp2Truncated);
    EXPECT_EQ(mp2DecodeFrame(&decoder, frameOf(0xFD, 0xE0, 0x00, 3).data(), 3, out.data()), kMp2Truncated);

    // 32 kbit/s mono at 48 kHz, 96 bytes, whose all-ones body asks for far
    // more allocation and sample bits than the frame holds.
    const std::vector<u8> greedy = frameOf(0xFD, 0x14, 0xC0, 96, 0xFF);
    EXPECT_EQ(mp2DecodeFrame(&decoder, greedy.data(), greedy.size(), out.data()), 96);
}

TEST(Mp2Decoder, HeaderOnlyCallLeavesTheDecoderAlone)
{
    const std::vector<u8> bytes = readFile(fs::path(KEST_MP2_STREAMS_DIR) / "joint224.bit");
    Mp2Decoder decoder;
    mp2Init(decoder);
    std::vector<s16> out(2 * kMp2FrameSamples);
    const s32 first = mp2DecodeFrame(&decoder, bytes.data(), bytes.size(), out.data());
    ASSERT_GT(first, 0);
    const u8* next = bytes.data() + first;
    const std::size_t rest = bytes.size() - static_cast<std::size_t>(first);

    const Mp2Decoder before = decoder;
    const s32 length = mp2DecodeFrame(&decoder, next, rest, nullptr);
    EXPECT_EQ(std::memcmp(&before, &decoder, sizeof decoder), 0);
    EXPECT_EQ(mp2DecodeFrame(&decoder, next, rest, out.data()), length);
    EXPECT_NE(std::memcmp(&before, &decoder, sizeof decoder), 0);
}

} // namespace
