#include <gtest/gtest.h>

#include <map>
#include <random>
#include <utility>
#include <vector>

#include "core/base/scheduler.h"

namespace {

struct Fired {
    u64 time;
    u32 id;
    bool operator==(const Fired&) const = default;
};

// Drives the real scheduler and keeps absolute time for the log.
struct Harness {
    Scheduler s;
    u64 now = 0;
    std::vector<Fired> log;

    static void record(void* owner, u32 id)
    {
        auto* h = static_cast<Harness*>(owner);
        h->log.push_back({h->now, id});
    }
    EventHandle add(u32 time, u32 id, u32 count = 1, u32 period = Scheduler::kOneShot)
    {
        return s.schedule(time, record, this, count, period, id);
    }
    // One pass of the machine loop with no devices: run, then advance.
    u32 step()
    {
        u32 slice = 0;
        s.run(slice);
        s.advance();
        now += slice;
        return slice;
    }
};

std::vector<u32> ids(const std::vector<Fired>& log)
{
    std::vector<u32> out;
    for (const Fired& f : log)
        out.push_back(f.id);
    return out;
}

}  // namespace

TEST(Scheduler, EqualTimesFireInSchedulingOrder)
{
    Harness h;
    h.add(0, 99, Scheduler::kForever, 1000);
    h.add(500, 1);
    h.add(500, 2);
    h.add(300, 3);
    h.add(500, 4);
    while (h.now < 600)
        h.step();
    EXPECT_EQ(ids(h.log), (std::vector<u32>{99, 3, 1, 2, 4}));
    EXPECT_EQ(h.log[1].time, 300u);
    EXPECT_EQ(h.log[4].time, 500u);
}

TEST(Scheduler, PeriodicEventAloneGivesSlicesOfItsPeriod)
{
    Harness h;
    h.add(0, 7, Scheduler::kForever, 3779);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(h.step(), 3779u);
    EXPECT_EQ(h.log.size(), 5u);
    EXPECT_EQ(h.log[4].time, 4 * 3779u);
}

TEST(Scheduler, OneShotBehindTheHeadEndsTheSliceAndIsFreed)
{
    Harness h;
    h.add(0, 1, Scheduler::kForever, 10000);
    h.add(2500, 2);
    EXPECT_EQ(h.s.freeCount(), 62);
    EXPECT_EQ(h.step(), 2500u);
    EXPECT_EQ(h.step(), 7500u);
    EXPECT_EQ(h.s.freeCount(), 63);
    EXPECT_EQ(h.log, (std::vector<Fired>{{0, 1}, {2500, 2}}));
}

TEST(Scheduler, PoolOf64IsExhaustedAndRecovers)
{
    Harness h;
    for (u32 i = 0; i < 64; ++i)
        ASSERT_TRUE(h.add(100 + i, i));
    EXPECT_FALSE(h.add(1000, 64));
    EXPECT_EQ(h.s.freeCount(), 0);
    h.step();  // fires event 0 and frees it
    EXPECT_EQ(h.s.freeCount(), 1);
    EXPECT_TRUE(h.add(5000, 65));
}

TEST(Scheduler, RefusesCountZeroAndRepeatingPeriodZero)
{
    Harness h;
    EXPECT_FALSE(h.add(0, 1, 0, 100));
    EXPECT_FALSE(h.add(0, 1, Scheduler::kForever, 0));
    EXPECT_FALSE(h.add(0, 1, 5, 0));
    EXPECT_EQ(h.s.freeCount(), 64);
    // A one-shot with period 0 is harmless: it fires once.
    EXPECT_TRUE(h.add(0, 1, 1, 0));
    h.add(0, 2, Scheduler::kForever, 50);
    for (int i = 0; i < 3; ++i)
        h.step();
    EXPECT_EQ(ids(h.log), (std::vector<u32>{1, 2, 2, 2}));
}

TEST(Scheduler, EventAtZeroBehindTheHead)
{
    // When the head's slice is 0 the new event fires in the same run call.
    {
        Harness h;
        struct Ctx { Harness* h; } ctx{&h};
        h.s.schedule(0, [](void* c, u32) {
            auto* hh = static_cast<Ctx*>(c)->h;
            hh->log.push_back({hh->now, 1});
            hh->add(0, 2);
        }, &ctx, 1, Scheduler::kOneShot, 0);
        h.add(0, 3);
        h.add(400, 4);
        u32 slice = 0;
        h.s.run(slice);
        EXPECT_EQ(ids(h.log), (std::vector<u32>{1, 3, 2}));
        EXPECT_EQ(slice, 400u);
    }
    // Otherwise it shortens the head's slice to 0 and still fires at once:
    // an event never fires later than its time.
    {
        Harness h;
        struct Ctx { Harness* h; } ctx{&h};
        h.s.schedule(0, [](void* c, u32) {
            auto* hh = static_cast<Ctx*>(c)->h;
            hh->log.push_back({hh->now, 1});
            hh->add(0, 2);
            hh->add(150, 3);
        }, &ctx, 1, Scheduler::kOneShot, 0);
        h.add(400, 4);
        u32 slice = 0;
        h.s.run(slice);
        EXPECT_EQ(ids(h.log), (std::vector<u32>{1, 2}));
        EXPECT_EQ(slice, 150u);
        h.s.advance();
        h.now += slice;
        while (h.log.size() < 4)
            h.step();
        EXPECT_EQ(h.log, (std::vector<Fired>{{0, 1}, {0, 2}, {150, 3}, {400, 4}}));
    }
}

TEST(Scheduler, EventsPlacedInsideARunningSliceFireLateWithoutMovingTheRest)
{
    // A chip that never runs schedules 10000 ns into a slice the machine has
    // already been given in full: that event is overdue when the slice ends,
    // and the events behind it keep their own times.
    Harness h;
    h.add(0, 1, 1, Scheduler::kOneShot);
    h.add(50000, 2);
    h.add(80000, 3);
    u32 slice = 0;
    h.s.run(slice);
    ASSERT_EQ(slice, 50000u);
    h.add(10000, 9);
    h.s.advance(slice);
    h.now += slice;
    while (h.log.size() < 4)
        h.step();
    EXPECT_EQ(h.log, (std::vector<Fired>{{0, 1}, {50000, 9}, {50000, 2}, {80000, 3}}));
}

TEST(Scheduler, StaleHandleAfterReuseChangesNothing)
{
    Harness h;
    h.add(0, 0, Scheduler::kForever, 1000);
    const EventHandle old = h.add(10, 1);
    h.step();
    h.step();  // event 1 fired and its record went back to the pool
    EXPECT_FALSE(h.s.isPending(old));
    const EventHandle fresh = h.add(300, 2);
    const EventHandle other = h.add(600, 3);
    EXPECT_NE(old, fresh);
    const int free = h.s.freeCount();
    h.s.cancel(old);
    h.s.cancel(old);
    h.s.cancel(EventHandle{});
    EXPECT_EQ(h.s.freeCount(), free);
    EXPECT_TRUE(h.s.isPending(fresh));
    EXPECT_EQ(h.s.timeOf(fresh), 300u);
    EXPECT_EQ(h.s.timeOf(other), 600u);
}

TEST(Scheduler, FiniteRepeatCountIsExact)
{
    // Alone, a repeating event stays the head; it must still stop after its count.
    Harness h;
    h.add(0, 5, 3, 100);
    for (int i = 0; i < 6 && h.s.pendingCount(); ++i)
        h.step();
    EXPECT_EQ(h.log, (std::vector<Fired>{{0, 5}, {100, 5}, {200, 5}}));
    EXPECT_EQ(h.s.pendingCount(), 0);
}

TEST(Scheduler, LastFiringDoesNotPullTheNextEventForward)
{
    Harness h;
    h.add(0, 1, 2, 100);
    h.add(1000, 2);
    while (h.log.size() < 3)
        h.step();
    EXPECT_EQ(h.log, (std::vector<Fired>{{0, 1}, {100, 1}, {1000, 2}}));
}

TEST(Scheduler, CancellingTheHeadKeepsEveryoneElsesTime)
{
    // Cancelled after it fired, during its slice.
    {
        Harness h;
        const EventHandle head = h.add(0, 1, Scheduler::kForever, 300);
        h.add(1000, 2);
        u32 slice = 0;
        h.s.run(slice);
        EXPECT_EQ(slice, 300u);
        h.s.cancel(head);
        h.s.advance();
        h.now += slice;
        while (h.log.size() < 2)
            h.step();
        EXPECT_EQ(h.log, (std::vector<Fired>{{0, 1}, {1000, 2}}));
    }
    // Cancelled while due but not yet fired (between two passes).
    {
        Harness h;
        h.add(0, 1, 1, Scheduler::kOneShot);
        const EventHandle due = h.add(200, 2);
        h.add(700, 3);
        h.step();
        h.s.cancel(due);
        while (h.s.pendingCount())
            h.step();
        EXPECT_EQ(h.log, (std::vector<Fired>{{0, 1}, {700, 3}}));
    }
}

TEST(Scheduler, FieldEndedFlagIsConsumedByRun)
{
    Scheduler s;
    u32 slice = 0;
    EXPECT_TRUE(s.run(slice));  // nothing pending
    s.schedule(0, nullptr, nullptr, Scheduler::kForever, 100, 0);
    s.setFieldEnded(1);
    EXPECT_TRUE(s.run(slice));
    s.advance();
    EXPECT_FALSE(s.run(slice));
}

namespace {

// Independent model: absolute times in an ordered map. An event that comes
// again no later than every other event keeps its place at the front.
class Model {
public:
    struct Event {
        u32 id;
        u32 left;  // firings to come, 0 = forever
        u32 period;
    };

    void add(u64 at, const Event& e) { m_events.emplace(std::make_pair(at, ++m_high), e); }

    bool empty() const { return m_events.empty(); }
    u64 earliest() const { return m_events.begin()->first.first; }

    void cancel(u32 id)
    {
        for (auto it = m_events.begin(); it != m_events.end(); ++it) {
            if (it->second.id == id) {
                m_events.erase(it);
                return;
            }
        }
    }

    // Fires everything due now; answers the slice to the next due time.
    u32 run(u64 now, std::vector<Fired>& log)
    {
        for (;;) {
            auto it = m_events.begin();
            if (it->first.first > now)  // a cancelled event left only its time
                return static_cast<u32>(it->first.first - now);
            Event e = it->second;
            log.push_back({now, e.id});
            m_events.erase(it);
            const bool again = e.left != 1;
            u64 next = m_events.empty() ? ~0ull : earliest();
            if (again)
                next = std::min(next, now + e.period);
            m_pending = e;
            m_pendingAgain = again;
            const u32 slice = next == ~0ull ? Scheduler::kNever : static_cast<u32>(next - now);
            if (slice != 0)
                return slice;
            advance(now);
        }
    }

    void advance(u64 now)
    {
        if (!m_pendingAgain)
            return;
        m_pendingAgain = false;
        Event e = m_pending;
        if (e.left)
            --e.left;
        const u64 at = now + e.period;
        const bool first = m_events.empty() || at <= earliest();
        m_events.emplace(std::make_pair(at, first ? --m_low : ++m_high), e);
    }

    std::vector<u32> ids() const
    {
        std::vector<u32> out;
        for (const auto& [key, e] : m_events)
            out.push_back(e.id);
        return out;
    }

private:
    std::map<std::pair<u64, s64>, Event> m_events;
    s64 m_high = 0;
    s64 m_low = 0;
    Event m_pending{};
    bool m_pendingAgain = false;
};

}  // namespace

TEST(Scheduler, RandomisedAgainstAnIndependentModel)
{
    for (u32 seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        Harness h;
        Model m;
        std::vector<Fired> modelLog;
        std::map<u32, EventHandle> handles;
        u32 nextId = 1;
        u64 modelNow = 0;

        // The sound chip's sample clock keeps the list from ever running empty.
        h.add(0, 0, Scheduler::kForever, 3779);
        m.add(0, {0, 0, 3779});

        for (int op = 0; op < 3000; ++op) {
            u32 slice = 0;
            h.s.run(slice);
            const u32 modelSlice = m.run(modelNow, modelLog);
            ASSERT_EQ(slice, modelSlice) << "seed " << seed << " op " << op << " now " << h.now << " last "
                                         << (h.log.empty() ? 0 : h.log.back().id);

            // Work done during the slice: new events at or past its end, and
            // cancellations of events other than the one just fired.
            const int actions = static_cast<int>(rng() % 3);
            for (int a = 0; a < actions; ++a) {
                if (rng() % 3 != 0 && h.s.freeCount() > 4) {
                    const u32 t = slice + rng() % 20000 * (rng() % 4 == 0 ? 0 : 1);
                    const u32 kind = rng() % 4;
                    const u32 count = kind == 0 ? Scheduler::kForever : kind == 1 ? 1 + rng() % 5 : 1;
                    const u32 period = count == 1 ? Scheduler::kOneShot : 1 + rng() % 9000;
                    const u32 id = nextId++;
                    handles[id] = h.add(t, id, count, period);
                    ASSERT_TRUE(handles[id]);
                    m.add(modelNow + t, {id, count == Scheduler::kForever ? 0 : count, period});
                } else if (!handles.empty()) {
                    auto it = handles.begin();
                    std::advance(it, rng() % handles.size());
                    const bool justFired = !h.log.empty() && h.log.back().id == it->first;
                    if (!justFired && h.s.isPending(it->second)) {
                        h.s.cancel(it->second);
                        m.cancel(it->first);
                    }
                    handles.erase(it);
                }
            }
            h.s.advance();
            m.advance(modelNow);
            h.now += slice;
            modelNow += modelSlice;
        }
        ASSERT_EQ(h.log, modelLog) << "seed " << seed;
        EXPECT_GT(h.log.size(), 3000u);
    }
}

TEST(Scheduler, ACallbackCancellingTheEventThatEndsItsSliceMovesNothing)
{
    // The head's callback cancels the next event and schedules another behind
    // it: the slice still ends where the cancelled event stood, and the new
    // event fires at its own time.
    Harness h;
    struct Ctx {
        Harness* h;
        EventHandle next;
    } ctx{&h, {}};
    h.s.schedule(0, [](void* c, u32) {
        auto* x = static_cast<Ctx*>(c);
        x->h->log.push_back({x->h->now, 1});
        x->h->s.cancel(x->next);
        x->h->add(9000, 3);
    }, &ctx, 1, Scheduler::kOneShot, 0);
    ctx.next = h.add(5000, 2);
    h.add(20000, 4);
    while (h.log.size() < 3)
        h.step();
    EXPECT_EQ(h.log, (std::vector<Fired>{{0, 1}, {9000, 3}, {20000, 4}}));
}
