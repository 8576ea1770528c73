#pragma once

#include "core/base/types.h"

// The emulated picture's size in dots, as VDP2 reports it to the host.
struct DisplaySize {
    u32 width = 0;
    u32 height = 0;
};
