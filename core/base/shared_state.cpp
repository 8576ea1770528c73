#include "core/base/shared_state.h"

u8 debugBreak = 0;
u8 sliceResume = 0;
u8 debugStopped = 0;
s32 currentScanline = 0;
u8 hostPadState[2] = {0xFF, 0xFF};
HostCanvas hostCanvas;
u8 layerDebugSwitches[kLayerSwitches] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
u8 videoDebugMode = 0;
u8 soundTestInterrupt = 0;
