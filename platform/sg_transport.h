#pragma once

#include <string>
#include <vector>

#include "cd/media/scsi_transport.h"

// MMC commands to a Linux CD drive through the SG_IO request.
class SgTransport : public ScsiTransport {
public:
    SgTransport() = default;
    ~SgTransport() override { close(); }

    bool open(const std::string& device) override;
    void close() override;
    bool isOpen() const override { return m_fd >= 0; }
    bool execute(const u8* cdb, u32 cdbLength, u8* data, u32 length, u32 timeoutSeconds, u32& transferred) override;
    std::string lastError() const override { return m_error; }

private:
    int m_fd = -1;
    std::string m_error;
};

// The CD drives of the system (/dev/sr0, /dev/sr1, ...), in name order.
std::vector<std::string> listCdDrives(const std::string& folder = "/dev");
