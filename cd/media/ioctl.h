#pragma once

#include <memory>
#include <mutex>

#include "cd/media/cdd.h"
#include "cd/media/scsi_transport.h"

// A host CD drive read through MMC commands: INQUIRY to see that it is a
// CD drive, READ TOC for its tracks, READ CD for whole 2352-byte sectors
// and GET EVENT STATUS NOTIFICATION for its tray and medium.
class CIoctl : public CDD {
public:
    static constexpr u32 kTocBytes = 804;
    static constexpr u32 kTocEntryBytes = 8;
    static constexpr u32 kInquiryBytes = 36;
    static constexpr u32 kEventBytes = 8;
    static constexpr u32 kReadTimeoutSeconds = 60;
    static constexpr u32 kEventTimeoutSeconds = 10;

    explicit CIoctl(std::unique_ptr<ScsiTransport> transport);
    ~CIoctl() override;

    bool open(const std::string& device) override;
    void close() override;
    u32 getMediaStatus() override;
    u32 readSectors(u8* destination, u32 fad, u32& mode, s32& size, u32 count) override;

    // Builds the disc's one session from READ TOC data (MSF addresses);
    // false when the table is short or makes no sense.
    bool parseToc(const u8* toc, u32 length);

private:
    bool isCdDrive();
    bool readToc();

    std::unique_ptr<ScsiTransport> m_transport;
    // The drive's thread reads sectors while the window may ask for the
    // medium: one command at a time.
    std::mutex m_mutex;
};
