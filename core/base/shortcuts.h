#pragma once

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
    // The switch of a field by its index (see below).
    bool on(ShortcutField field) const;
};

// Each field of Shortcuts once, in the record's order: the index of its
// count and its name.
#define KEST_SHORTCUT_FIELDS(X)                      \
    X(kWaitLoops, waitLoops)                         \
    X(kIdleUnits, idleUnits)                         \
    X(kDmaBlocks, dmaBlocks)                         \
    X(kVdp1Primitives, vdp1Primitives)               \
    X(kVdp2Avx2, vdp2.avx2)                          \
    X(kPackedCompositor, vdp2.packedCompositor)      \
    X(kRotationLines, vdp2.rotationLines)            \
    X(kHiddenLayers, vdp2.hiddenLayers)              \
    X(kBitmapRows, vdp2.bitmapRows)                  \
    X(kCellRows, vdp2.cellRows)                      \
    X(kCoveredGroups, vdp2.coveredGroups)            \
    X(kSoundIdleLoops, soundIdleLoops)               \
    X(kSilentSlots, silentSlots)

#define KEST_SHORTCUT_INDEX(index, field) index,
enum ShortcutField : u8 { KEST_SHORTCUT_FIELDS(KEST_SHORTCUT_INDEX) kShortcutFields };
#undef KEST_SHORTCUT_INDEX
// Every switch is listed (the record holds nothing but them).
static_assert(sizeof(Shortcuts) == kShortcutFields);

// How often each shortcut was taken: slices, lines, primitives or blocks,
// as each counts where it is taken. A count that stays 0 with its switch
// on, or grows with it off, shows a switch that does not reach its path.
struct ShortcutUses {
    u64 count[kShortcutFields] = {};

    u64& operator[](ShortcutField field) { return count[field]; }
    u64 operator[](ShortcutField field) const { return count[field]; }
    ShortcutUses& operator+=(const ShortcutUses& other);
    // The field's name in the record ("vdp2.cellRows").
    static const char* name(ShortcutField field);
};
