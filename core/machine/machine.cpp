#include "core/machine/machine.h"

#include <algorithm>
#include <cstring>

u32 SampleBuffer::take(s16* out, u32 maxPairs)
{
    const u32 write = m_write.load(std::memory_order_acquire);
    u32 read = m_read.load(std::memory_order_relaxed);
    // Each drop is applied once: an old mark would lie ahead again once the
    // indices wrap.
    const u32 discard = m_discard.load(std::memory_order_acquire);
    if (discard != m_discardSeen) {
        m_discardSeen = discard;
        if (discard - read <= write - read)
            read = discard;
    }
    const u32 count = out ? std::min(maxPairs, write - read) : 0;
    if (count) {
        // At most two runs: up to the ring's end, then from its start.
        const u32 start = read & (kPairs - 1);
        const u32 first = std::min(count, kPairs - start);
        std::memcpy(out, &m_samples[start * 2], first * 2 * sizeof(s16));
        std::memcpy(out + first * 2, m_samples, (count - first) * 2 * sizeof(s16));
    }
    m_read.store(write, std::memory_order_release);
    return count;
}

u32 SampleBuffer::pending() const
{
    const u32 read = m_read.load(std::memory_order_acquire);
    const u32 discard = m_discard.load(std::memory_order_acquire);
    const u32 write = m_write.load(std::memory_order_acquire);
    return discard - read <= write - read ? write - discard : write - read;
}

CMachine::CMachine(std::string name) : Device(std::move(name))
{
    CRaster::Callbacks callbacks;
    callbacks.owner = this;
    callbacks.hblankIn = hblankInEvent;
    callbacks.hblankOut = hblankOutEvent;
    callbacks.vblankIn = vblankInEvent;
    callbacks.vblankOut = vblankOutEvent;
    callbacks.field = fieldEvent;
    m_raster.setCallbacks(callbacks);
}

CMachine::~CMachine()
{
    // The field events point at this machine; they must not outlive it.
    m_raster.reset();
}

void CMachine::hblankInEvent(void* owner, u32 argument)
{
    static_cast<CMachine*>(owner)->onHBlankIn(argument);
}

void CMachine::hblankOutEvent(void* owner, u32 argument)
{
    auto* machine = static_cast<CMachine*>(owner);
    machine->onHBlankOut(argument);
    machine->m_lineCounter += 2;
}

void CMachine::vblankInEvent(void* owner, u32 argument)
{
    static_cast<CMachine*>(owner)->onVBlankIn(argument);
}

void CMachine::vblankOutEvent(void* owner, u32 argument)
{
    auto* machine = static_cast<CMachine*>(owner);
    machine->m_lineCounter = machine->m_fieldBit ? -1 : 0;
    machine->onVBlankOut(argument);
}

void CMachine::fieldEvent(void* owner, u32 argument)
{
    static_cast<CMachine*>(owner)->onField(argument);
}

void CMachine::onField(u32)
{
    m_raster.startField(m_fieldBit);
}

void CMachine::powerOn()
{
    for (Device* device : m_devices)
        device->switchOn();
    startLogSecond();
    m_localTime = 0;
    m_runState = kRunning;
}

void CMachine::startLogSecond()
{
    m_secondNs = 0;
    logSink().setBounded(true);
}

void CMachine::powerOff()
{
    logSink().setBounded(false);
    for (Device* device : m_devices)
        device->switchOff();
}

void CMachine::reset()
{
    for (Device* device : m_devices)
        device->restart();
}

void CMachine::runFrame()
{
    m_fieldBit = m_frameCounter & 1;
    logInfo(2, "Frame: %d, Field: %s", m_frameCounter, m_fieldBit ? "odd" : "even");
    runSlice();
    ++m_frameCounter;
    // The log's budget runs by emulated time, so a run logs the same way
    // however fast the host is.
    m_secondNs += m_raster.fieldNs();
    if (m_secondNs >= kSecondNs) {
        m_secondNs -= kSecondNs;
        logSink().endSecond();
    }
}

void CMachine::runSlice()
{
    if (debugBreak)
        return;
    Scheduler& events = scheduler();
    const bool skipIdle = m_shortcuts.idleUnits;
    for (;;) {
        // A slice left for a break continues where it stopped; the scheduler
        // has already fired its events.
        if (sliceResume) {
            sliceResume = 0;
        } else if (events.run(m_slice)) {
            events.advance();
            return;
        }
        if (m_slice != 0) {
            for (Device* device : m_sliced) {
                if (device->localTime() >= m_slice)
                    continue;
                if (device->runState() != kRunning) {
                    device->setLocalTime(device->localTime() + m_slice);
                    continue;
                }
                if (skipIdle && device->idle()) {
                    ++m_shortcutUses[kIdleUnits];
                    device->setLocalTime(device->localTime() + device->idleUntil(m_slice));
                    continue;
                }
                const u32 advanced = device->runUntil(m_slice);
                device->setLocalTime(device->localTime() + advanced);
                if (debugBreak) {
                    sliceResume = 1;
                    debugStopped = 1;
                    return;
                }
                // A device that used no clock would hold the slice where it
                // is for ever; it idles to the end instead.
                if (advanced == 0)
                    device->setLocalTime(m_slice);
                if (device->localTime() < m_slice) {
                    // Stopped short: later devices run only this far, and the
                    // rest becomes a slice of its own.
                    if (scheduleCut(device->localTime(), 1, Scheduler::kOneShot))
                        m_slice = device->localTime();
                    else
                        device->setLocalTime(m_slice);
                }
            }
            for (Device* device : m_sliced)
                device->setLocalTime(device->localTime() - m_slice);
        }
        events.advance(m_slice);
    }
}
