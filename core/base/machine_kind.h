#pragma once

#include "core/base/types.h"

// What the open road set the machine up as.
enum MachineKind : s32 { kConsole = 0, kArcade = 1, kUnsupported = -1 };

// The system clock, and the faster one of the SMPC's clock change.
constexpr u32 kSystemClockHz = 53693181;
constexpr u32 kFastSystemClockHz = 57272727;
