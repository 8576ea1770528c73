#pragma once

#include "core/base/types.h"

// What Device::readExternalInput fills in for kind 1, the external video
// input: width x height dots of 0x00RRGGBB, row after row. The answering
// device owns the buffer and keeps it at one address for the machine's life.
struct ExternalFrame {
    u32 width;
    u32 height;
    const u32* pixels;
};
