#pragma once

#include <string>

#include "core/base/types.h"

// Carries MMC commands to a host CD drive. The platform layer provides the
// real one; tests provide their own.
class ScsiTransport {
public:
    virtual ~ScsiTransport() = default;

    virtual bool open(const std::string& device) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Runs one command that reads data: at most length bytes into data,
    // transferred set to the bytes the drive actually sent. False when the
    // command failed; lastError then says why.
    virtual bool execute(const u8* cdb, u32 cdbLength, u8* data, u32 length, u32 timeoutSeconds,
                         u32& transferred) = 0;
    virtual std::string lastError() const = 0;
};
