#pragma once

#include <memory>

#include "core/device.h"

class SCU;

// Placeholder awaiting the CD block issue: it keeps its interrupt request
// register and periodic events and answers the readers of its streams, but
// runs no command; its windows are logged and read 0.
class CDB : public Device {
public:
    static constexpr u32 kMpegWidth = 512;
    static constexpr u32 kMpegHeight = 256;

    enum Area : int { kData = 0, kRegisters = 1 };

    // What kind 1 of readExternalInput fills in.
    struct FrameBuffer {
        u32 width;
        u32 height;
        const u32* pixels;
    };

    explicit CDB(SCU* scu);

    bool setup(u32) override { return true; }
    void powerOn() override;
    void powerOff() override;
    bool readExternalInput(void* out, int kind) override;
    AccessHandlers getAccessHandlers(int area) override;

    void onVBlankIn() { ++m_frames; }
    void setHirq(u16 bits);
    void setHirqReq(u16 value) { m_hirqReq = value & 0x3FFF; }
    u16 hirqReq() const { return m_hirqReq; }
    void setHirqMask(u16 value) { m_hirqMask = value; }
    void setMpegCard(u8 present) { m_mpegCard = present; }
    u8 mpegCard() const { return m_mpegCard; }
    u32 frames() const { return m_frames; }

private:
    static void onPeriodic(void* owner, u32 argument);

    SCU* m_scu;
    u16 m_hirqReq = 0;
    u16 m_hirqMask = 0;
    u8 m_mpegCard = 1;
    u32 m_frames = 0;
    EventHandle m_events[2];
    std::unique_ptr<u32[]> m_mpegFrame;
};
