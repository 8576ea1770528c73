// VDP2 normal scroll layers NBG0-NBG3: line parameters and dot fetch.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_fetch.h"
#include "video/vdp2/vdp2_simd.h"

using namespace vdp2;

namespace {

// Line scroll and vertical cell scroll entries: a signed integer in bits
// 16-26 and a fraction in bits 8-15.
s32 scrollEntry(u32 raw)
{
    return static_cast<s32>((raw & 0x07FFFF00) << 5) >> 5;
}

constexpr u8 kCellScrollNbg0 = 12;
constexpr u8 kCellScrollNbg1 = 13;

}  // namespace

bool VDP2::normalLayerShown(const Layer& layer) const
{
    if (!layer.displayEnable || m_rbg1Enabled)
        return false;
    const Layer& n0 = m_nbg0;
    const Layer& n1 = m_nbg1;
    switch (layer.number) {
    case kNbg1:
        return !m_exbg.displayEnable && !(n0.displayEnable && n0.colorMode == 4);
    case kNbg2:
        return !n0.displayEnable || (n0.colorMode == 0 && n0.reduction <= 1) ||
               (n0.colorMode == 1 && n0.reduction == 0);
    case kNbg3:
        if (n0.displayEnable && n0.colorMode == 4)
            return false;
        return !n1.displayEnable || (n1.colorMode == 0 && n1.reduction <= 1) ||
               (n1.colorMode == 1 && n1.reduction == 0);
    default:
        return true;
    }
}

void VDP2::prepareNormalLine(Layer& layer, int v)
{
    const bool sameLine = v == layer.lastLine;
    const bool firstLine = v == 0 || layer.lastLine < 0 || (m_interlace == 3 && v == 1);
    bool yFromTable = false;

    if (layer.number < 2 && (layer.lineScrollX || layer.lineScrollY || layer.lineZoom)) {
        const u32 groupSize = 4u * (layer.lineScrollX + layer.lineScrollY + layer.lineZoom);
        const u32 tested = m_interlace == 3 ? static_cast<u32>(v) & ~1u : static_cast<u32>(v);
        if ((tested & ((1u << layer.lineScrollShift) - 1)) == 0 || firstLine) {
            u32 at = layer.lineScrollTable + groupSize * (static_cast<u32>(v) >> layer.lineScrollShift);
            auto next = [&]() {
                const u32 value = loadBe32(m_vram + (at & m_vramMask & ~3u));
                at += 4;
                return value;
            };
            if (layer.lineScrollX)
                layer.xOffset = scrollEntry(next());
            if (layer.lineScrollY) {
                layer.yOffset = scrollEntry(next());
                yFromTable = true;
            }
            if (layer.lineZoom)
                layer.lineZoomValue = next() & 0x0007FF00;
        }
    }
    if (!layer.lineScrollX)
        layer.xOffset = 0;
    if (!layer.lineScrollY)
        layer.yOffset = 0;

    // Increments, limited by the reduction setting.
    const u32 limit = 0x10000u << (layer.reduction == 0 ? 0 : layer.reduction == 1 ? 1 : 2);
    u32 xStep = layer.lineZoom ? layer.lineZoomValue : layer.zoomX;
    u32 yStep = layer.zoomY;
    layer.xStep = xStep > limit ? limit : xStep;
    yStep = yStep > limit ? limit : yStep;
    layer.xStart = layer.scrollX + layer.xOffset;

    // The Y position follows the line-position rule.
    if (!sameLine) {
        if (yFromTable) {
            layer.yPosition = layer.yOffset + layer.scrollY;
        } else if (firstLine) {
            layer.yPosition = layer.scrollY + layer.yOffset;
            if (m_interlace == 3 && v == 1)
                layer.yPosition += static_cast<s32>(yStep);
        } else if (layer.scrollY == layer.lastScrollY) {
            layer.yPosition += static_cast<s32>(yStep) * (m_interlace == 3 ? 2 : 1);
        } else {
            layer.yPosition = layer.scrollY + layer.yOffset;
        }
        layer.lastScrollY = layer.scrollY;
        layer.lastLine = v;
    }

    const u32 heightMask = layer.bitmap ? layer.bitmapHeightMask : layer.map.heightMask;
    u32 row = (static_cast<u32>(layer.yPosition) >> 16) & heightMask;
    if (layer.mosaic) {
        layer.yMode = 1;
        row = m_mosaic[m_mosaicY][row];
    } else {
        layer.yMode = layer.cellScroll ? 2 : 0;
    }
    layer.lineRow = row;
    if (layer.bitmap) {
        layer.bitmapRowShift = (layer.colorMode == 0 ? 8 : layer.colorMode == 1 ? 9 : layer.colorMode == 4 ? 11 : 10) +
                               (layer.bitmapWidthMask == 1023 ? 1 : 0);
        layer.rowAddress = layer.bitmapBase + (row << layer.bitmapRowShift);
    }
}

// Which vertical-cell-scroll reads the cycle patterns give the bank that
// holds the table, and each layer's place among them.
void VDP2::prepareCellScroll()
{
    if (!(m_nbg0.active && m_nbg0.yMode == 2) && !(m_nbg1.active && m_nbg1.yMode == 2))
        return;
    const u16 ramctl = reg(RAMCTL);
    const u32 address = m_cellScrollTable;
    int bank;
    if (address < 0x40000)
        bank = ((ramctl >> 8) & 1) && address >= 0x20000 ? 1 : 0;
    else
        bank = ((ramctl >> 9) & 1) && address >= 0x60000 ? 3 : 2;
    const u8* slots = m_cycle[bank];
    if (slots[0] == kCellScrollNbg1 && slots[1] == kCellScrollNbg0)
        logWarning(1, "N0CE must be selected first");
    int count = 0;
    int place0 = -1, place1 = -1;
    for (int slot = 0; slot < 3; ++slot) {
        if (slots[slot] == kCellScrollNbg0 && slot < 2 && place0 < 0)
            place0 = count++;
        else if (slots[slot] == kCellScrollNbg1 && place1 < 0)
            place1 = count++;
    }
    const u32 reads = count ? static_cast<u32>(count) : 1;
    auto assign = [&](Layer& layer, int place) {
        if (layer.yMode != 2)
            return;
        if (place < 0) {
            layer.yMode = 0;
            return;
        }
        layer.cellScrollSlot = static_cast<u32>(place);
        layer.cellScrollCount = reads;
    };
    assign(m_nbg0, place0);
    assign(m_nbg1, place1);
}

u32 VDP2::nameAddress(const MapGeometry& map, const Layer& layer, u32 col, u32 row) const
{
    const u32 plane = ((col >> map.planeShiftX) & map.planesMask) |
                      (((row >> map.planeShiftY) & map.planesMask) << map.planesAcrossShift);
    const u32 px = col & ((1u << map.planeShiftX) - 1);
    const u32 py = row & ((1u << map.planeShiftY) - 1);
    const u32 page = (px >> 9) | ((py >> 9) << map.pagesAcrossShift);
    const u32 charShift = layer.charSize16 ? 4 : 3;
    const u32 perRowShift = 9 - charShift;
    const u32 index = (page << (2 * perRowShift)) | (((py & 511) >> charShift) << perRowShift) | ((px & 511) >> charShift);
    return (map.plane[plane] + (index << (layer.twoWord ? 2 : 1))) & m_vramMask;
}

// pass: the dots the layer's window lets through.
void VDP2::fetchNormal(Layer& layer, const u8* pass)
{
    const u32 maxMode = layer.number == kNbg0 ? 4 : layer.number == kNbg1 ? 3 : 1;
    if (layer.colorMode > maxMode) {
        // A colour mode the layer cannot show: nothing of it is drawn.
        std::fill_n(m_dots[layer.record].key, kMaxLineDots, u8{0});
        return;
    }
    const bool bitmap = layer.bitmap && layer.number < 2;
    switch (layer.colorMode) {
    case 0: bitmap ? fetchNormalLine<0, true>(layer, pass) : fetchNormalLine<0, false>(layer, pass); break;
    case 1: bitmap ? fetchNormalLine<1, true>(layer, pass) : fetchNormalLine<1, false>(layer, pass); break;
    case 2: bitmap ? fetchNormalLine<2, true>(layer, pass) : fetchNormalLine<2, false>(layer, pass); break;
    case 3: bitmap ? fetchNormalLine<3, true>(layer, pass) : fetchNormalLine<3, false>(layer, pass); break;
    default: bitmap ? fetchNormalLine<4, true>(layer, pass) : fetchNormalLine<4, false>(layer, pass); break;
    }
}

namespace {

// Eight dots of bytes as one word, dot i in byte i (bits 8i to 8i + 7).
inline u64 loadDots8(const u8* p)
{
    u64 v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    return v;
}

inline void storeBytes8(u8* p, u64 v)
{
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

// Eight 4-bit dots (the first in the top nibble of a big-endian word) spread
// to one dot per byte.
inline u64 spreadNibbles(const u8* p)
{
    u64 v = u64{p[0]} | u64{p[1]} << 16 | u64{p[2]} << 32 | u64{p[3]} << 48;
    return ((v >> 4) & 0x000F000F000F000Full) | ((v & 0x000F000F000F000Full) << 8);
}

// 1 in each byte of v that is not zero.
inline u64 nonZeroBytes(u64 v)
{
    constexpr u64 kLow7 = 0x7F7F7F7F7F7F7F7Full;
    return ((((v & kLow7) + kLow7) | v) >> 7) & 0x0101010101010101ull;
}

// The character rows a run fetches, as its name pass leaves them: each
// group's row address, flags (bit 0 the horizontal flip, bits 7-1 the key),
// palette base (its colour-calculation condition in bit 16) and place on the
// line.
struct GroupRows {
    const u8* vram;
    const u32* row;
    const u8* flags;
    const u32* base;
    const u32* at;
    u32 count;
    const u32* palette;
    u32 paletteMask;
    u64 shownBytes;
};

// Spreads the rows' dots into colours, keys and conditions.
template <int Mode>
void rowDotsPlain(const GroupRows& g, u32* __restrict colorOut, u8* __restrict keyOut, u8* __restrict ccOut)
{
    const u32* __restrict palette = g.palette;
    const u32 mask = g.paletteMask;
    for (u32 f = 0; f < g.count; ++f) {
        u64 bytes;
        if constexpr (Mode == 0)
            bytes = spreadNibbles(g.vram + g.row[f]);
        else
            bytes = loadDots8(g.vram + g.row[f]);
        const u32 flags = g.flags[f];
        bytes = (flags & 1) ? __builtin_bswap64(bytes) : bytes;
        const u32 at = g.at[f];
        const u32 base = g.base[f];
        storeBytes8(keyOut + at, (nonZeroBytes(bytes) | g.shownBytes) * (flags >> 1));
        storeBytes8(ccOut + at, 0x0101010101010101ull * (base >> 16));
#pragma GCC unroll 8
        for (u32 i = 0; i < 8; ++i)
            colorOut[at + i] = palette[((base & 0xFFFF) + ((bytes >> (8 * i)) & 0xFF)) & mask];
    }
}

#if KEST_X86
// Bit i of b spread to byte i.
constexpr std::array<u64, 256> kBitBytes = [] {
    std::array<u64, 256> table{};
    for (u32 b = 0; b < 256; ++b) {
        for (u32 i = 0; i < 8; ++i)
            table[b] |= u64{(b >> i) & 1} << (8 * i);
    }
    return table;
}();

// The same with AVX2. 16-colour rows need no gather: the eight dots shift
// out of one word, and the group's sixteen colours sit in two registers.
template <int Mode>
__attribute__((target("avx2"))) void rowDotsAvx2(const GroupRows& g, u32* __restrict colorOut, u8* __restrict keyOut,
                                                 u8* __restrict ccOut)
{
    const __m256i masks = _mm256_set1_epi32(static_cast<int>(g.paletteMask));
    const __m256i nibble = _mm256_set1_epi32(15);
    const __m256i shifts[2] = {_mm256_setr_epi32(28, 24, 20, 16, 12, 8, 4, 0),
                               _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28)};
    const int* palette = reinterpret_cast<const int*>(g.palette);
    for (u32 f = 0; f < g.count; ++f) {
        const u32 flags = g.flags[f];
        const u32 at = g.at[f];
        const u32 base = g.base[f];
        __m256i code, colors;
        if constexpr (Mode == 0) {
            code = _mm256_and_si256(
                _mm256_srlv_epi32(_mm256_set1_epi32(static_cast<int>(loadBe32(g.vram + g.row[f]))), shifts[flags & 1]),
                nibble);
            const u32 first = base & g.paletteMask;  // a multiple of 16, so the sixteen stay inside
            const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(palette + first));
            const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(palette + first + 8));
            colors = _mm256_castps_si256(_mm256_blendv_ps(
                _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(low, code)),
                _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(high, code)),
                _mm256_castsi256_ps(_mm256_slli_epi32(code, 28))));
        } else {
            u64 bytes = loadDots8(g.vram + g.row[f]);
            bytes = (flags & 1) ? __builtin_bswap64(bytes) : bytes;
            code = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(bytes)));
            const __m256i index = _mm256_and_si256(
                _mm256_add_epi32(code, _mm256_set1_epi32(static_cast<int>(base & 0xFFFF))), masks);
            colors = gather8<4>(palette, index);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(colorOut + at), colors);
        const u32 zero = static_cast<u32>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(code, _mm256_setzero_si256()))));
        storeBytes8(keyOut + at, (kBitBytes[zero ^ 0xFF] | g.shownBytes) * (flags >> 1));
        storeBytes8(ccOut + at, 0x0101010101010101ull * (base >> 16));
    }
}
#endif

// taken counts the calls the AVX2 loop takes.
template <int Mode>
void rowDots(bool avx2, u64& taken, const GroupRows& g, u32* colorOut, u8* keyOut, u8* ccOut)
{
#if KEST_X86
    // The 16-colour shortcut needs the sixteen colours of a group in a row.
    if (avx2 && (Mode == 1 || g.paletteMask >= 15)) {
        ++taken;
        return rowDotsAvx2<Mode>(g, colorOut, keyOut, ccOut);
    }
#endif
    rowDotsPlain<Mode>(g, colorOut, keyOut, ccOut);
}

// What a run of whole character rows needs, worked out once per line.
struct RowRun {
    const u8* vram;
    u32 vramMask;
    const u32* palette;
    u32 paletteMask;
    u32 cramOffset;
    u32 rowOffset[2];  // the character row's offset by vertical flip
    u8 keys[2];        // by the name's special priority bit
    u8 conditions[2];  // by the name's special colour-calculation bit
    u64 shownBytes;
    u32 nameStep;
    NameDecoder decoder;
    RotationBanks banks;
    // Scratch for the name pass's results.
    u32* groupBase;
    u32* groupAt;
    u32* groupRow;
    u8* groupFlags;
};

// groups 8-dot groups of whole character rows from map column c (a multiple
// of 8) along one page, the first name at at. Where needed is not null,
// groups whose dots are all hidden get no dots.
// Two passes: the names and character rows first, in a short loop that keeps
// many of VRAM's scattered reads in flight, then the colour look-ups.
// The name of group g, at at: its character row's address, flags, palette
// base and place go into the next entry of the run's scratch.
template <int Mode, bool Char16, bool TwoWord>
inline void nameGroup(const RowRun& p, u32 at, u32 c, u32 g, u32& fetched)
{
    const u32 vramMask = p.vramMask;
    const NameFields<u32> f = TwoWord ? twoWordName(loadBe32(p.vram + (at & vramMask & ~3u)), vramMask)
                                      : p.decoder.oneWord<u32>(loadBe16(p.vram + (at & vramMask & ~1u)));
    u32 rowAddress = f.charAddress + p.rowOffset[f.vflip];
    if constexpr (Char16)
        rowAddress += (((c >> 3) & 1) ^ f.hflip) << kCellShift<Mode>;
    p.groupRow[fetched] = rowAddress & vramMask & (Mode == 0 ? ~3u : ~7u);
    const u8 open = p.banks.open(at) & p.banks.open(rowAddress);
    p.groupFlags[fetched] = static_cast<u8>(f.hflip | (p.keys[f.specialPriority] & open) << 1);
    p.groupBase[fetched] = (paletteBase<Mode>(f.palette) + p.cramOffset) | p.conditions[f.specialCc] << 16;
    p.groupAt[fetched++] = 8 * g;
}

// Whether group g has a dot to fetch; a group with none gets hidden keys.
inline bool groupNeeded(const u8* needed, u32 g, u8* keyOut)
{
    if (!needed)
        return true;
    u64 any;
    std::memcpy(&any, needed + 8 * g, 8);
    if (!any)
        storeBytes8(keyOut + 8 * g, 0);
    return any != 0;
}

#if KEST_X86
// For each set of eight kept lanes, the lanes in order, as bytes.
constexpr std::array<u64, 256> kKeptLanes = [] {
    std::array<u64, 256> table{};
    for (u32 m = 0; m < 256; ++m) {
        u32 k = 0;
        for (u32 lane = 0; lane < 8; ++lane) {
            if ((m >> lane) & 1)
                table[m] |= u64{lane} << (8 * k++);
        }
    }
    return table;
}();

__attribute__((target("avx2"))) inline __m256i loadKept(u32 keep)
{
    return _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(kKeptLanes[keep])));
}

// The names of eight groups at a time: the names of a page row sit side by
// side, one a group, or one for two groups of 16 x 16 characters (c, the
// run's first column, says whether the first group is a right half).
// The last of fewer than eight groups reads the names after them all the
// same, and keeps only its own. Returns the groups done.
template <int Mode, bool Char16, bool TwoWord>
__attribute__((target("avx2"))) u32 nameGroupsAvx2(const RowRun& p, u32 at, u32 c, u32 groups, const u8* needed,
                                                  u8* keyOut, u32& fetched)
{
    constexpr u32 kNameBytes = TwoWord ? 4 : 2;
    constexpr u32 kLoadBytes = 8 * kNameBytes;
    const u8* vram = p.vram;
    const u32 vramMask = p.vramMask;
    const __m128i swap16 = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    const __m256i swap32 = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6,
                                            5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    const u32 rowMask = vramMask & (Mode == 0 ? ~3u : ~7u);
    const u32 flipOffset = p.rowOffset[0] ^ p.rowOffset[1];
    // Copies the stores below cannot touch, so they stay in registers.
    const NameDecoder decoder = p.decoder;
    const RotationBanks banks = p.banks;
    // A group's name, and which cell of its character row it takes.
    const u32 rightFirst = (c >> 3) & 1;
    const __m256i nameOrder = rightFirst ? _mm256_setr_epi32(0, 1, 1, 2, 2, 3, 3, 4)
                                         : _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
    const Lanes8 rightHalf = rightFirst ? _mm256_setr_epi32(1, 0, 1, 0, 1, 0, 1, 0)
                                        : _mm256_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1);
    const u32 keyFlags0 = u32{p.keys[0]} << 1, keyFlagsFlip = (u32{p.keys[0]} ^ u32{p.keys[1]}) << 1;
    const u32 condition0 = p.conditions[0], conditionFlip = u32{p.conditions[0]} ^ u32{p.conditions[1]};
    const u32 oneWordKeyFlags = u32{p.keys[p.decoder.specialPriority]} << 1;
    const u32 oneWordBaseAdd = p.cramOffset | u32{p.conditions[p.decoder.specialCc]} << 16;
    const __m256i places = _mm256_setr_epi32(0, 8, 16, 24, 32, 40, 48, 56);
    u32 g = 0;
    for (; g < groups; g += 8) {
        const u32 count = groups - g < 8 ? groups - g : 8;
        u32 keep = 0xFFu >> (8 - count);  // the groups with a dot to fetch
        const u32 names = (at + kNameBytes * (Char16 ? g / 2 : g)) & vramMask & ~(kNameBytes - 1);
        if (names + kLoadBytes > vramMask + 1)
            break;
        const bool guarded = banks.reserved != 0;
        const u8 namesOpen = guarded ? banks.open(names) : 0xFF;
        if (guarded && namesOpen != banks.open(names + kLoadBytes - 1))
            break;
        if (needed) {
            u32 hidden = 0;
            if (count == 8) {
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(needed + 8 * g));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(needed + 8 * g + 32));
                const __m256i zero = _mm256_setzero_si256();
                hidden = static_cast<u32>(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(a, zero)))) |
                         static_cast<u32>(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(b, zero)))) << 4;
            } else {
                // Not past the line's last group.
                for (u32 i = 0; i < count; ++i) {
                    u64 dots;
                    std::memcpy(&dots, needed + 8 * (g + i), 8);
                    hidden |= u32{dots == 0} << i;
                }
            }
            if (hidden)
                std::memset(keyOut + 8 * g, 0, 8 * count);
            if (hidden == keep)
                continue;
            keep &= ~hidden;
        }
        Lanes8 raw;
        if constexpr (TwoWord)
            raw = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(vram + names)), swap32);
        else
            raw = _mm256_cvtepu16_epi32(
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(vram + names)), swap16));
        if constexpr (Char16)
            raw = _mm256_permutevar8x32_epi32(raw.v, nameOrder);
        const NameFields<Lanes8> f = TwoWord ? twoWordName(raw, vramMask) : decoder.oneWord(raw);
        Lanes8 row = f.charAddress + (Lanes8(p.rowOffset[0]) ^ ((Lanes8(0u) - f.vflip) & flipOffset));
        if constexpr (Char16)
            row = row + ((rightHalf ^ f.hflip) << kCellShift<Mode>);
        row = row & rowMask;
        // The key and condition the name's special bits choose; one-word
        // names take the layer's.
        Lanes8 keyFlags = oneWordKeyFlags, baseAdd = oneWordBaseAdd;
        if constexpr (TwoWord) {
            keyFlags = Lanes8(keyFlags0) ^ ((Lanes8(0u) - f.specialPriority) & keyFlagsFlip);
            const Lanes8 condition = Lanes8(condition0) ^ ((Lanes8(0u) - f.specialCc) & conditionFlip);
            baseAdd = Lanes8(p.cramOffset) | (condition << 16u);
        }
        Lanes8 base = paletteBase<Mode>(f.palette) + baseAdd;
        // Rows in a bank RBG0 holds get no key.
        Lanes8 flags = f.hflip | (guarded ? banks.openMask(row) & (namesOpen ? keyFlags : Lanes8(0u)) : keyFlags);
        __m256i place = _mm256_add_epi32(places, _mm256_set1_epi32(static_cast<int>(8 * g)));
        if (keep != 0xFF) {
            // The kept groups moved down to the front; the scratch has room
            // for the eight stored.
            const __m256i order = loadKept(keep);
            row = _mm256_permutevar8x32_epi32(row.v, order);
            base = _mm256_permutevar8x32_epi32(base.v, order);
            flags = _mm256_permutevar8x32_epi32(flags.v, order);
            place = _mm256_permutevar8x32_epi32(place, order);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.groupRow + fetched), row.v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.groupBase + fetched), base.v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.groupAt + fetched), place);
        // Flags to bytes: each lane's low byte.
        const __m256i bytes = _mm256_shuffle_epi8(
            flags.v, _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12, -1, -1,
                                    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
        const u32 low = static_cast<u32>(_mm256_extract_epi32(bytes, 0));
        const u32 high = static_cast<u32>(_mm256_extract_epi32(bytes, 4));
        const u64 eight = u64{low} | u64{high} << 32;
        std::memcpy(p.groupFlags + fetched, &eight, 8);
        fetched += static_cast<u32>(std::popcount(keep));
    }
    return g < groups ? g : groups;
}
#endif

// groups 8-dot groups of whole character rows from map column c (a multiple
// of 8) along one page, the first name at at. Where needed is not null,
// groups whose dots are all hidden get no dots. The names go first, then the
// character rows and their colours. The AVX2 loops taken are counted in uses.
template <int Mode, bool Char16, bool TwoWord>
void cellRowRun(bool avx2, const RowRun& p, u32 at, u32 c, u32 groups, u32* __restrict colorOut, u8* __restrict keyOut,
                u8* __restrict ccOut, const u8* needed, ShortcutUses& uses)
{
    u32 fetched = 0;
    u32 g = 0;
#if KEST_X86
    if (avx2) {
        ++uses[kAvx2CellNames];
        g = nameGroupsAvx2<Mode, Char16, TwoWord>(p, at, c, groups, needed, keyOut, fetched);
    }
#endif
    for (; g < groups; ++g) {
        const u32 cg = c + 8 * g;
        // 16 x 16 characters take two groups a name.
        const u32 step = Char16 ? g / 2 + ((c >> 3) & 1 & g) : g;
        if (groupNeeded(needed, g, keyOut))
            nameGroup<Mode, Char16, TwoWord>(p, (at + step * p.nameStep) & p.vramMask, cg, g, fetched);
    }
    const GroupRows rows{p.vram, p.groupRow, p.groupFlags, p.groupBase, p.groupAt, fetched, p.palette, p.paletteMask,
                         p.shownBytes};
    rowDots<Mode>(avx2, uses[kAvx2CellRows], rows, colorOut, keyOut, ccOut);
}

}  // namespace

// The common case: a cell-mode layer at 1:1 without mosaic or vertical cell
// scroll. The map row's addressing is worked out once per line and stepped
// along it, each pattern name is decoded once, each character row is read
// once, and its dots go out in a run.
template <int Mode>
void VDP2::fetchCellRuns(Layer& layer, const u8* pass)
{
    LineDots& out = m_dots[layer.record];
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    const u8* vram = m_vram;
    const u32 vramMask = m_vramMask;
    const u32* palette = m_palette;
    const u8* msbs = m_paletteMsb;
    const u32 paletteMask = m_paletteMask;
    const MapGeometry& map = layer.map;
    const u32 widthMask = map.widthMask;
    const u32 charMask = layer.charSize16 ? 15 : 7;
    const u8 record = static_cast<u8>(layer.record);
    const u8* table = m_specialTables[layer.specialSelect];
    const u32 priorityMode = layer.specialPriorityMode;
    const u32 ccMode = m_outputs[layer.record].specialMode;
    const u32 row = layer.lineRow;
    const u32 cramOffset = layer.cramOffset;
    const u8 shown = layer.transparentShown;
    const u32 layerPriority = layer.priority;
    const NameDecoder decoder(layer, vramMask);
    const u64 shownBytes = shown ? 0x0101010101010101ull : 0;
    const bool windowed = pass != m_passAll;
    const RotationBanks banks = m_rotationBanks;
    const bool runs = m_fastPaths.cellRows && Mode <= 1 && priorityMode != 2 && ccMode < 2;
    const u8* needed = runs ? neededDots(layer) : nullptr;

    // Name addressing along this map row.
    const u32 charShift = layer.charSize16 ? 4 : 3;
    const u32 perRowShift = 9 - charShift;
    const u32 nameShift = layer.twoWord ? 2 : 1;
    const u32 nameStep = 1u << nameShift;
    const u32 planeWidthMask = (1u << map.planeShiftX) - 1;
    const u32 py = row & ((1u << map.planeShiftY) - 1);
    const u32 rowNames = (((py >> 9) << map.pagesAcrossShift) << (2 * perRowShift)) | (((py & 511) >> charShift) << perRowShift);
    const u32 planeRow = ((row >> map.planeShiftY) & map.planesMask) << map.planesAcrossShift;
    const u32 rowBase[2] = {map.plane[planeRow] + (rowNames << nameShift), map.plane[planeRow | 1] + (rowNames << nameShift)};
    const u32 planeShiftX = map.planeShiftX;

    // The character row's offset by vertical flip, and the key and
    // colour-calculation condition by the name's special bits.
    u32 rowOffset[2];
    u8 keys[2], conditions[2];
    for (u32 i = 0; i < 2; ++i) {
        const u32 dy = (row & charMask) ^ (i ? charMask : 0);
        rowOffset[i] = charRow<Mode>(0u, 0u, dy);
        keys[i] = layerKey(dotPriority(priorityMode, layerPriority, i, table, 0), record);
        conditions[i] = ccMode == 1 ? static_cast<u8>(i) : 1;
    }
    const RowRun rowRun{vram,
                        vramMask,
                        palette,
                        paletteMask,
                        cramOffset,
                        {rowOffset[0], rowOffset[1]},
                        {keys[0], keys[1]},
                        {conditions[0], conditions[1]},
                        shownBytes,
                        nameStep,
                        decoder,
                        banks,
                        m_runBase,
                        m_runAt,
                        m_runRow,
                        m_runFlags};

    u32* __restrict colorOut = out.color;
    u8* __restrict keyOut = out.key;
    u8* __restrict ccOut = out.cc;
    // The fraction of the scroll stays the same along the line.
    u32 col = static_cast<u32>(layer.xStart) >> 16;
    u32 cached = ~0u;
    u32 address = 0;
    u32 lastGroup = ~0u;
    PatternName name;
    u8 key = 0, cc = 0, nameOpen = 0xFF;
    u32 base = 0, nameRow = 0;
    u32 dots[8];

    for (u32 x = 0; x < width;) {
        const u32 c = col & widthMask;
        if constexpr (Mode <= 1) {
            if (runs && (c & 7) == 0 && width - x >= 8) {
                // Whole character rows up to the page's edge.
                ++m_shortcutUses[kCellRows];
                u32 groups = (512 - (c & 511)) >> 3;
                if (groups > (width - x) >> 3)
                    groups = (width - x) >> 3;
                const u32 px = c & planeWidthMask;
                const u32 names = ((px >> 9) << (2 * perRowShift)) | ((px & 511) >> charShift);
                const u32 at = (rowBase[(c >> planeShiftX) & 1] + (names << nameShift)) & vramMask;
                auto run = [&]<bool Char16, bool TwoWord>() {
                    cellRowRun<Mode, Char16, TwoWord>(m_fastPaths.avx2, rowRun, at, c, groups, colorOut + x,
                                                      keyOut + x, ccOut + x, needed ? needed + x : nullptr,
                                                      m_shortcutUses);
                };
                if (layer.charSize16)
                    layer.twoWord ? run.template operator()<true, true>() : run.template operator()<true, false>();
                else
                    layer.twoWord ? run.template operator()<false, true>() : run.template operator()<false, false>();
                x += 8 * groups;
                col += 8 * groups;
                lastGroup = ~0u;
                cached = ~0u;
                continue;
            }
        }
        if ((c >> 3) == lastGroup + 1 && (c & 511) >= 8) {
            // The next 8 dots along a page: the next name, or the same one
            // for the right half of a 16 x 16 character.
            address = (address + ((c & charMask) < 8 ? nameStep : 0)) & vramMask;
        } else {
            const u32 px = c & planeWidthMask;
            const u32 names = ((px >> 9) << (2 * perRowShift)) | ((px & 511) >> charShift);
            address = (rowBase[(c >> planeShiftX) & 1] + (names << nameShift)) & vramMask;
        }
        lastGroup = c >> 3;
        if (address != cached) {
            name = decoder.read(vram, address);
            cached = address;
            nameOpen = banks.open(address);
            key = keys[name.specialPriority];
            cc = conditions[name.specialCc];
            base = paletteBase<Mode>(name.palette) + cramOffset;
            nameRow = name.charAddress + rowOffset[name.vflip];
        }
        const u32 dx = (c & charMask) ^ (name.hflip ? charMask : 0);
        const u32 rowAddress = nameRow + ((dx >> 3) << kCellShift<Mode>);
        const u8 open = nameOpen & banks.open(rowAddress);
        u32 run = 8 - (c & 7);
        if (run > width - x)
            run = width - x;
        if constexpr (Mode == 0) {
            // Eight 4-bit dots in one word, the first in the top nibble.
            const u32 bits = loadBe32(vram + (rowAddress & vramMask & ~3u));
            for (u32 i = 0; i < 8; ++i)
                dots[i] = (bits >> (28 - 4 * i)) & 15;
        } else {
            for (u32 i = 0; i < 8; ++i)
                dots[i] = rowDot<Mode>(vram, vramMask, rowAddress, i);
        }
        u32 d = dx & 7;
        const u32 step = name.hflip ? ~0u : 1u;
        for (u32 k = 0; k < run; ++k, ++x, d += step) {
            const u32 value = dots[d & 7];
            u32 color, opaque;
            if constexpr (Mode == 3) {
                color = rgb555(value);
                opaque = value >> 15;
            } else if constexpr (Mode == 4) {
                color = swapRedBlue(value);
                opaque = value >> 31;
            } else {
                const u32 code = dotCode<Mode>(value);
                color = palette[(base + code) & paletteMask];
                opaque = code != 0;
            }
            u8 dotKey = key;
            u8 dotCc = cc;
            if (priorityMode == 2)
                dotKey = layerKey(dotPriority(2, layerPriority, name.specialPriority, table, value), record);
            if (ccMode >= 2) {
                const u8 msb = Mode >= 3 ? 1 : msbs[(base + dotCode<Mode>(value)) & paletteMask];
                dotCc = dotCcCondition(ccMode, name.specialCc, table, value, msb);
            }
            colorOut[x] = color;
            keyOut[x] = dotKey & static_cast<u8>(-static_cast<u8>(opaque | shown)) & open;
            ccOut[x] = dotCc;
        }
        col += run;
    }
    // The window last, over the whole line.
    if (windowed) {
        for (u32 x = 0; x < width; ++x)
            keyOut[x] &= static_cast<u8>(-pass[x]);
    }
}

namespace {

// What a run of a bitmap row needs; the dots' own priority and condition
// come only from the colour's MSB (condition mode 3).
struct BitmapRun {
    const u32* palette;
    const u8* msbs;
    u32 paletteMask;
    u32 base;  // palette bits and colour RAM offset
    u8 key;    // the layer's key on an opaque dot
    u8 cc;     // the condition of every dot, unless byMsb
    u8 shown;  // transparent dots shown
    bool byMsb;
};

// count dots of a row from src on, the first at dot phase of its byte (4-bit
// dots); the same words for the plain and the AVX2 build.
template <int Mode>
[[gnu::always_inline]] inline void bitmapRunBody(const BitmapRun& r, const u8* __restrict src, u32 phase, u32 count,
                                                 u32* __restrict colorOut, u8* __restrict keyOut,
                                                 u8* __restrict ccOut)
{
    for (u32 i = 0; i < count; ++i) {
        const u32 raw = rowDot<Mode>(src, ~0u, 0, phase + i);
        u32 color, opaque, msb;
        if constexpr (Mode == 3) {
            color = rgb555(raw);
            opaque = raw >> 15;
            msb = 1;
        } else if constexpr (Mode == 4) {
            color = swapRedBlue(raw);
            opaque = raw >> 31;
            msb = 1;
        } else {
            const u32 code = dotCode<Mode>(raw);
            const u32 at = (code + r.base) & r.paletteMask;
            color = r.palette[at];
            opaque = code != 0;
            msb = r.msbs[at];
        }
        colorOut[i] = color;
        keyOut[i] = static_cast<u8>(r.key & (0u - (opaque | r.shown)));
        ccOut[i] = static_cast<u8>(r.byMsb ? msb : r.cc);
    }
}

template <int Mode>
void bitmapRunPlain(const BitmapRun& r, const u8* src, u32 phase, u32 count, u32* colorOut, u8* keyOut, u8* ccOut)
{
    bitmapRunBody<Mode>(r, src, phase, count, colorOut, keyOut, ccOut);
}

#if KEST_X86
// Direct colours eight at a time: their MSB is both the opaque bit and the
// condition by MSB, which is 1 for every direct dot.
template <int Mode>
__attribute__((target("avx2"))) void bitmapRunAvx2(const BitmapRun& r, const u8* src, u32 phase, u32 count,
                                                   u32* colorOut, u8* keyOut, u8* ccOut)
{
    u32 i = 0;
    if constexpr (Mode >= 3) {
        const __m128i swap16 = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
        const __m256i swap32 = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7,
                                                6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
        const u64 shownBytes = r.shown ? 0x0101010101010101ull : 0;
        const u8 cc = r.byMsb ? 1 : r.cc;
        for (; i + 8 <= count; i += 8) {
            Lanes8 raw;
            u32 msbs;
            if constexpr (Mode == 3) {
                raw = _mm256_cvtepu16_epi32(
                    _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i)), swap16));
                msbs = static_cast<u32>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(raw.v, 16))));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(colorOut + i), rgb555(raw).v);
            } else {
                raw = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i)), swap32);
                msbs = static_cast<u32>(_mm256_movemask_ps(_mm256_castsi256_ps(raw.v)));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(colorOut + i), swapRedBlue(raw).v);
            }
            storeBytes8(keyOut + i, (kBitBytes[msbs] | shownBytes) * r.key);
            std::memset(ccOut + i, cc, 8);
        }
    }
    bitmapRunBody<Mode>(r, src + i * (Mode == 4 ? 4 : 2), phase, count - i, colorOut + i, keyOut + i, ccOut + i);
}
#endif

// taken counts the runs the AVX2 loop takes.
template <int Mode>
void bitmapRun(bool avx2, u64& taken, const BitmapRun& r, const u8* src, u32 phase, u32 count, u32* colorOut,
               u8* keyOut, u8* ccOut)
{
#if KEST_X86
    if (avx2) {
        ++taken;
        return bitmapRunAvx2<Mode>(r, src, phase, count, colorOut, keyOut, ccOut);
    }
#endif
    bitmapRunPlain<Mode>(r, src, phase, count, colorOut, keyOut, ccOut);
}

}  // namespace

// A bitmap line at 1:1 without mosaic or vertical cell scroll: one row,
// read in runs up to where it wraps, every dot with the layer's priority.
// False when the line needs the general loop: a special mode that looks at
// each dot's code, or a row that runs off the end of VRAM.
template <int Mode>
bool VDP2::fetchBitmapRow(Layer& layer, const u8* pass)
{
    const u32 priorityMode = layer.specialPriorityMode;
    const u32 ccMode = m_outputs[layer.record].specialMode;
    if (!m_fastPaths.bitmapRows || layer.xStep != 0x10000 || layer.yMode != 0 || priorityMode == 2 || ccMode == 2)
        return false;
    ++m_shortcutUses[kBitmapRows];
    constexpr u32 kBits = Mode == 0 ? 4 : Mode == 1 ? 8 : Mode == 4 ? 32 : 16;
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    const u32 widthMask = layer.bitmapWidthMask;
    const u32 rowStart = layer.rowAddress & m_vramMask;
    if (rowStart + (widthMask + 1) * kBits / 8 > m_vramMask + 1)
        return false;
    LineDots& out = m_dots[layer.record];
    const u32 priority = dotPriority(priorityMode, layer.priority, layer.bitmapSpecialPriority, nullptr, 0);
    const BitmapRun run{m_palette,
                        m_paletteMsb,
                        m_paletteMask,
                        paletteBase<Mode>(layer.bitmapPalette) + layer.cramOffset,
                        static_cast<u8>(layerKey(priority, layer.record) & m_rotationBanks.open(layer.rowAddress)),
                        dotCcCondition(ccMode, layer.bitmapSpecialCc, nullptr, 0, 0),
                        layer.transparentShown,
                        ccMode == 3};
    u32 col = (static_cast<u32>(layer.xStart) >> 16) & widthMask;
    for (u32 x = 0; x < width;) {
        const u32 count = std::min(widthMask + 1 - col, width - x);
        bitmapRun<Mode>(m_fastPaths.avx2, m_shortcutUses[kAvx2BitmapRows], run, m_vram + rowStart + col * kBits / 8,
                        col & (Mode == 0 ? 1 : 0), count, out.color + x, out.key + x, out.cc + x);
        x += count;
        col = 0;
    }
    if (pass != m_passAll) {
        for (u32 x = 0; x < width; ++x)
            out.key[x] &= static_cast<u8>(-pass[x]);
    }
    return true;
}

template <int Mode, bool Bitmap>
void VDP2::fetchNormalLine(Layer& layer, const u8* pass)
{
    if constexpr (!Bitmap) {
        if (layer.xStep == 0x10000 && layer.yMode == 0) {
            fetchCellRuns<Mode>(layer, pass);
            return;
        }
    } else {
        if (fetchBitmapRow<Mode>(layer, pass))
            return;
    }
    LineDots& out = m_dots[layer.record];
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    const u8* vram = m_vram;
    const Palette colors{m_palette, m_paletteMsb, m_paletteMask};
    const u32 vramMask = m_vramMask;
    const u32 widthMask = Bitmap ? layer.bitmapWidthMask : layer.map.widthMask;
    const u32 heightMask = Bitmap ? layer.bitmapHeightMask : layer.map.heightMask;
    const u16* mosaic = layer.yMode == 1 ? m_mosaic[m_mosaicX] : nullptr;
    const u32 charMask = layer.charSize16 ? 15 : 7;
    const u8 record = static_cast<u8>(layer.record);
    const u8* table = m_specialTables[layer.specialSelect];
    const u32 priorityMode = layer.specialPriorityMode;
    const u32 ccMode = m_outputs[layer.record].specialMode;
    const u32 cellScrollBase = m_cellScrollTable + layer.cellScrollSlot * 4;
    const u32 cellScrollStride = layer.cellScrollCount * 4;
    const RotationBanks banks = m_rotationBanks;
    const NameDecoder decoder(layer, vramMask);

    u32 position = static_cast<u32>(layer.xStart);
    u32 row = layer.lineRow;
    u32 rowAddress = layer.rowAddress;
    u32 cached = ~0u;
    PatternName name;
    u8 nameOpen = 0xFF;
    if constexpr (Bitmap) {
        name.palette = layer.bitmapPalette;
        name.specialPriority = layer.bitmapSpecialPriority;
        name.specialCc = layer.bitmapSpecialCc;
    }

    for (u32 x = 0; x < width; ++x) {
        u32 col = (position >> 16) & widthMask;
        position += layer.xStep;
        if (mosaic)
            col = mosaic[col];
        if (layer.yMode == 2 && (x & 7) == 0) {
            const u32 at = cellScrollBase + (x >> 3) * cellScrollStride;
            const s32 entry = scrollEntry(loadBe32(vram + (at & vramMask & ~3u)));
            row = (static_cast<u32>(entry + layer.yPosition) >> 16) & heightMask;
            if constexpr (Bitmap)
                rowAddress = layer.bitmapBase + (row << layer.bitmapRowShift);
        }
        u32 raw;
        u8 open;
        if constexpr (Bitmap) {
            raw = rowDot<Mode>(vram, vramMask, rowAddress, col);
            open = banks.open(rowAddress);
        } else {
            const u32 address = nameAddress(layer.map, layer, col, row);
            if (address != cached) {
                name = decoder.read(vram, address);
                nameOpen = banks.open(address);
                cached = address;
            }
            const u32 dx = (col & charMask) ^ (name.hflip ? charMask : 0);
            const u32 dy = (row & charMask) ^ (name.vflip ? charMask : 0);
            const u32 charRowAddress = charRow<Mode>(name.charAddress, dx, dy);
            raw = rowDot<Mode>(vram, vramMask, charRowAddress, dx & 7);
            open = nameOpen & banks.open(charRowAddress);
        }
        const DotColor dot = resolveDot<Mode>(raw, name.palette, layer.cramOffset, layer.transparentShown, colors);
        const u32 priority = dotPriority(priorityMode, layer.priority, name.specialPriority, table, dot.code);
        const bool visible = dot.opaque & (priority != 0) & pass[x] & open;
        out.color[x] = dot.color;
        out.key[x] = visible ? layerKey(priority, record) : 0;
        out.cc[x] = dotCcCondition(ccMode, name.specialCc, table, dot.code, dot.msb);
    }
}
