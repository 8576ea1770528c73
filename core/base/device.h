#pragma once

#include <string>
#include <vector>

#include "core/base/bus.h"
#include "core/base/object.h"
#include "core/base/scheduler.h"

class Device;

// An observer that a device calls at moments of its choosing.
class Hook : public Object {
public:
    using Object::Object;
    // True when the hook handled the moment.
    virtual bool onHook(Device* device);
};

// One memory block.
class RAM {
public:
    virtual ~RAM() = default;
    void set(u8* data, u32 size) { m_data = data; m_size = size; }
    u8* data() const { return m_data; }
    u32 size() const { return m_size; }

private:
    u8* m_data = nullptr;
    u32 m_size = 0;
};

enum RunState : u32 { kOff = 0, kRunning = 1, kHalted = 2 };

// A clocked component. Its local time counts nanoseconds from the start of
// the current slice; the slice loop rebases it after every slice.
class Device : public Object {
public:
    explicit Device(std::string name) : Object(std::move(name)) {}

    virtual bool setup(u32) { return true; }
    virtual void powerOn() {}
    virtual void powerOff() {}
    virtual void reset() {}
    virtual void resume() { m_runState = kRunning; }
    virtual void halt() { m_runState = kHalted; }
    // Runs to (or a little past) end; answers the nanoseconds advanced.
    // Inline and not virtual: the slice loop calls it for every device in
    // every slice.
    u32 runUntil(u32 end)
    {
        const u32 clocks = clocksTo(end);
        m_sliceEnd = end;
        m_clocksLeft = m_budget = static_cast<s32>(clocks);
        const u32 used = execute(clocks);
        // Outside execute the present position is the local time alone; stale
        // counts would place events a whole slice late.
        m_clocksLeft = m_budget = 0;
        m_sliceEnd = 0;
        return static_cast<u32>(used * u64{m_period ? m_period : 1});
    }
    // What runUntil answers for a unit that is idle: its execute would use
    // every clock and change nothing, so the call is left out.
    u32 idleUntil(u32 end) { return static_cast<u32>(clocksTo(end) * u64{m_period ? m_period : 1}); }
    // True while the unit has nothing to do; each unit sets it where the
    // state that decides it changes.
    bool idle() const { return m_idle; }
    // Runs up to clocks clocks; answers the clocks used.
    virtual u32 execute(u32 clocks) { return clocks; }
    virtual bool readExternalInput(void*, int) { return false; }
    virtual AccessHandlers getAccessHandlers(int) { return {}; }

    void setFrequency(u32 hz);
    void setPeriod(u32 ns) { m_period = ns; }
    void switchOn();
    void switchOff();
    void restart();

    // Makes the running execute stop offset ns after the present position.
    void limitBudget(u32 offset);
    // Takes clocks from the running execute's budget: work done on the
    // device's behalf outside its own loop (a BIOS service, say).
    void charge(u32 clocks) { m_clocksLeft -= static_cast<s32>(clocks); }
    // Time is measured from the start of the current slice.
    EventHandle schedule(u32 time, EventCallback callback, u32 count, u32 period, u32 argument);
    // At the device's present position plus offset; cuts the running
    // budget when the event falls inside the slice.
    EventHandle scheduleIn(u32 offset, EventCallback callback, void* owner, u32 count, u32 period, u32 argument);

    void attachHook(Hook* hook) { m_hooks.push_back(hook); }
    bool callHooks(Device* argument);

    // The device's present position in the slice: its local time plus the
    // clocks used so far in the running execute.
    u32 position() const { return static_cast<u32>(m_budget - m_clocksLeft) * m_period + m_localTime; }
    u32 clocksUsed() const { return static_cast<u32>(m_budget - m_clocksLeft); }

    u32 localTime() const { return m_localTime; }
    void setLocalTime(u32 t) { m_localTime = t; }
    u32 runState() const { return m_runState; }
    void setRunState(u32 state) { m_runState = state; }
    u32 frequency() const { return m_frequency; }
    u32 period() const { return m_period; }
    s32 clocksLeft() const { return m_clocksLeft; }
    s32 budget() const { return m_budget; }
    u32 sliceEnd() const { return m_sliceEnd; }
    u32 index() const { return m_index; }
    void setIndex(u32 index) { m_index = index; }
    const std::string& longName() const { return m_longName; }
    void setLongName(std::string name) { m_longName = std::move(name); }

protected:
    u32 m_localTime = 0;
    u32 m_runState = kOff;
    u32 m_frequency = 0;
    u32 m_period = 0;
    // Signed: a processor may overrun its budget by the tail of its last
    // instruction.
    s32 m_clocksLeft = 0;
    s32 m_budget = 0;
    u32 m_sliceEnd = 0;
    u32 m_index = 0;
    // runUntil's divisor (the period, at least 1) and 2^64 over it rounded
    // up, for the period it was made from; all at rest they fit period 0.
    u32 m_lastPeriod = 0;
    u32 m_divisor = 1;
    u64 m_reciprocal = 0;
    std::vector<Hook*> m_hooks;
    std::string m_longName;

    u8 m_idle = 0;

private:
    void setDivisor();
    // Whole clocks that reach end from the local time, rounded up.
    u32 clocksTo(u32 end)
    {
        if (m_period != m_lastPeriod) [[unlikely]]
            setDivisor();
        // Each device's slice starts where its last overran, so the span
        // differs nearly every call: a multiply by the period's reciprocal
        // replaces the division, exact for every span below 2^32.
        const u64 span = u64{end} - m_localTime + m_divisor - 1;
        const u64 clocks = (span >> 32) == 0 && m_reciprocal
                               ? static_cast<u64>((static_cast<unsigned __int128>(span) * m_reciprocal) >> 64)
                               : span / m_divisor;
        return static_cast<u32>(clocks);
    }
};

// An event with no callback: the slice loop uses it to cut a slice.
EventHandle scheduleCut(u32 time, u32 count, u32 period);
void cancelEvent(EventHandle handle);
