#pragma once

#include <array>

#include "core/base/types.h"

using EventCallback = void (*)(void* owner, u32 argument);

// A handle names one use of a pool record; a record that was freed and
// reused gets a new generation, so a stale handle matches nothing.
struct EventHandle {
    u32 id = 0;
    explicit operator bool() const { return id != 0; }
    bool operator==(const EventHandle&) const = default;
};

struct ScheduledEvent {
    u32 count = 0;        // insertions still to come; kForever never runs out
    u32 timeToNext = 0;   // ns to the next pending event, kNever when none follows
    u32 period = 0;
    ScheduledEvent* previous = nullptr;
    ScheduledEvent* next = nullptr;
    void* owner = nullptr;
    EventCallback callback = nullptr;
    u32 argument = 0;
    u16 generation = 0;
    bool inUse = false;
};

// The one global event scheduler. Pending events form a list in time order
// whose head is the event due now (the start of the current slice); each
// event stores only its distance to the next.
class Scheduler {
public:
    static constexpr int kPoolSize = 64;
    static constexpr u32 kForever = 0xFFFFFFFF;
    static constexpr u32 kNever = 0xFFFFFFFF;
    static constexpr u32 kOneShot = 0xFFFFFFFF;  // the period given to one-shot events

    Scheduler();

    // No handle when the pool is empty, the count is 0, or an event that
    // repeats has period 0 (it would fire forever without time passing).
    EventHandle schedule(u32 time, EventCallback callback, void* owner, u32 count, u32 period, u32 argument);
    void cancel(EventHandle handle);

    // Fires the events due now; slice gets the time to the next one. True
    // when a field has ended or nothing is pending.
    bool run(u32& slice);
    // Moves past the current head once the machine has run the slice;
    // elapsed is how far it ran (kNever: exactly to the next event).
    void advance(u32 elapsed = kNever);

    void setFieldEnded(u8 ended) { m_fieldEnded = ended; }
    u8 fieldEnded() const { return m_fieldEnded; }

    // Introspection for the debugger and the tests.
    int freeCount() const { return m_freeCount; }
    bool isPending(EventHandle handle) const { return find(handle) != nullptr; }
    // Time of a pending event measured from the head; kNever when not pending.
    u32 timeOf(EventHandle handle) const;
    int pendingCount() const { return kPoolSize - m_freeCount; }

    // Drops every pending event and frees every handle (tests, fresh machines).
    void clear();

private:
    ScheduledEvent* find(EventHandle handle) const;
    EventHandle handleOf(const ScheduledEvent* event) const;
    void insert(ScheduledEvent* event, u32 time);
    void unlink(ScheduledEvent* event);
    void release(ScheduledEvent* event);

    std::array<ScheduledEvent, kPoolSize> m_pool;
    std::array<u8, kPoolSize> m_free;
    int m_freeCount = 0;
    ScheduledEvent* m_head = nullptr;
    bool m_headFired = false;
    u32 m_slice = 0;  // what the last run gave the machine
    u8 m_fieldEnded = 0;
};

Scheduler& scheduler();
