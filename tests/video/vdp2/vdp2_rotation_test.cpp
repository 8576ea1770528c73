// Rotation layers over varied scenes: perspective floors with per-line and
// per-dot coefficients, every parameter mode, screen-over mode, colour mode
// and RBG1. The checksums come from the plain per-dot transform: a faster
// computation must leave every dot as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <utility>

#include "core/base/types.h"
#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_scene.h"
#include "video/vdp2/vdp2_simd.h"

namespace {

constexpr u32 kTable = 0x7FE00;  // parameter sets A (+0) and B (+0x80)

u32 fixedField(double value, int fraction, int width, int shift)
{
    const s64 raw = std::llround(value * static_cast<double>(1 << fraction));
    return static_cast<u32>((raw & ((s64{1} << width) - 1)) << shift);
}

// One parameter set: a view turned by angle around the screen centre, tilted
// by pitch (C and F), with its coefficient table read from KAst on.
struct ParameterSet {
    double angle = 0, pitch = 0, scale = 1.0, dxst = 0, dyst = 1.0;
    double kast = 0, dkast = 1.0, dkax = 0;
    s32 mx = 0, my = 0;

    void write(u8* vram, u32 at) const
    {
        const double c = std::cos(angle), s = std::sin(angle);
        // Xst, Yst, Zst, DXst, DYst, DX, DY, then A-F.
        const double starts[7] = {0, 0, 0, dxst, dyst, 1.0, 0};
        for (u32 i = 0; i < 7; ++i)
            storeBe32(vram + at + 4 * i, fixedField(starts[i], 10, i < 3 ? 23 : 13, 6));
        const double matrix[6] = {c, -s, pitch, s, c, -pitch};
        for (u32 i = 0; i < 6; ++i)
            storeBe32(vram + at + 0x1C + 4 * i, fixedField(matrix[i], 10, 14, 6));
        const u16 points[6] = {160, 112, 200, 160, 112, 0};  // Px, Py, Pz, Cx, Cy, Cz
        for (u32 i = 0; i < 6; ++i)
            storeBe16(vram + at + 0x34 + 2 * i + (i >= 3 ? 2 : 0), points[i]);
        storeBe32(vram + at + 0x44, fixedField(mx, 10, 24, 6));
        storeBe32(vram + at + 0x48, fixedField(my, 10, 24, 6));
        storeBe32(vram + at + 0x4C, fixedField(scale, 16, 24, 0));
        storeBe32(vram + at + 0x50, fixedField(scale, 16, 24, 0));
        storeBe32(vram + at + 0x54, fixedField(kast, 10, 26, 6));
        storeBe32(vram + at + 0x58, fixedField(dkast, 10, 20, 6));
        storeBe32(vram + at + 0x5C, fixedField(dkax, 10, 20, 6));
    }
};

// A coefficient table of a perspective floor: lines above the horizon are
// transparent, below it the scale shrinks with the distance.
void writeFloor(u8* memory, u32 base, u32 entries, bool oneWord)
{
    for (u32 i = 0; i < entries; ++i) {
        const double depth = 0.25 + 48.0 / (static_cast<double>(i % 240) + 8.0);
        const bool sky = i % 240 < 24;
        if (oneWord)
            storeBe16(memory + base + 2 * i, static_cast<u16>(fixedField(depth, 10, 15, 0) | (sky ? 0x8000 : 0)));
        else
            storeBe32(memory + base + 4 * i,
                      fixedField(depth, 16, 24, 0) | ((i * 5) & 0x7F) << 24 | (sky ? 0x80000000u : 0));
    }
}

struct RotationCase {
    const char* name;
    u16 tvmd, bgon, chctla, chctlb, rpmd, rprctl, ktctl, ktaof, plsz, ramctl, mzctl, wctld;
    ParameterSet a, b;
    u64 checksum;
};

// Draws two fields of the case over random memories and returns a checksum
// of both pictures; 'colours' counts the distinct dots seen.
u64 drawCase(const RotationCase& c, std::size_t& colours, bool avx2 = hostHasAvx2())
{
    Vdp2Scene s;
    s.setFastPaths({avx2});
    s.randomMemories(0xC0FFEE);
    u8* vram = s.vram();
    c.a.write(vram, kTable);
    c.b.write(vram, kTable + 0x80);
    // Coefficient tables: VRAM bank by KTAOF for either data size, and the
    // upper half of colour RAM.
    writeFloor(vram, 0x40000, 0x800, false);
    writeFloor(vram, 0x20000, 0x1000, true);
    writeFloor(s.cram() + 0x800, 0, 0x200, false);

    // Two-word names with the 2 x 2 characters, one-word names with 1 x 1;
    // line-colour insertion where the coefficients carry line colours.
    const u16 lineColors = (c.ktctl & 0x0010) ? 0x0010 : 0;
    const std::pair<u32, u16> registers[] = {
        {VDP2::TVMD, c.tvmd}, {VDP2::RAMCTL, c.ramctl}, {VDP2::BGON, c.bgon}, {VDP2::CHCTLA, c.chctla},
        {VDP2::CHCTLB, c.chctlb}, {VDP2::PNCR, static_cast<u16>((c.chctlb & 0x0100) ? 0x0000 : 0x8003)},
        {VDP2::PLSZ, c.plsz}, {VDP2::MPOFR, 0x0012}, {VDP2::OVPNRA, 0x1234}, {VDP2::OVPNRB, 0x2345},
        {VDP2::RPTAU, kTable >> 17}, {VDP2::RPTAL, (kTable >> 1) & 0xFFBE}, {VDP2::RPMD, c.rpmd},
        {VDP2::RPRCTL, c.rprctl}, {VDP2::KTCTL, c.ktctl}, {VDP2::KTAOF, c.ktaof}, {VDP2::MZCTL, c.mzctl},
        {VDP2::LNCLEN, lineColors}, {VDP2::CCCTL, lineColors}, {VDP2::CCRR, 9}, {VDP2::PRIR, 5},
        {VDP2::PRINA, 4}, {VDP2::LCTAU, 0x8003}, {VDP2::LCTAL, 0x8000}, {VDP2::WPSX0, 100},
        {VDP2::WPEX0, 500}, {VDP2::WPSY0, 30}, {VDP2::WPEY0, 150}, {VDP2::WPSX1, 300}, {VDP2::WPEX1, 620},
        {VDP2::WPEY1, 200}, {VDP2::WCTLD, c.wctld}};
    for (const auto& [offset, value] : registers)
        s.reg(offset, value);
    for (u32 i = 0; i < 8; ++i) {
        s.reg(VDP2::MPABRA + 2 * i, static_cast<u16>(0x0100 * (2 * i + 9) + 2 * i + 8));
        s.reg(VDP2::MPABRB + 2 * i, static_cast<u16>(0x0100 * (2 * i + 1) + 2 * i + 30));
    }

    u64 hash = 0xCBF29CE484222325ull;
    std::set<u32> seen;
    for (int field = 0; field < 2; ++field) {
        std::fill(s.canvas.begin(), s.canvas.end(), 0xFF000000u);
        s.runField();
        const DisplaySize size = s.sys->vdp2().getDisplaySize();
        for (u32 y = 0; y < size.height; ++y) {
            for (u32 x = 0; x < size.width; ++x) {
                for (u32 b = 0; b < 32; b += 8)  // FNV-1a over the dot's bytes
                    hash = (hash ^ ((s.pixel(x, y) >> b) & 0xFF)) * 0x100000001B3ull;
                seen.insert(s.pixel(x, y));
            }
        }
        // The second field starts from another view.
        ParameterSet moved = c.a;
        moved.angle += 0.3;
        moved.mx += 37;
        moved.write(vram, kTable);
    }
    colours = seen.size();
    return hash;
}

const RotationCase kCases[] = {
    // name, TVMD, BGON, CHCTLA, CHCTLB, RPMD, RPRCTL, KTCTL, KTAOF, PLSZ, RAMCTL, MZCTL, WCTLD
    {"plain_turn", 0x8000, 0x0010, 0, 0x0000, 0, 0, 0, 0, 0x0000, 0, 0, 0, {0.5, 0, 1.0}, {},
     0x66c8362df4e9d1edull},
    {"floor_per_line", 0x8000, 0x0010, 0, 0x1100, 0, 0, 0x0001, 1, 0x0200, 0, 0, 0, {0.2, 0.4, 1.0}, {},
     0xdf5be51462894565ull},
    {"floor_per_dot_one_word", 0x8000, 0x0010, 0, 0x2000, 0, 0, 0x0007, 1, 0x0500, 0, 0, 0,
     {-0.7, 0.3, 1.0, 0, 1.0, 0, 1.0, 0.37}, {}, 0x64156f996e3998fdull},
    {"floor_ky_reread", 0x8000, 0x0010, 0, 0x1000, 0, 0x0007, 0x0009, 1, 0x0B00, 0, 0, 0,
     {1.1, 0.2, 0.75, 0.25, 0.5, 30.0, 1.0, 0.05}, {}, 0xb4f5c97a7cd0b325ull},
    {"xp_over_512", 0x8000, 0x0010, 0, 0x2100, 0, 0, 0x000D, 1, 0x0F00, 0, 0, 0,
     {0.1, 0, 1.0, 0, 1.0, 0, 1.0, 0}, {}, 0x633c229c6e8f91cdull},
    {"bitmap_rgb", 0x8000, 0x0010, 0, 0x3600, 0, 0, 0x0001, 1, 0x0000, 0, 0, 0, {2.0, 0.1, 1.5}, {},
     0x2570b6905d4b2925ull},
    {"switch_by_coefficient_line_colour", 0x8000, 0x0010, 0, 0x4000, 2, 0, 0x0111, 1, 0x8400, 0x8000, 0, 0,
     {0.4, 0.5, 1.0, 0, 1.0, 0, 1.0, 0.6}, {-0.4, -0.2, 2.0, 0, 1.0, 0, 1.0, 0}, 0x2df22de1b3147164ull},
    {"switch_by_window_mosaic", 0x8000, 0x0010, 0, 0x1100, 3, 0, 0x0101, 1, 0x0000, 0, 0x3310, 0x008E,
     {0.9, 0.1, 1.0}, {-0.9, 0, 0.5}, 0xfa6fc2895b636645ull},
    {"rbg1_with_rbg0", 0x8000, 0x0030, 0x0010, 0x0000, 0, 0, 0x0100, 0x0100, 0x1000, 0, 0, 0,
     {0.3, 0, 1.0}, {-0.6, 0.35, 1.0, 0, 1.0, 0, 1.0, 0}, 0x6f322b8ce1b8899dull},
    // One set with per-line coefficients: the whole line from one entry.
    {"per_line_line_colour", 0x8000, 0x0010, 0, 0x0000, 0, 0, 0x0011, 1, 0x0000, 0x8000, 0, 0,
     {-0.3, 0.45, 1.0, 0, 1.0, 0, 1.0, 0}, {}, 0xb0ac8a2bea9e4580ull},
    {"per_line_word_coefficients_16x16", 0x8000, 0x0010, 0, 0x0100, 0, 0x0004, 0x0003, 1, 0x0100, 0, 0, 0,
     {0.8, 0.35, 1.25, 0, 1.0, 30.0, 1.0, 0}, {}, 0xef6fc16e82271695ull},
    // One set with a coefficient a few dots: the sums formed anew where it changes.
    {"per_dot_line_colour", 0x8000, 0x0010, 0, 0x0000, 0, 0, 0x0011, 1, 0x0000, 0x8000, 0, 0,
     {0.6, 0.3, 1.0, 0, 1.0, 2.0, 1.0, 0.3}, {}, 0x8353bb608b2a87eaull},
    {"per_dot_xp_16x16", 0x8000, 0x0010, 0, 0x1100, 0, 0, 0x000F, 1, 0x0000, 0, 0, 0,
     {-0.2, 0.1, 1.0, 0, 1.0, 40.0, 0.5, 0.2}, {}, 0xc1f56a09bd66b4cdull},
    {"high_resolution", 0x8002, 0x0010, 0, 0x1000, 0, 0, 0x0001, 1, 0x0000, 0, 0, 0,
     {0.25, 0.3, 1.0, 0, 1.0, 0, 1.0, 0.5}, {}, 0x367bf0f79eb09ab5ull},
};

class Vdp2RotationExactTest : public ::testing::TestWithParam<RotationCase> {};

TEST_P(Vdp2RotationExactTest, DrawsEveryDotAsBefore)
{
    const RotationCase& c = GetParam();
    std::size_t colours = 0;
    const u64 hash = drawCase(c, colours);
    // A scene that draws next to nothing would pass whatever the layer did.
    EXPECT_GT(colours, 200u) << c.name;
    EXPECT_EQ(hash, c.checksum) << c.name << std::hex << ": 0x" << hash;
}

// Without AVX2 the plain loops must draw the same dots.
TEST_P(Vdp2RotationExactTest, DrawsTheSameWithoutAvx2)
{
    const RotationCase& c = GetParam();
    std::size_t colours = 0;
    const u64 hash = drawCase(c, colours, false);
    EXPECT_EQ(hash, c.checksum) << c.name << std::hex << ": 0x" << hash;
}

// One-set lines over random maps, names and registers: the AVX2 loop draws
// every dot as the plain loop does, over each map geometry and name form.
TEST(Vdp2RotationAvx2, DrawsWhatThePlainLoopDraws)
{
    if (!hostHasAvx2())
        GTEST_SKIP() << "no AVX2 on this host";
    std::mt19937 random(31);
    auto pick = [&](u32 count) { return static_cast<u32>(random() % count); };
    for (int round = 0; round < 16; ++round) {
        Vdp2Scene s;
        s.randomMemories(static_cast<u32>(round) * 977 + 5);
        ParameterSet set{(pick(628) - 314) / 100.0, (pick(80) - 40) / 100.0, 0.3 + pick(300) / 100.0};
        set.mx = static_cast<s32>(pick(4096));
        set.my = static_cast<s32>(pick(4096));
        set.write(s.vram(), kTable);
        writeFloor(s.vram(), 0x40000, 0x800, false);
        const std::pair<u32, u16> registers[] = {
            {VDP2::TVMD, 0x8000},
            {VDP2::BGON, static_cast<u16>(0x0010 | (pick(2) << 12))},  // transparent dots shown or not
            {VDP2::CHCTLB, static_cast<u16>((pick(2) << 12) | (pick(2) << 8))},
            {VDP2::PNCR, static_cast<u16>(random() & 0xC3FF)},
            {VDP2::PLSZ, static_cast<u16>(pick(4) << 8)},
            {VDP2::MPOFR, static_cast<u16>(pick(8))},
            {VDP2::RAMCTL, static_cast<u16>(pick(3) << 12)},
            {VDP2::CRAOFB, static_cast<u16>(pick(8))},
            {VDP2::KTCTL, static_cast<u16>(pick(2))},
            {VDP2::KTAOF, 1},
            {VDP2::RPTAU, kTable >> 17},
            {VDP2::RPTAL, (kTable >> 1) & 0xFFBE},
            {VDP2::PRIR, 5},
            {VDP2::WPSX0, static_cast<u16>(pick(640))},
            {VDP2::WPEX0, 600},
            {VDP2::WPEY0, 200},
            {VDP2::WCTLD, static_cast<u16>(pick(2) ? 0x0002 : 0)}};
        for (const auto& [offset, value] : registers)
            s.reg(offset, value);
        for (u32 i = 0; i < 8; ++i)
            s.reg(VDP2::MPABRA + 2 * i, static_cast<u16>(random()));

        auto draw = [&](bool avx2) {
            s.setFastPaths({avx2});
            std::fill(s.canvas.begin(), s.canvas.end(), 0xFF000000u);
            s.runField();
            return s.canvas;
        };
        const std::vector<u32> plain = draw(false);
        const std::vector<u32> fast = draw(true);
        const std::set<u32> seen(plain.begin(), plain.end());
        EXPECT_GT(seen.size(), 16u) << "round " << round;
        EXPECT_TRUE(plain == fast) << "round " << round;
    }
}

// Lines of both parameter sets, switched by set A's coefficients or by the
// rotation window, over random memories and modes: their own loop draws
// every dot as the general rotation loop does.
TEST(Vdp2RotationTwoSets, DrawWhatTheGeneralLoopDraws)
{
    std::mt19937 random(53);
    auto pick = [&](u32 count) { return static_cast<u32>(random() % count); };
    auto bits = [&](u32 mask) { return static_cast<u16>(random() & mask); };
    for (int round = 0; round < 4; ++round) {
        Vdp2Scene s;
        s.randomMemories(static_cast<u32>(round) * 131 + 7);
        for (const u32 table : {kTable, kTable + 0x80}) {
            ParameterSet set{(pick(628) - 314) / 100.0, (pick(80) - 40) / 100.0, 0.3 + pick(300) / 100.0};
            set.mx = static_cast<s32>(pick(4096));
            set.my = static_cast<s32>(pick(4096));
            set.dkax = pick(2) ? pick(100) / 100.0 : 0;
            set.write(s.vram(), table);
        }
        writeFloor(s.vram(), 0x40000, 0x800, false);
        writeFloor(s.vram(), 0x20000, 0x1000, true);
        writeFloor(s.cram() + 0x800, 0, 0x200, false);
        // Set A always takes coefficients (the switch by them needs it);
        // SFPRMD mode 3 would hide every dot; line colours are inserted.
        const std::pair<u32, u16> registers[] = {{VDP2::TVMD, 0x8000},
            {VDP2::BGON, static_cast<u16>(0x0010 | (pick(2) << 12))},
            {VDP2::CHCTLB, static_cast<u16>((pick(5) << 12) | (pick(2) << 8))}, {VDP2::PNCR, bits(0xC3FF)},
            {VDP2::PLSZ, bits(0x3300)}, {VDP2::MPOFR, bits(0x0077)},
            {VDP2::RAMCTL, static_cast<u16>(bits(0x8000) | (pick(3) << 12))},
            {VDP2::RPMD, static_cast<u16>(2 + pick(2))}, {VDP2::KTCTL, static_cast<u16>(0x0001 | bits(0x1F1E))},
            {VDP2::KTAOF, 0x0101}, {VDP2::RPTAU, kTable >> 17}, {VDP2::RPTAL, (kTable >> 1) & 0xFFBE},
            {VDP2::PRIR, 5}, {VDP2::SFPRMD, static_cast<u16>(pick(3) << 8)}, {VDP2::SFCCMD, bits(0x0300)},
            {VDP2::SFCODE, bits(0xFFFF)}, {VDP2::LCTAU, 0x8003}, {VDP2::LCTAL, 0x8000}, {VDP2::LNCLEN, 0x0010},
            {VDP2::CCCTL, 0x0010}, {VDP2::CCRR, 9}, {VDP2::WPSX0, static_cast<u16>(pick(640))},
            {VDP2::WPEX0, static_cast<u16>(pick(640))}, {VDP2::WPEY0, 200},
            {VDP2::WPSX1, static_cast<u16>(pick(640))}, {VDP2::WPEX1, 620},
            {VDP2::WPEY1, static_cast<u16>(pick(224))}, {VDP2::WCTLD, bits(0x008F)}};
        for (const auto& [offset, value] : registers)
            s.reg(offset, value);
        for (u32 i = 0; i < 8; ++i) {
            s.reg(VDP2::MPABRA + 2 * i, bits(0xFFFF));
            s.reg(VDP2::MPABRB + 2 * i, bits(0xFFFF));
        }
        auto draw = [&](bool loops) {
            s.setFastPaths({hostHasAvx2(), true, loops});
            std::fill(s.canvas.begin(), s.canvas.end(), 0xFF000000u);
            s.runField();
            return s.canvas;
        };
        const std::vector<u32> general = draw(false);
        const std::vector<u32> own = draw(true);
        EXPECT_GT(std::set<u32>(general.begin(), general.end()).size(), 16u) << "round " << round;
        EXPECT_TRUE(general == own) << "round " << round;
    }
}

// Lines whose coefficients change along them, of one set or of both, over
// every coefficient mode, data size and place, every colour mode, and maps
// from far away to magnified (where eight dots share cells, some of them
// flipped or at the very end of VRAM): the AVX2 loops draw what the plain
// loops and the general rotation loop draw.
TEST(Vdp2RotationAvx2, PerDotCoefficientsDrawWhatThePlainLoopsDraw)
{
    if (!hostHasAvx2())
        GTEST_SKIP() << "no AVX2 on this host";
    std::mt19937 random(71);
    auto pick = [&](u32 count) { return static_cast<u32>(random() % count); };
    auto bits = [&](u32 mask) { return static_cast<u16>(random() & mask); };
    for (u32 round = 0; round < 12; ++round) {
        Vdp2Scene s;
        s.randomMemories(round * 313 + 11);
        for (const u32 table : {kTable, kTable + 0x80}) {
            ParameterSet set{(pick(628) - 314) / 100.0, (pick(80) - 40) / 100.0, 0.15 + pick(250) / 100.0};
            set.mx = static_cast<s32>(pick(4096));
            set.my = static_cast<s32>(pick(4096));
            // Even rounds mostly keep one entry for eight dots.
            set.dkax = round % 6 == 5 ? 0 : (1 + pick(round % 2 ? 120 : 10)) / 100.0;
            // Set B's sky elsewhere than set A's.
            set.kast = table == kTable ? 0 : 120;
            set.write(s.vram(), table);
        }
        writeFloor(s.vram(), 0x40000, 0x800, false);
        writeFloor(s.vram(), 0x20000, 0x1000, true);
        writeFloor(s.cram() + 0x800, 0, 0x200, false);
        // Some two-word names at the last character of VRAM, flipped or not.
        for (u32 i = 0; i < 0x20000; i += 4 * (1 + pick(64))) {
            storeBe32(s.vram() + i, 0x00003FFFu | (random() & 0xC0000000u));
            storeBe32(s.vram() + 0x60000 + i, 0x00003FFFu | (random() & 0xC0000000u));
        }
        // The sets' coefficient modes, sizes and places go round; one round
        // in six keeps them per line.
        const u32 modeA = (round / 4 + round) % 4, modeB = (round / 4 + round + 1) % 4;
        const u16 ktctl = static_cast<u16>(0x0001 | modeA << 2 | (round / 4 % 2) << 1 | modeB << 10 | bits(0x1310));
        const std::pair<u32, u16> registers[] = {{VDP2::TVMD, 0x8000},
            {VDP2::BGON, static_cast<u16>(0x0010 | (pick(2) << 12))},
            {VDP2::CHCTLB, static_cast<u16>((round % 5) << 12 | (pick(2) << 8))}, {VDP2::PNCR, static_cast<u16>(bits(0x43FF) | (round % 2) << 15)},
            {VDP2::PLSZ, bits(0x3300)},
            {VDP2::RAMCTL, static_cast<u16>((round % 3 == 2 ? 0x8000 : 0) | (pick(3) << 12))},
            {VDP2::RPMD, static_cast<u16>(round % 4)}, {VDP2::KTCTL, ktctl}, {VDP2::KTAOF, 0x0101},
            {VDP2::RPTAU, kTable >> 17}, {VDP2::RPTAL, (kTable >> 1) & 0xFFBE}, {VDP2::PRIR, 5},
            {VDP2::CRAOFB, bits(0x0007)}, {VDP2::LCTAU, 0x8003}, {VDP2::LCTAL, 0x8000}, {VDP2::LNCLEN, 0x0010},
            {VDP2::CCCTL, 0x0010}, {VDP2::CCRR, 9}, {VDP2::WPSX0, static_cast<u16>(pick(640))},
            {VDP2::WPEX0, static_cast<u16>(pick(640))},
            {VDP2::WPEY0, 200}, {VDP2::WCTLD, 0x0003}};
        for (const auto& [offset, value] : registers)
            s.reg(offset, value);
        for (u32 i = 0; i < 8; ++i) {
            s.reg(VDP2::MPABRA + 2 * i, bits(0x3F3F));
            s.reg(VDP2::MPABRB + 2 * i, bits(0x3F3F));
        }
        auto draw = [&](bool avx2, bool loops) {
            s.setFastPaths({avx2, true, loops});
            std::fill(s.canvas.begin(), s.canvas.end(), 0xFF000000u);
            s.runField();
            return s.canvas;
        };
        const std::vector<u32> fast = draw(true, true);
        const std::vector<u32> plain = draw(false, true);
        const std::vector<u32> general = draw(false, false);
        EXPECT_GT(std::set<u32>(general.begin(), general.end()).size(), 100u) << "round " << round;
        EXPECT_TRUE(fast == plain) << "round " << round << ": AVX2 loops";
        EXPECT_TRUE(fast == general) << "round " << round << ": rotation loops";
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, Vdp2RotationExactTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
