#include "core/base/device.h"

bool Hook::onHook(Device*)
{
    return true;
}

void Device::setFrequency(u32 hz)
{
    m_frequency = hz;
    m_period = hz ? static_cast<u32>(((1.0 / hz) * 1000) * 1000 * 1000) : 0;
}

void Device::switchOn()
{
    m_localTime = 0;
    powerOn();
    m_runState = kRunning;
}

void Device::switchOff()
{
    powerOff();
    m_runState = kOff;
}

void Device::restart()
{
    m_localTime = 0;
    reset();
}

u32 Device::runUntil(u32 end)
{
    // Slices repeat a few lengths, so the last division is usually the
    // answer again.
    const u64 span = u64{end} - m_localTime;
    if (span != m_lastSpan || m_period != m_lastPeriod) {
        const u64 period = m_period ? m_period : 1;
        m_lastSpan = span;
        m_lastPeriod = m_period;
        m_lastClocks = (span + period - 1) / period;
    }
    const u64 clocks = m_lastClocks;
    m_sliceEnd = end;
    m_clocksLeft = m_budget = static_cast<s32>(clocks);
    u32 used = execute(static_cast<u32>(clocks));
    // Outside execute the present position is the local time alone; stale
    // counts would place events a whole slice late.
    m_clocksLeft = m_budget = 0;
    m_sliceEnd = 0;
    return static_cast<u32>(used * u64{m_period ? m_period : 1});
}

void Device::limitBudget(u32 offset)
{
    const s32 used = m_budget - m_clocksLeft;
    if (offset == 0) {
        m_budget = used;
        m_clocksLeft = 0;
        return;
    }
    const u32 period = m_period ? m_period : 1;
    const s32 n = static_cast<s32>((offset + period - 1) / period);
    m_clocksLeft = n;
    m_budget = used + n;
}

EventHandle Device::schedule(u32 time, EventCallback callback, u32 count, u32 period, u32 argument)
{
    return scheduler().schedule(time, callback, this, count, period, argument);
}

EventHandle Device::scheduleIn(u32 offset, EventCallback callback, void* owner, u32 count, u32 period, u32 argument)
{
    const u32 t = position() + offset;
    if (t < m_sliceEnd)
        limitBudget(offset);
    return scheduler().schedule(t, callback, owner, count, period, argument);
}

bool Device::callHooks(Device* argument)
{
    bool handled = false;
    for (Hook* hook : m_hooks) {
        if (hook && hook->onHook(argument))
            handled = true;
    }
    return handled;
}

EventHandle scheduleCut(u32 time, u32 count, u32 period)
{
    return scheduler().schedule(time, nullptr, nullptr, count, period, 0);
}

void cancelEvent(EventHandle handle)
{
    scheduler().cancel(handle);
}
