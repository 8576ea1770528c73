#pragma once

#include <cstddef>

#include "core/base/types.h"

// Whether the host processor runs AVX2 instructions.
bool hostHasAvx2();

enum ShortcutField : u8;

// The shortcuts the machine takes, each beside the plain path whose results
// it gives faster. The machine owns one record and hands each chip its
// switches; a switch turned off leaves the plain path to run alone, so that
// a picture or a sound can be held against it without editing code.
struct Shortcuts {
    // The fast paths of VDP2's line loops.
    struct Vdp2 {
        bool avx2 = hostHasAvx2();     // eight dots at a time
        bool packedCompositor = true;  // one pass over the common line
        bool rotationLines = true;     // the one-set and two-set loops of rotation lines over wrapping cell maps
        bool hiddenLayers = true;      // layers whose every dot has priority 0 or is outside the window go unfetched
        bool bitmapRows = true;        // bitmap lines at 1:1 read as runs along their row
        bool cellRows = true;          // cell lines at 1:1 read as runs of whole character rows
        bool coveredGroups = true;     // those runs leave out the 8-dot groups that nearer layers cover
    };

    bool waitLoops = true;       // an SH-2 on a settled waiting loop runs its slice out at once
    bool idleUnits = true;       // SCU DMA, the DSP and VDP1 leave out their slices while idle
    bool dmaBlocks = true;       // SCU DMA copies aligned runs between plain memories in blocks
    bool vdp1Primitives = true;  // VDP1 cuts and tests per pixel only the primitives that need it
    Vdp2 vdp2;
    bool soundIdleLoops = true;  // the 68000's branch to itself runs to the slice's end at once
    bool silentSlots = true;     // the SCSP moves a silent slot's LFO only when something looks at it

    // Every shortcut off.
    static Shortcuts plain();
    // The switch that turns a count's path off (see below).
    bool on(ShortcutField field) const;
};

// Each count once: its index, the switch that turns its path off and its
// name. A switch that steers several paths has a count for each, named
// after the switch and the path, so that one path the switch stops reaching
// shows as a count of 0.
#define KEST_SHORTCUT_FIELDS(X)                                                  \
    X(kWaitLoops, waitLoops, "waitLoops")                                        \
    X(kIdleUnits, idleUnits, "idleUnits")                                        \
    X(kDmaBlocks, dmaBlocks, "dmaBlocks")                                        \
    X(kVdp1QuadsInside, vdp1Primitives, "vdp1Primitives.quadsInside")            \
    X(kVdp1QuadsClear, vdp1Primitives, "vdp1Primitives.quadsClear")              \
    X(kVdp1SlantsOutside, vdp1Primitives, "vdp1Primitives.slantsOutside")        \
    X(kVdp1RowsClear, vdp1Primitives, "vdp1Primitives.rowsClear")                \
    X(kVdp1RowsPlain, vdp1Primitives, "vdp1Primitives.rowsPlain")                \
    X(kVdp1SlantsByKind, vdp1Primitives, "vdp1Primitives.slantsByKind")          \
    X(kVdp1SlantsClear, vdp1Primitives, "vdp1Primitives.slantsClear")            \
    X(kVdp1TexelRows, vdp1Primitives, "vdp1Primitives.texelRows")                \
    X(kAvx2SpriteSplit, vdp2.avx2, "vdp2.avx2.spriteSplit")                      \
    X(kAvx2SpriteColors, vdp2.avx2, "vdp2.avx2.spriteColors")                    \
    X(kAvx2DirectColors, vdp2.avx2, "vdp2.avx2.directColors")                    \
    X(kAvx2CoverCounts, vdp2.avx2, "vdp2.avx2.coverCounts")                      \
    X(kAvx2Compositor, vdp2.avx2, "vdp2.avx2.compositor")                        \
    X(kAvx2SteadyDots, vdp2.avx2, "vdp2.avx2.steadyDots")                        \
    X(kAvx2CoefficientDots, vdp2.avx2, "vdp2.avx2.coefficientDots")              \
    X(kAvx2TwoSetDots, vdp2.avx2, "vdp2.avx2.twoSetDots")                        \
    X(kAvx2CellNames, vdp2.avx2, "vdp2.avx2.cellNames")                          \
    X(kAvx2CellRows, vdp2.avx2, "vdp2.avx2.cellRows")                            \
    X(kAvx2BitmapRows, vdp2.avx2, "vdp2.avx2.bitmapRows")                        \
    X(kPackedCompositor, vdp2.packedCompositor, "vdp2.packedCompositor")         \
    X(kRotationLines, vdp2.rotationLines, "vdp2.rotationLines")                  \
    X(kHiddenLayers, vdp2.hiddenLayers, "vdp2.hiddenLayers.layers")              \
    X(kHiddenLines, vdp2.hiddenLayers, "vdp2.hiddenLayers.windowLines")          \
    X(kHiddenSpriteColors, vdp2.hiddenLayers, "vdp2.hiddenLayers.spriteColors")  \
    X(kBitmapRows, vdp2.bitmapRows, "vdp2.bitmapRows")                           \
    X(kCellRows, vdp2.cellRows, "vdp2.cellRows")                                 \
    X(kCoveredGroups, vdp2.coveredGroups, "vdp2.coveredGroups")                  \
    X(kSoundIdleLoops, soundIdleLoops, "soundIdleLoops")                         \
    X(kSilentSlots, silentSlots, "silentSlots")

#define KEST_SHORTCUT_INDEX(index, field, name) index,
enum ShortcutField : u8 { KEST_SHORTCUT_FIELDS(KEST_SHORTCUT_INDEX) kShortcutFields };
#undef KEST_SHORTCUT_INDEX

// Every switch has a count: the record holds nothing but one-byte switches,
// so each of its bytes must be some count's switch.
constexpr bool everySwitchCounted()
{
    bool counted[sizeof(Shortcuts)] = {};
#define KEST_SHORTCUT_COUNTED(index, field, name) counted[offsetof(Shortcuts, field)] = true;
    KEST_SHORTCUT_FIELDS(KEST_SHORTCUT_COUNTED)
#undef KEST_SHORTCUT_COUNTED
    for (bool c : counted) {
        if (!c)
            return false;
    }
    return true;
}
static_assert(everySwitchCounted());

// How often each shortcut was taken: slices, lines, primitives or blocks,
// as each counts where it is taken. A count that stays 0 with its switch
// on, or grows with it off, shows a switch that does not reach its path.
struct ShortcutUses {
    u64 count[kShortcutFields] = {};

    u64& operator[](ShortcutField field) { return count[field]; }
    u64 operator[](ShortcutField field) const { return count[field]; }
    ShortcutUses& operator+=(const ShortcutUses& other);
    // The count's name: its switch's field in the record ("vdp2.cellRows"),
    // and its path where the switch steers several ("vdp2.avx2.cellRows").
    static const char* name(ShortcutField field);
};
