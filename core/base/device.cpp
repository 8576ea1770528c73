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

void Device::setDivisor()
{
    m_lastPeriod = m_period;
    m_divisor = m_period ? m_period : 1;
    // For a divisor d, ceil(2^64 / d) times n, over 2^64, is n / d for
    // every n below 2^32; d = 1 would need 2^64 itself, so it takes the
    // division instead.
    m_reciprocal = m_divisor == 1 ? 0 : ~u64{0} / m_divisor + 1;
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
