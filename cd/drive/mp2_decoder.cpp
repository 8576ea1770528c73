#include "cd/drive/mp2_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr u32 kSamplingRates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
// kbit/s by bit-rate index; 0 (free format) and 15 are refused.
constexpr u16 kBitRates[2][15] = {
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
};

struct Quantiser {
    u16 levels;
    u8 bits;
    bool grouped;
};

constexpr Quantiser kQuantisers[17] = {
    {3, 5, true}, {5, 7, true}, {7, 3, false}, {9, 10, true}, {15, 4, false}, {31, 5, false},
    {63, 6, false}, {127, 7, false}, {255, 8, false}, {511, 9, false}, {1023, 10, false},
    {2047, 11, false}, {4095, 12, false}, {8191, 13, false}, {16383, 14, false},
    {32767, 15, false}, {65535, 16, false},
};

// The quantiser of each non-zero allocation value, one row per kind of
// sub-band in the allocation tables.
constexpr u8 kRowA[] = {0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr u8 kRowB[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16};
constexpr u8 kRowC[] = {0, 1, 2, 3, 4, 5, 16};
constexpr u8 kRowD[] = {0, 1, 16};
constexpr u8 kRowE[] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr u8 kRowF[] = {0, 1, 3, 4, 5, 6, 7};
constexpr u8 kRowG[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
constexpr u8 kRowH[] = {0, 1, 3};

struct Band {
    u8 allocationBits;
    const u8* quantisers;
};

struct AllocationTable {
    u32 subbands;
    // One letter per sub-band naming its row.
    const char* layout;
};

// The four MPEG-1 tables and the one of the low sampling rates.
constexpr AllocationTable kTableA{27, "AAABBBBBBBBCCCCCCCCCCCCDDDD"};
constexpr AllocationTable kTableB{30, "AAABBBBBBBBCCCCCCCCCCCCDDDDDDD"};
constexpr AllocationTable kTableC{8, "EEFFFFFF"};
constexpr AllocationTable kTableD{12, "EEFFFFFFFFFF"};
constexpr AllocationTable kTableLow{30, "GGGGFFFFFFFHHHHHHHHHHHHHHHHHHH"};

constexpr Band band(char row)
{
    switch (row) {
    case 'A': return {4, kRowA};
    case 'B': return {4, kRowB};
    case 'C': return {3, kRowC};
    case 'D': return {2, kRowD};
    case 'E': return {4, kRowE};
    case 'F': return {3, kRowF};
    case 'G': return {4, kRowG};
    default: return {2, kRowH};
    }
}

// Scale factors, 2^24 standing for 1.0; index 63 is not a valid factor.
constexpr std::array<s32, 64> kScaleFactors = [] {
    constexpr s32 base[3] = {33554432, 26632170, 21137968};
    std::array<s32, 64> table{};
    for (s32 i = 0; i < 63; ++i) {
        table[i] = (base[i % 3] + ((1 << (i / 3)) >> 1)) >> (i / 3);
    }
    return table;
}();

// The synthesis window D of ISO/IEC 11172-3, scaled by 65536.
constexpr s32 kWindow[512] = {
    0, -1, -1, -1, -1, -1, -1, -2, -2, -2,
    -2, -3, -3, -4, -4, -5, -5, -6, -7, -7,
    -8, -9, -10, -11, -13, -14, -16, -17, -19, -21,
    -24, -26, -29, -31, -35, -38, -41, -45, -49, -53,
    -58, -63, -68, -73, -79, -85, -91, -97, -104, -111,
    -117, -125, -132, -139, -147, -154, -161, -169, -176, -183,
    -190, -196, -202, -208, 213, 218, 222, 225, 227, 228,
    228, 227, 224, 221, 215, 208, 200, 189, 177, 163,
    146, 127, 106, 83, 57, 29, -2, -36, -72, -111,
    -153, -197, -244, -294, -347, -401, -459, -519, -581, -645,
    -711, -779, -848, -919, -991, -1064, -1137, -1210, -1283, -1356,
    -1428, -1498, -1567, -1634, -1698, -1759, -1817, -1870, -1919, -1962,
    -2001, -2032, -2057, -2075, -2085, -2087, -2080, -2063, 2037, 2000,
    1952, 1893, 1822, 1739, 1644, 1535, 1414, 1280, 1131, 970,
    794, 605, 402, 185, -45, -288, -545, -814, -1095, -1388,
    -1692, -2006, -2330, -2663, -3004, -3351, -3705, -4063, -4425, -4788,
    -5153, -5517, -5879, -6237, -6589, -6935, -7271, -7597, -7910, -8209,
    -8491, -8755, -8998, -9219, -9416, -9585, -9727, -9838, -9916, -9959,
    -9966, -9935, -9863, -9750, -9592, -9389, -9139, -8840, -8492, -8092,
    -7640, -7134, 6574, 5959, 5288, 4561, 3776, 2935, 2037, 1082,
    70, -998, -2122, -3300, -4533, -5818, -7154, -8540, -9975, -11455,
    -12980, -14548, -16155, -17799, -19478, -21189, -22929, -24694, -26482, -28289,
    -30112, -31947, -33791, -35640, -37489, -39336, -41176, -43006, -44821, -46617,
    -48390, -50137, -51853, -53534, -55178, -56778, -58333, -59838, -61289, -62684,
    -64019, -65290, -66494, -67629, -68692, -69679, -70590, -71420, -72169, -72835,
    -73415, -73908, -74313, -74630, -74856, -74992, 75038, 74992, 74856, 74630,
    74313, 73908, 73415, 72835, 72169, 71420, 70590, 69679, 68692, 67629,
    66494, 65290, 64019, 62684, 61289, 59838, 58333, 56778, 55178, 53534,
    51853, 50137, 48390, 46617, 44821, 43006, 41176, 39336, 37489, 35640,
    33791, 31947, 30112, 28289, 26482, 24694, 22929, 21189, 19478, 17799,
    16155, 14548, 12980, 11455, 9975, 8540, 7154, 5818, 4533, 3300,
    2122, 998, -70, -1082, -2037, -2935, -3776, -4561, -5288, -5959,
    6574, 7134, 7640, 8092, 8492, 8840, 9139, 9389, 9592, 9750,
    9863, 9935, 9966, 9959, 9916, 9838, 9727, 9585, 9416, 9219,
    8998, 8755, 8491, 8209, 7910, 7597, 7271, 6935, 6589, 6237,
    5879, 5517, 5153, 4788, 4425, 4063, 3705, 3351, 3004, 2663,
    2330, 2006, 1692, 1388, 1095, 814, 545, 288, 45, -185,
    -402, -605, -794, -970, -1131, -1280, -1414, -1535, -1644, -1739,
    -1822, -1893, -1952, -2000, 2037, 2063, 2080, 2087, 2085, 2075,
    2057, 2032, 2001, 1962, 1919, 1870, 1817, 1759, 1698, 1634,
    1567, 1498, 1428, 1356, 1283, 1210, 1137, 1064, 991, 919,
    848, 779, 711, 645, 581, 519, 459, 401, 347, 294,
    244, 197, 153, 111, 72, 36, 2, -29, -57, -83,
    -106, -127, -146, -163, -177, -189, -200, -208, -215, -221,
    -224, -227, -228, -228, -227, -225, -222, -218, 213, 208,
    202, 196, 190, 183, 176, 169, 161, 154, 147, 139,
    132, 125, 117, 111, 104, 97, 91, 85, 79, 73,
    68, 63, 58, 53, 49, 45, 41, 38, 35, 31,
    29, 26, 24, 21, 19, 17, 16, 14, 13, 11,
    10, 9, 8, 7, 7, 6, 5, 5, 4, 4,
    3, 3, 2, 2, 2, 2, 1, 1, 1, 1,
    1, 1,
};

// The synthesis matrix cos((16 + i)(2k + 1) pi / 64), scaled by 256 and
// truncated: eight-bit coefficients keep the matrix sums in 32 bits.
struct CosineTable {
    s32 n[64][32];
    CosineTable()
    {
        for (int i = 0; i < 64; ++i) {
            for (int k = 0; k < 32; ++k) {
                n[i][k] = static_cast<s32>(std::cos((16 + i) * (2 * k + 1) * std::numbers::pi / 64) * 256);
            }
        }
    }
};

const CosineTable& cosineTable()
{
    static const CosineTable table;
    return table;
}

// Reads the frame body most significant bit first. Bits past the frame's
// end read as 0, so a body whose allocations claim more bits than the frame
// holds cannot reach beyond it.
class BitReader {
public:
    BitReader(const u8* data, const u8* end) : m_next(data), m_end(end) {}

    u32 read(u32 n)
    {
        while (m_count < n) {
            m_reservoir = (m_reservoir << 8) | (m_next < m_end ? *m_next++ : 0u);
            m_count += 8;
        }
        m_count -= n;
        return static_cast<u32>(m_reservoir >> m_count) & ((1u << n) - 1);
    }

private:
    const u8* m_next;
    const u8* m_end;
    u64 m_reservoir = 0;
    u32 m_count = 0;
};

// A code's value as a fraction of 32768, negated: the synthesis negates
// again. Each quantiser's levels are spread over -1..1 with step 2/levels.
s32 requantise(const Quantiser& q, u32 code)
{
    const s32 step = (65536 + q.levels / 2) / q.levels;
    return ((q.levels - 1) / 2 - static_cast<s32>(code)) * step;
}

// value (a fraction of 32768) times a scale factor (a fraction of 2^24),
// in 12-bit pieces so no product leaves 32 bits.
s32 scale(s32 value, s32 factor)
{
    return ((((factor & 0xFFF) * value + 2048) >> 12) + (factor >> 12) * value) >> 12;
}

struct FrameLayout {
    u32 length;
    u32 channels;
    u32 bound;
    u32 subbands;
    const AllocationTable* table;
    u32 bodyStart;
};

// Reads and checks the four header bytes; returns 0 or an Mp2Error.
s32 readHeader(const u8* frame, FrameLayout& layout)
{
    if (frame[0] != 0xFF || (frame[1] & 0xF6) != 0xF4) {
        return kMp2NotLayer2;
    }
    const u32 version = (frame[1] >> 3) & 1;
    const u32 bitRateIndex = frame[2] >> 4;
    const u32 rateIndex = (frame[2] >> 2) & 3;
    if (bitRateIndex == 0 || bitRateIndex == 15) {
        return kMp2BadBitRate;
    }
    if (rateIndex == 3) {
        return kMp2BadSamplingRate;
    }
    const u32 bitRate = kBitRates[version][bitRateIndex];
    const u32 rate = kSamplingRates[version][rateIndex];
    const u32 mode = frame[3] >> 6;
    layout.length = bitRate * 144000 / rate + ((frame[2] >> 1) & 1);
    layout.channels = mode == 3 ? 1 : 2;
    layout.bound = mode == 3 ? 0 : mode == 1 ? ((frame[3] >> 4) & 3) * 4 + 4 : 32;
    layout.bodyStart = (frame[1] & 1) ? 4 : 6;

    if (version == 0) {
        layout.table = &kTableLow;
    } else {
        const u32 perChannel = bitRate / layout.channels;
        if (perChannel <= 48) {
            layout.table = rate == 32000 ? &kTableD : &kTableC;
        } else if (perChannel <= 80 || rate == 48000) {
            layout.table = &kTableA;
        } else {
            layout.table = &kTableB;
        }
    }
    layout.subbands = layout.table->subbands;
    layout.bound = std::min(layout.bound, layout.subbands);
    return 0;
}

// Three codes of one sub-band and granule, as negated fractions of 32768.
void readCodes(BitReader& bits, const Quantiser& q, s32 values[3])
{
    if (q.grouped) {
        u32 code = bits.read(q.bits);
        for (int i = 0; i < 3; ++i) {
            values[i] = requantise(q, code % q.levels);
            code /= q.levels;
        }
    } else {
        for (int i = 0; i < 3; ++i) {
            values[i] = requantise(q, bits.read(q.bits));
        }
    }
}

// One sample time of one channel: 32 sub-band samples in, 32 PCM samples
// out at stride 2.
void synthesise(s32* history, u32 offset, const s32 subband[32], s16* out)
{
    const CosineTable& cosines = cosineTable();
    s32* v = history + offset;
    for (int i = 0; i < 64; ++i) {
        s32 sum = 0;
        for (int k = 0; k < 32; ++k) {
            sum += cosines.n[i][k] * subband[k];
        }
        v[i] = (sum + 8192) >> 14;
    }
    for (u32 m = 0; m < 32; ++m) {
        s64 sum = 0;
        for (u32 j = 0; j < 8; ++j) {
            // Products reach past 32 bits for full-scale matrix sums.
            sum += (s64{kWindow[64 * j + m]} * history[(offset + 128 * j + m) & 0x3FF] + 32) >> 6;
            sum += (s64{kWindow[64 * j + 32 + m]} * history[(offset + 128 * j + 96 + m) & 0x3FF] + 32) >> 6;
        }
        out[2 * m] = static_cast<s16>(std::clamp<s64>((-sum + 8) >> 4, -32768, 32767));
    }
}

} // namespace

void mp2Init(Mp2Decoder& decoder)
{
    cosineTable();
    std::fill(&decoder.synthesis[0][0], &decoder.synthesis[0][0] + 2 * Mp2Decoder::kSynthesisSize, 0);
    decoder.offset = 0;
    decoder.magic = Mp2Decoder::kMagic;
}

s32 mp2DecodeFrame(Mp2Decoder* decoder, const u8* frame, std::size_t available, s16* output)
{
    if (decoder == nullptr || frame == nullptr || decoder->magic != Mp2Decoder::kMagic) {
        return kMp2BadDecoder;
    }
    if (available < 4) {
        return kMp2Truncated;
    }
    FrameLayout layout;
    if (const s32 error = readHeader(frame, layout); error != 0) {
        return error;
    }
    if (layout.length > available) {
        return kMp2Truncated;
    }
    if (output == nullptr) {
        return static_cast<s32>(layout.length);
    }

    BitReader bits(frame + layout.bodyStart, frame + layout.length);
    const u32 channels = layout.channels;
    const u32 bound = layout.bound;
    const u32 subbands = layout.subbands;

    // Quantiser index + 1 per channel and sub-band; 0 for none.
    u8 allocation[2][32] = {};
    for (u32 sb = 0; sb < subbands; ++sb) {
        const Band b = band(layout.table->layout[sb]);
        for (u32 ch = 0; ch < (sb < bound ? 2u : 1u); ++ch) {
            const u32 value = bits.read(b.allocationBits);
            allocation[ch][sb] = value == 0 ? 0 : static_cast<u8>(b.quantisers[value - 1] + 1);
        }
        if (sb >= bound) {
            allocation[1][sb] = allocation[0][sb];
        }
    }

    u8 selection[2][32] = {};
    for (u32 sb = 0; sb < subbands; ++sb) {
        for (u32 ch = 0; ch < channels; ++ch) {
            if (allocation[ch][sb] != 0) {
                selection[ch][sb] = static_cast<u8>(bits.read(2));
            }
        }
    }

    s32 factors[2][32][3] = {};
    for (u32 sb = 0; sb < subbands; ++sb) {
        for (u32 ch = 0; ch < channels; ++ch) {
            if (allocation[ch][sb] == 0) {
                continue;
            }
            s32* f = factors[ch][sb];
            switch (selection[ch][sb]) {
            case 0:
                f[0] = kScaleFactors[bits.read(6)];
                f[1] = kScaleFactors[bits.read(6)];
                f[2] = kScaleFactors[bits.read(6)];
                break;
            case 1:
                f[0] = f[1] = kScaleFactors[bits.read(6)];
                f[2] = kScaleFactors[bits.read(6)];
                break;
            case 2:
                f[0] = f[1] = f[2] = kScaleFactors[bits.read(6)];
                break;
            default:
                f[0] = kScaleFactors[bits.read(6)];
                f[1] = f[2] = kScaleFactors[bits.read(6)];
                break;
            }
        }
    }

    s32 samples[2][3][32];
    for (u32 granule = 0; granule < 12; ++granule) {
        const u32 part = granule / 4;
        std::fill(&samples[0][0][0], &samples[0][0][0] + 2 * 3 * 32, 0);
        for (u32 sb = 0; sb < subbands; ++sb) {
            s32 values[3];
            if (sb < bound) {
                for (u32 ch = 0; ch < 2; ++ch) {
                    if (allocation[ch][sb] != 0) {
                        readCodes(bits, kQuantisers[allocation[ch][sb] - 1], values);
                        for (u32 t = 0; t < 3; ++t) {
                            samples[ch][t][sb] = scale(values[t], factors[ch][sb][part]);
                        }
                    }
                }
            } else if (allocation[0][sb] != 0) {
                // Shared codes: each channel applies its own scale factors.
                readCodes(bits, kQuantisers[allocation[0][sb] - 1], values);
                for (u32 ch = 0; ch < channels; ++ch) {
                    for (u32 t = 0; t < 3; ++t) {
                        samples[ch][t][sb] = scale(values[t], factors[ch][sb][part]);
                    }
                }
            }
        }
        for (u32 t = 0; t < 3; ++t) {
            decoder->offset = (decoder->offset - 64) & 0x3FF;
            s16* out = output + (granule * 3 + t) * 64;
            for (u32 ch = 0; ch < channels; ++ch) {
                synthesise(decoder->synthesis[ch], decoder->offset, samples[ch][t], out + ch);
            }
            if (channels == 1) {
                for (u32 m = 0; m < 32; ++m) {
                    out[2 * m + 1] = out[2 * m];
                }
            }
        }
    }
    return static_cast<s32>(layout.length);
}
