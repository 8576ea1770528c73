#pragma once

#include "core/base/types.h"

// State shared by the host and the machine. All of it lives on the
// emulation thread.

// Machine loop and debugger flags.
extern u8 debugBreak;    // a breakpoint, a step's end or the user's pause; the slice loop returns at once
extern u8 sliceResume;   // the next pass continues the slice a break interrupted
extern u8 debugStopped;  // a pass was left for a break; the host refreshes the debugger and clears it
extern s32 currentScanline;

// Two active-low bytes in the standard pad's layout: byte 0 bits 7-0 Right,
// Left, Down, Up, Start, A, C, B; byte 1 bits 7-3 R, X, Y, Z, L.
extern u8 hostPadState[2];

// The picture the host provides: 0x00RRGGBB pixels, pitch in pixels.
struct HostCanvas {
    u32* pixels = nullptr;
    u32 pitch = 0;
};
extern HostCanvas hostCanvas;

// One switch per layer: NBG0, NBG1, NBG2, NBG3, RBG0, RBG1, EXBG, BACK, sprite.
constexpr int kLayerSwitches = 9;
constexpr int kSpriteLayerSwitch = 8;
extern u8 layerDebugSwitches[kLayerSwitches];

extern u8 videoDebugMode;
extern u8 soundTestInterrupt;
