#pragma once

#include "core/base/types.h"
#include "platform/host_time.h"

// Holds the main loop to a target rate: sleeps in 1 ms steps while more
// than a margin remains, then spins to the deadline. A late tick is not
// made up; the next deadline counts from the moment the tick ends. A tick
// without spin sleeps once to the deadline instead: it may end a little
// late, for a tick whose timing nothing shows, but costs no processor time.
class CFreq {
public:
    explicit CFreq(float rate);
    virtual ~CFreq() = default;

    void setUnit(u64 unitsPerSecond);
    void setRate(double rate);
    float getTargetRate() const { return m_targetRate; }
    // The measured rate, or it in percent of the target.
    float getRate(bool percent) const;
    void tick(bool pace, bool spin = true);

protected:
    virtual void wait();
    virtual void rest(u64 units);
    virtual u64 now();

private:
    u64 m_lastMeasurement = 0;
    u64 m_deadline = 0;
    s64 m_period = 0;
    u64 m_unit = 1000000000;
    u64 m_margin = 1000000;
    float m_measuredRate = 0.0f;
    float m_targetRate = 0.0f;
    u32 m_ticks = 0;
};

// The main window's pacer, with fine sleeps while a game runs.
class CFps : public CFreq {
public:
    CFps() : CFreq(60.0f) {}
    ~CFps() override { endTimerPeriod(); }

    void beginTimerPeriod();
    void endTimerPeriod();
    bool timerPeriodActive() const { return m_previousSlack != 0; }

protected:
    void wait() override { host::sleepMs(1); }
    u64 now() override { return host::steadyNs(); }

private:
    u64 m_previousSlack = 0;
};

// The process's share of processor time in percent, recomputed every 60th
// call against the readings of the last recomputation.
class CpuMeter {
public:
    static constexpr s32 kCallsPerReading = 60;

    virtual ~CpuMeter() = default;
    s32 measure();
    // ((total - idle) x 100) / total, where total = idle + kernel + user;
    // the previous result when total is 0.
    static s32 share(u64 idle, u64 kernel, u64 user, s32 previous);

protected:
    virtual bool read(host::CpuTimes& times) { return host::readCpuTimes(times); }

private:
    u32 m_calls = 0;
    s32 m_last = 0;
    host::CpuTimes m_previous;
};
