#pragma once

// Whether the host processor runs AVX2 instructions.
bool hostHasAvx2();

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
    };

    bool waitLoops = true;       // an SH-2 on a settled waiting loop runs its slice out at once
    bool idleUnits = true;       // SCU DMA, the DSP and VDP1 leave out their slices while idle
    bool vdp1Primitives = true;  // VDP1 cuts and tests per pixel only the primitives that need it
    Vdp2 vdp2;
    bool soundIdleLoops = true;  // the 68000's branch to itself runs to the slice's end at once
    bool silentSlots = true;     // the SCSP moves a silent slot's LFO only when something looks at it

    // Every shortcut off.
    static Shortcuts plain();
};
