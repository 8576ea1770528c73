#include "core/base/raster.h"

namespace {

struct Standard {
    u32 dotClock, dotsPerLine, activeDots, lines, blankingLines, visibleLines;
};

constexpr Standard kNtscStandard{13500000, 858, 720, 525, 20, 242};
constexpr Standard kPalStandard{13500000, 864, 720, 625, 22, 290};

}  // namespace

CRaster::CRaster() : Device("RASTER") {}

CRaster::CRaster(std::string name, u32 dotClock, u32 dotsPerLine, u32 activeDots, u32 lines, u32 blankingLines)
    : Device(std::move(name))
{
    setParameters(dotClock, dotsPerLine, activeDots, lines, blankingLines, 0);
}

CNtsc::CNtsc() : CRaster("NTSC", 13500000, 858, 720, 525, 20)
{
    setParameters(13500000, 858, 720, 525, 20, kNtscStandard.visibleLines);
}

CPal::CPal() : CRaster("PAL", 13500000, 864, 720, 625, 22)
{
    setParameters(13500000, 864, 720, 625, 22, kPalStandard.visibleLines);
}

void CRaster::setParameters(u32 dotClock, u32 dotsPerLine, u32 activeDots, u32 lines, u32 blankingLines, u32 visible)
{
    m_dotClock = dotClock;
    m_dotsPerLine = dotsPerLine;
    m_activeDots = activeDots;
    m_lines = lines;
    m_blankingLines = blankingLines;
    for (int f = 0; f < 2; ++f)
        m_hblankInCount[f] = m_hblankOutCount[f] = visible;
    derive();
}

void CRaster::derive()
{
    const u32 fieldDots = static_cast<u32>(0.5 * m_lines * m_dotsPerLine);
    m_fieldDots[0] = m_fieldDots[1] = fieldDots;
    m_oddPosition = static_cast<u32>(0.5 * (2.0 * m_activeDots - m_dotsPerLine));
    m_dotNs = m_dotClock ? static_cast<u32>(((1.0 / m_dotClock) * 1000) * 1000 * 1000) : 0;
    m_lineNs = m_dotsPerLine * m_dotNs;
    m_activeNs = m_activeDots * m_dotNs;
    m_hblankNs = m_lineNs - m_activeNs;
    m_vblankNs = m_blankingLines * m_lineNs;
    m_hblankInNs[0] = m_activeDots * m_dotNs;
    m_hblankInNs[1] = m_oddPosition * m_dotNs;
    for (int f = 0; f < 2; ++f) {
        m_hblankOutNs[f] = m_hblankInNs[f] + m_hblankNs;
        m_fieldNs[f] = m_fieldDots[f] * m_dotNs;
    }
    m_frameNs = m_fieldNs[0] + m_fieldNs[1];
    m_fieldRate = m_lines && m_dotsPerLine ? 2.0 * m_dotClock / (double(m_lines) * m_dotsPerLine) : 0;
}

void CRaster::setCallbacks(const Callbacks& callbacks)
{
    m_callbacks = callbacks;
    setVideoMode(kNtsc);
}

void CRaster::reset()
{
    for (EventHandle* h : {&m_fieldEvents[0], &m_fieldEvents[1], &m_vblankIn, &m_vblankOut, &m_hblankIn, &m_hblankOut}) {
        cancelEvent(*h);
        *h = {};
    }
}

void CRaster::setVideoMode(u32 mode)
{
    m_mode = mode;
    reset();
    const Standard* standard = mode == kNtsc ? &kNtscStandard : mode == kPal ? &kPalStandard : nullptr;
    if (standard) {
        setParameters(standard->dotClock, standard->dotsPerLine, standard->activeDots, standard->lines,
                      standard->blankingLines, standard->visibleLines);
    }
    m_fieldEvents[0] = scheduleIn(0, m_callbacks.field, m_callbacks.owner, Scheduler::kForever, m_frameNs, 0);
    m_fieldEvents[1] = scheduleIn(m_fieldNs[0], m_callbacks.field, m_callbacks.owner, Scheduler::kForever, m_frameNs, 0);
}

void CRaster::startField(u32 fieldBit)
{
    const u32 f = fieldBit & 1;
    void* owner = m_callbacks.owner;
    scheduler().setFieldEnded(1);
    m_vblankIn = scheduleIn(0, m_callbacks.vblankIn, owner, 1, Scheduler::kOneShot, 0);
    m_vblankOut = scheduleIn(m_vblankNs, m_callbacks.vblankOut, owner, 1, Scheduler::kOneShot, 0);
    m_hblankIn = scheduleIn(m_vblankNs + m_hblankInNs[f], m_callbacks.hblankIn, owner, m_hblankInCount[f], m_lineNs, 0);
    m_hblankOut = scheduleIn(m_vblankNs + m_hblankOutNs[f], m_callbacks.hblankOut, owner, m_hblankOutCount[f], m_lineNs, 0);
}
