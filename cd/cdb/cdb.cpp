#include "cd/cdb/cdb.h"

#include <cstring>

#include "board/scu/scu.h"
#include "core/placeholder.h"

namespace {

constexpr u32 kDriveTickNs = 16666666;
constexpr u32 kSecondNs = 1000000000;

}  // namespace

CDB::CDB(SCU* scu) : Device("CDB"), m_scu(scu), m_mpegFrame(std::make_unique<u32[]>(kMpegWidth * kMpegHeight)) {}

void CDB::powerOn()
{
    // CDON calls this directly on a running block: nothing to do then.
    if (m_runState == kRunning)
        return;
    reset();
    m_events[0] = scheduleIn(kSecondNs, onPeriodic, this, Scheduler::kForever, kDriveTickNs, 0);
    m_events[1] = scheduleIn(kSecondNs / 2, onPeriodic, this, Scheduler::kForever, kSecondNs, 1);
}

void CDB::powerOff()
{
    if (m_runState != kRunning)
        return;
    for (EventHandle& h : m_events) {
        cancelEvent(h);
        h = {};
    }
}

void CDB::onPeriodic(void*, u32) {}

void CDB::setHirq(u16 bits)
{
    const u16 raised = bits & 0x3FFF;
    m_hirqReq |= bits & 0x3FFF;
    for (int n = 0; n < 14; ++n) {
        if ((raised & m_hirqMask) >> n & 1)
            m_scu->irqExternal(n);
    }
}

bool CDB::readExternalInput(void* out, int kind)
{
    if (!out)
        return false;
    if (kind == 0) {
        std::memset(out, 0, 2 * sizeof(u16));
        return true;
    }
    if (kind == 1) {
        *static_cast<FrameBuffer*>(out) = {kMpegWidth, kMpegHeight, m_mpegFrame.get()};
        return true;
    }
    return false;
}

AccessHandlers CDB::getAccessHandlers(int area)
{
    return area == kData || area == kRegisters ? loggedRegisterHandlers(this) : AccessHandlers{};
}
