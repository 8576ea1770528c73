#include <gtest/gtest.h>

#include <vector>

#include "core/machine/machine.h"

namespace {

// Records the time of every raster event, measured from power-on.
class TimingMachine : public CMachine {
public:
    TimingMachine() : CMachine("SYSTEM") {}

    struct Event {
        char kind;
        u64 time;
        s32 line;
    };

    void onHBlankIn(u32) override { events.push_back({'I', now(), m_lineCounter}); }
    void onHBlankOut(u32) override { events.push_back({'O', now(), m_lineCounter}); }
    void onVBlankIn(u32) override { events.push_back({'V', now(), 0}); }
    void onVBlankOut(u32) override { events.push_back({'v', now(), 0}); }
    void onField(u32 argument) override
    {
        events.push_back({'F', now(), 0});
        CMachine::onField(argument);
    }

    u64 now() const { return clock.elapsed; }

    // A sliced device whose only job is to keep absolute time.
    struct Clock : Device {
        Clock() : Device("CLOCK") { setPeriod(1); }
        u32 execute(u32 clocks) override
        {
            elapsed += clocks;
            return clocks;
        }
        u64 elapsed = 0;
    } clock;

    std::vector<Event> events;
};

class RasterTest : public ::testing::Test {
protected:
    void SetUp() override { scheduler().clear(); }
    void TearDown() override { scheduler().clear(); }

    // Runs until `fields` whole fields have passed and returns the events of
    // the last one, times relative to its field event.
    std::vector<TimingMachine::Event> lastField(TimingMachine& m, int fields)
    {
        m.addSlicedDevice(&m.clock);
        m.clock.switchOn();
        for (int i = 0; i <= fields; ++i)
            m.runFrame();
        std::vector<TimingMachine::Event> out;
        std::size_t start = 0;
        for (std::size_t i = 0; i < m.events.size(); ++i) {
            if (m.events[i].kind == 'F')
                start = i;
        }
        // The last field event begins a field that has not run yet: take the one before.
        std::size_t end = start;
        for (std::size_t i = start; i-- > 0;) {
            if (m.events[i].kind == 'F') {
                start = i;
                break;
            }
        }
        for (std::size_t i = start; i <= end; ++i)
            out.push_back({m.events[i].kind, m.events[i].time - m.events[start].time, m.events[i].line});
        return out;
    }
};

std::size_t countOf(const std::vector<TimingMachine::Event>& events, char kind)
{
    std::size_t n = 0;
    for (const auto& e : events)
        n += e.kind == kind;
    return n;
}

const TimingMachine::Event& first(const std::vector<TimingMachine::Event>& events, char kind)
{
    for (const auto& e : events) {
        if (e.kind == kind)
            return e;
    }
    static TimingMachine::Event none{'?', 0, 0};
    return none;
}

}  // namespace

// A field's H-BLANK offsets follow the field bit when its field event fires;
// its line numbers follow the field bit when its V-BLANK-OUT comes, one pass
// later. Field 1 thus has the odd offsets and lines 0, 2 ... 482.
TEST_F(RasterTest, NtscOddOffsetFieldCountsEvenLines)
{
    TimingMachine m;
    const auto f = lastField(m, 2);
    ASSERT_EQ(f.front().kind, 'F');
    EXPECT_EQ(f.back().time, 16666650u);
    EXPECT_EQ(countOf(f, 'I'), 242u);
    EXPECT_EQ(countOf(f, 'O'), 242u);
    EXPECT_EQ(first(f, 'V').time, 0u);
    EXPECT_EQ(first(f, 'v').time, 1269840u);
    EXPECT_EQ(first(f, 'I').time, 1291374u);
    EXPECT_EQ(first(f, 'O').time, 1301586u);
    s32 line = 0;
    u64 last = 0;
    for (const auto& e : f) {
        if (e.kind != 'I')
            continue;
        EXPECT_EQ(e.line, line);
        if (line) {
            EXPECT_EQ(e.time - last, 63492u);
        }
        last = e.time;
        line += 2;
    }
    EXPECT_EQ(line, 484);
}

TEST_F(RasterTest, NtscEvenOffsetFieldCountsOddLines)
{
    TimingMachine m;
    const auto f = lastField(m, 3);
    EXPECT_EQ(f.back().time, 16666650u);
    EXPECT_EQ(first(f, 'I').time, 1323120u);
    EXPECT_EQ(first(f, 'O').time, 1333332u);
    EXPECT_EQ(countOf(f, 'I'), 242u);
    std::vector<s32> lines;
    for (const auto& e : f) {
        if (e.kind == 'I')
            lines.push_back(e.line);
    }
    EXPECT_EQ(lines.front(), -1);
    EXPECT_EQ(lines[1], 1);
    EXPECT_EQ(lines.back(), 481);
}

TEST_F(RasterTest, PalFields)
{
    TimingMachine m;
    m.setVideoMode(CRaster::kPal);
    EXPECT_EQ(m.raster().frameNs(), 39960000u);
    const auto f = lastField(m, 2);
    EXPECT_EQ(f.back().time, 19980000u);
    EXPECT_EQ(countOf(f, 'I'), 290u);
    EXPECT_EQ(countOf(f, 'O'), 290u);
    EXPECT_EQ(first(f, 'v').time, 1406592u);
    EXPECT_EQ(first(f, 'I').time, 1406592u + 21312u);
    EXPECT_NEAR(m.raster().fieldRate(), 50.0, 1e-9);
}

TEST_F(RasterTest, DerivedValues)
{
    CNtsc ntsc;
    EXPECT_EQ(ntsc.name(), "NTSC");
    EXPECT_EQ(ntsc.lineNs(), 63492u);
    EXPECT_EQ(ntsc.fieldNs(), 16666650u);
    EXPECT_EQ(ntsc.frameNs(), 33333300u);
    EXPECT_EQ(ntsc.hblankInNs(1), 21534u);
    EXPECT_EQ(ntsc.hblankOutNs(1), 31746u);
    EXPECT_NEAR(ntsc.fieldRate(), 59.94006, 1e-5);
    CPal pal;
    EXPECT_EQ(pal.visibleLines(), 290u);
    EXPECT_EQ(pal.hblankInNs(1), 21312u);
}

TEST_F(RasterTest, SettingAModeAgainRestartsTheFieldsWithoutDuplicates)
{
    TimingMachine m;
    m.setVideoMode(CRaster::kNtsc);
    m.setVideoMode(CRaster::kNtsc);
    const auto f = lastField(m, 3);
    EXPECT_EQ(countOf(f, 'F'), 2u);
    EXPECT_EQ(countOf(f, 'V'), 1u);
    EXPECT_EQ(f.back().time, 16666650u);
    EXPECT_EQ(m.events.size(), 4 * 1u + 3 * (2 + 2 * 242u));
}
