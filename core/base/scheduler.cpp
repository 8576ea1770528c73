#include "core/base/scheduler.h"

#include <algorithm>

Scheduler& scheduler()
{
    static Scheduler instance;
    return instance;
}

Scheduler::Scheduler()
{
    clear();
}

void Scheduler::clear()
{
    for (int i = 0; i < kPoolSize; ++i) {
        u16 generation = m_pool[i].generation;
        m_pool[i] = ScheduledEvent{};
        m_pool[i].generation = static_cast<u16>(generation + 1);
        m_free[i] = static_cast<u8>(kPoolSize - 1 - i);
    }
    m_freeCount = kPoolSize;
    m_head = nullptr;
    m_headFired = false;
    m_fieldEnded = 0;
}

EventHandle Scheduler::handleOf(const ScheduledEvent* event) const
{
    u32 index = static_cast<u32>(event - m_pool.data());
    return EventHandle{(u32{event->generation} << 8) | (index + 1)};
}

ScheduledEvent* Scheduler::find(EventHandle handle) const
{
    u32 index = (handle.id & 0xFF) - 1;
    if (!handle || index >= kPoolSize)
        return nullptr;
    const ScheduledEvent& event = m_pool[index];
    if (!event.inUse || event.generation != (handle.id >> 8))
        return nullptr;
    return const_cast<ScheduledEvent*>(&event);
}

u32 Scheduler::timeOf(EventHandle handle) const
{
    const ScheduledEvent* target = find(handle);
    if (!target)
        return kNever;
    u64 time = 0;
    for (const ScheduledEvent* e = m_head; e && e != target; e = e->next)
        time += e->timeToNext;
    return time > 0xFFFFFFFF ? kNever : static_cast<u32>(time);
}

EventHandle Scheduler::schedule(u32 time, EventCallback callback, void* owner, u32 count, u32 period, u32 argument)
{
    if (m_freeCount == 0 || count == 0 || (count != 1 && period == 0))
        return {};
    ScheduledEvent* event = &m_pool[m_free[--m_freeCount]];
    event->inUse = true;
    event->count = count;
    event->timeToNext = kNever;
    event->period = period;
    event->owner = owner;
    event->callback = callback;
    event->argument = argument;
    insert(event, time);
    return handleOf(event);
}

// A new event goes behind every event due at the same time or earlier.
void Scheduler::insert(ScheduledEvent* event, u32 time)
{
    if (event->count != kForever)
        --event->count;
    if (!m_head) {
        event->previous = event->next = nullptr;
        event->timeToNext = kNever;
        m_head = event;
        return;
    }
    u64 start = 0;
    ScheduledEvent* c = m_head;
    while (c->timeToNext != kNever && time >= start + c->timeToNext) {
        start += c->timeToNext;
        c = c->next;
    }
    u32 offset = static_cast<u32>(time - start);
    event->timeToNext = c->timeToNext == kNever ? kNever : c->timeToNext - offset;
    c->timeToNext = offset;
    event->previous = c;
    event->next = c->next;
    if (c->next)
        c->next->previous = event;
    c->next = event;
}

void Scheduler::unlink(ScheduledEvent* event)
{
    if (event->previous) {
        ScheduledEvent* p = event->previous;
        p->timeToNext = event->timeToNext == kNever ? kNever : p->timeToNext + event->timeToNext;
        p->next = event->next;
    }
    if (event->next)
        event->next->previous = event->previous;
    if (m_head == event)
        m_head = event->next;
    event->previous = event->next = nullptr;
}

void Scheduler::release(ScheduledEvent* event)
{
    u16 generation = event->generation;
    *event = ScheduledEvent{};
    event->timeToNext = kNever;
    event->generation = static_cast<u16>(generation + 1);
    m_free[m_freeCount++] = static_cast<u8>(event - m_pool.data());
}

void Scheduler::cancel(EventHandle handle)
{
    ScheduledEvent* event = find(handle);
    if (!event)
        return;
    if (event == m_head) {
        // The head marks the start of the current slice and every later event
        // is measured from it, so it stays in place as a silent marker and
        // leaves at the next advance. A fired head whose period ended the
        // slice keeps one silent firing to mark that end.
        event->count = m_headFired && event->count != 0 && event->period < event->timeToNext ? 1 : 0;
        event->callback = nullptr;
        event->owner = nullptr;
        return;
    }
    if (m_headFired && event == m_head->next && m_head->timeToNext <= m_slice) {
        // It ends the slice now running; the machine will advance by exactly
        // that much, so its place must stay as a silent marker.
        event->count = 0;
        event->callback = nullptr;
        event->owner = nullptr;
        return;
    }
    unlink(event);
    release(event);
}

bool Scheduler::run(u32& slice)
{
    for (;;) {
        if (!m_head)
            return true;
        ScheduledEvent* head = m_head;
        // A head that will not come back must not end the slice at its period:
        // the next event would then be due before its time.
        slice = head->count == 0 ? head->timeToNext : std::min(head->period, head->timeToNext);
        // Set before the callback: a cancel inside it must see which event
        // ends this slice.
        m_slice = slice;
        m_headFired = true;
        if (head->owner && head->callback)
            head->callback(head->owner, head->argument);
        // An event the callback placed inside the slice ends it there, so it
        // fires at its own time. A field start is the exception: the machine
        // runs nothing in that pass, and its events are all due at once.
        if (!m_fieldEnded && head == m_head && head->timeToNext < slice)
            slice = head->timeToNext;
        m_slice = slice;
        if (slice != 0)
            break;
        advance();
    }
    if (m_fieldEnded) {
        m_fieldEnded = 0;
        return true;
    }
    return false;
}

void Scheduler::advance(u32 elapsed)
{
    m_headFired = false;
    ScheduledEvent* head = m_head;
    if (!head)
        return;
    const u32 reached = head->timeToNext;
    if (head->count == 0) {
        unlink(head);
        release(head);
    } else if (head->period > head->timeToNext) {
        ScheduledEvent* next = head->next;
        u32 rest = head->period - head->timeToNext;
        head->next = nullptr;
        next->previous = nullptr;
        m_head = next;
        insert(head, rest);
    } else {
        // Comes again no later than the next event: stays the head (first at
        // equal times). Staying counts as one more insertion, so an event
        // with a finite count fires exactly that many times.
        if (head->count != kForever)
            --head->count;
        if (head->timeToNext != kNever)
            head->timeToNext -= head->period;
        return;
    }
    // The machine ran past events placed inside the slice it was given: they
    // are overdue and due now, and everything later keeps its own time.
    if (elapsed == kNever || reached == kNever || elapsed <= reached)
        return;
    u32 overdue = elapsed - reached;
    for (ScheduledEvent* e = m_head; e && overdue; e = e->next) {
        if (e->timeToNext == kNever)
            break;
        const u32 step = std::min(overdue, e->timeToNext);
        e->timeToNext -= step;
        overdue -= step;
    }
}
