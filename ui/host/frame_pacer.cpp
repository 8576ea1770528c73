#include "ui/host/frame_pacer.h"

CFreq::CFreq(float rate)
{
    setRate(rate);
}

void CFreq::setUnit(u64 unitsPerSecond)
{
    m_unit = unitsPerSecond;
    m_margin = unitsPerSecond / 1000;
    setRate(m_targetRate);
}

void CFreq::setRate(double rate)
{
    m_targetRate = static_cast<float>(rate);
    m_period = rate > 0.0 ? static_cast<s64>(static_cast<double>(m_unit) / rate) : 0;
}

float CFreq::getRate(bool percent) const
{
    if (!percent)
        return m_measuredRate;
    return static_cast<float>(static_cast<double>(m_measuredRate) * 100.0 / static_cast<double>(m_targetRate));
}

void CFreq::tick(bool pace, bool spin)
{
    u64 t = now();
    if (pace) {
        if (!spin && t < m_deadline) {
            rest(m_deadline - t);
            t = now();
        }
        while (t + m_margin < m_deadline) {
            wait();
            t = now();
        }
        while (t < m_deadline)
            t = now();
        m_deadline = t + static_cast<u64>(m_period);
    }
    const u32 threshold = static_cast<u32>(static_cast<s32>(m_targetRate * 0.5f));
    if (m_ticks >= threshold && t != m_lastMeasurement) {
        m_measuredRate = static_cast<float>(static_cast<double>(m_unit * m_ticks) /
                                            static_cast<double>(t - m_lastMeasurement));
        m_lastMeasurement = t;
        m_ticks = 0;
    }
    ++m_ticks;
}

void CFreq::wait()
{
    host::sleepMs(1);
}

void CFreq::rest(u64 units)
{
    host::sleepNs(units * 1000000000 / m_unit);
}

u64 CFreq::now()
{
    return host::steadyNs();
}

void CFps::beginTimerPeriod()
{
    if (m_previousSlack == 0)
        m_previousSlack = host::beginFineSleeps();
}

void CFps::endTimerPeriod()
{
    if (m_previousSlack == 0)
        return;
    host::endFineSleeps(m_previousSlack);
    m_previousSlack = 0;
}

s32 CpuMeter::share(u64 idle, u64 kernel, u64 user, s32 previous)
{
    const s64 total = static_cast<s64>(idle + kernel + user);
    if (total == 0)
        return previous;
    return static_cast<s32>((total - static_cast<s64>(idle)) * 100 / total);
}

s32 CpuMeter::measure()
{
    if (m_calls++ % kCallsPerReading != 0)
        return m_last;
    host::CpuTimes now = m_previous;
    read(now);
    const s32 result = share(now.systemIdle - m_previous.systemIdle, now.processKernel - m_previous.processKernel,
                             now.processUser - m_previous.processUser, m_last);
    m_previous = now;
    m_last = result > 100 ? 100 : result;
    return m_last;
}
