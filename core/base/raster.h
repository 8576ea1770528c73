#pragma once

#include "core/base/device.h"

// The display timing as scheduler events: per field a V-BLANK-IN at its
// start, a V-BLANK-OUT after the blanking lines, and an H-BLANK-IN and
// H-BLANK-OUT on every visible line; two periodic field events start the
// fields.
class CRaster : public Device {
public:
    enum Mode : u32 { kNtsc = 0, kPal = 1 };

    struct Callbacks {
        void* owner = nullptr;
        EventCallback hblankIn = nullptr;
        EventCallback hblankOut = nullptr;
        EventCallback vblankIn = nullptr;
        EventCallback vblankOut = nullptr;
        EventCallback field = nullptr;
    };

    CRaster();
    CRaster(std::string name, u32 dotClock, u32 dotsPerLine, u32 activeDots, u32 lines, u32 blankingLines);

    void setCallbacks(const Callbacks& callbacks);
    void setVideoMode(u32 mode);
    void startField(u32 fieldBit);
    void reset() override;

    u32 videoMode() const { return m_mode; }
    u32 lineNs() const { return m_lineNs; }
    u32 vblankNs() const { return m_vblankNs; }
    u32 fieldNs() const { return m_fieldNs[0]; }
    u32 frameNs() const { return m_frameNs; }
    u32 hblankInNs(u32 field) const { return m_hblankInNs[field & 1]; }
    u32 hblankOutNs(u32 field) const { return m_hblankOutNs[field & 1]; }
    u32 visibleLines() const { return m_hblankInCount[0]; }
    double fieldRate() const { return m_fieldRate; }

protected:
    void setParameters(u32 dotClock, u32 dotsPerLine, u32 activeDots, u32 lines, u32 blankingLines, u32 visible);

private:
    void derive();

    u32 m_dotClock = 0;
    u32 m_dotsPerLine = 0;
    u32 m_activeDots = 0;
    u32 m_lines = 0;
    u32 m_blankingLines = 0;
    u32 m_fieldDots[2] = {};
    u32 m_oddPosition = 0;
    u32 m_hblankInCount[2] = {};
    u32 m_hblankOutCount[2] = {};
    Callbacks m_callbacks;
    u32 m_mode = kNtsc;
    u32 m_dotNs = 0;
    u32 m_lineNs = 0;
    u32 m_activeNs = 0;
    u32 m_hblankNs = 0;
    u32 m_vblankNs = 0;
    u32 m_hblankInNs[2] = {};
    u32 m_hblankOutNs[2] = {};
    u32 m_fieldNs[2] = {};
    u32 m_frameNs = 0;
    double m_fieldRate = 0;
    EventHandle m_fieldEvents[2];
    EventHandle m_vblankIn, m_vblankOut, m_hblankIn, m_hblankOut;
};

class CNtsc : public CRaster {
public:
    CNtsc();
};

class CPal : public CRaster {
public:
    CPal();
};
