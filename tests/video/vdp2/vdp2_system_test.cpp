#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

constexpr u32 kTvmd = 0x25F80000;
constexpr u16 kPal = 0x0001;
constexpr u16 kOdd = 0x0002;
constexpr u16 kHBlank = 0x0004;
constexpr u16 kVBlank = 0x0008;

struct Sample {
    u16 tvstat;
    u16 vcnt;
};

// One field as the polling program saw it: from the moment VBLANK rose to
// the next rise (or the end of the run).
struct Field {
    std::vector<Sample> samples;
    // The VCNT that followed every H-BLANK, in order; one per line.
    std::vector<u16> lineCounts() const
    {
        std::vector<u16> counts;
        for (std::size_t i = 1; i < samples.size(); ++i) {
            if ((samples[i - 1].tvstat & kHBlank) && !(samples[i].tvstat & kHBlank))
                counts.push_back(samples[i].vcnt);
        }
        return counts;
    }
};

class Vdp2SystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        sys = std::make_unique<CSystem>();
        sys->setup(0);
    }
    void TearDown() override
    {
        sys.reset();
        scheduler().clear();
    }

    // Boots the polling program as the BIOS and runs whole fields with the
    // display mode tvmd written before the first one.
    void run(bool pal, u16 tvmd, int fields)
    {
        const std::vector<u8> program = loadProgram("sh2", "vdp2_status");
        ASSERT_FALSE(program.empty());
        ASSERT_LE(program.size(), SystemMemory::kBiosSize);
        std::memcpy(sys->memory().bios.get(), program.data(), program.size());
        sys->setVideoMode(pal ? CRaster::kPal : CRaster::kNtsc);
        sys->pal = pal;
        sys->vdp2().setVideoStandard(pal);
        sys->powerOn();
        sys->master().pageMap()->writeWord(&sys->master(), kTvmd, tvmd);
        // The first pass only starts the first field.
        sys->runFrame();
        for (int i = 0; i < fields; ++i)
            sys->runFrame();
    }

    std::vector<Sample> samples() const
    {
        const u8* ram = sys->memory().workRamHigh.get();
        const u32 count = loadBe32(ram);
        std::vector<Sample> out;
        for (u32 i = 0; i < count && 16 + 4 * i + 4 <= SystemMemory::kWorkRamSize; ++i) {
            const u32 pair = loadBe32(ram + 16 + 4 * i);
            out.push_back({static_cast<u16>(pair >> 16), static_cast<u16>(pair)});
        }
        return out;
    }

    std::vector<Field> fields() const
    {
        std::vector<Field> out;
        bool blank = false;
        for (const Sample& s : samples()) {
            const bool nowBlank = s.tvstat & kVBlank;
            if (nowBlank && !blank)
                out.emplace_back();
            blank = nowBlank;
            if (!out.empty())
                out.back().samples.push_back(s);
        }
        return out;
    }

    std::unique_ptr<CSystem> sys;
};

std::vector<u16> progression(u16 first, u16 step, int count)
{
    std::vector<u16> values;
    for (int i = 0; i < count; ++i)
        values.push_back(static_cast<u16>(first + i * step));
    return values;
}

// The counts a field shows: lead lines still at the previous count, one per
// display line, then the unchanged count for the rest.
std::vector<u16> fieldCounts(int lead, u16 previous, u16 first, u16 step, int displayLines, int visibleLines)
{
    std::vector<u16> counts(static_cast<std::size_t>(lead), previous);
    const std::vector<u16> shown = progression(first, step, displayLines);
    counts.insert(counts.end(), shown.begin(), shown.end());
    counts.resize(static_cast<std::size_t>(visibleLines), shown.back());
    return counts;
}

}  // namespace

// NTSC at 224 lines and PAL at 256: every field after the first (which may
// have started before the program) as the program saw it.
TEST_F(Vdp2SystemTest, ProgressiveFieldsSeenByAPollingProgram)
{
    struct Standard {
        bool pal;
        u16 tvmd;
        u16 palBit;
        int displayLines;
        int visibleLines;
    };
    for (const Standard& s : {Standard{false, 0x8000, 0, 224, 242}, Standard{true, 0x8020, kPal, 256, 290}}) {
        SCOPED_TRACE(s.pal ? "PAL" : "NTSC");
        TearDown();  // a fresh machine for each standard
        SetUp();
        run(s.pal, s.tvmd, 3);
        const std::vector<Field> seen = fields();
        ASSERT_GE(seen.size(), 3u);
        const u16 last = static_cast<u16>(2 * (s.displayLines - 1));
        for (std::size_t f = 1; f < seen.size(); ++f) {
            const Field& field = seen[f];
            SCOPED_TRACE(f);
            ASSERT_GE(field.samples.size(), 2u);
            EXPECT_EQ(field.samples[0].tvstat, kVBlank | kOdd | s.palBit);
            EXPECT_EQ(field.samples[1].tvstat, kOdd | s.palBit) << "V-BLANK-OUT clears VBLANK; every field is odd";
            EXPECT_EQ(field.lineCounts(), fieldCounts(2, last, 0, 2, s.displayLines, s.visibleLines));
            for (std::size_t i = 1; i < field.samples.size(); ++i)
                ASSERT_FALSE(field.samples[i].tvstat & kVBlank) << i;
        }
        EXPECT_EQ(sys->getDisplaySize().width, 320u);
        EXPECT_EQ(sys->getDisplaySize().height, static_cast<u32>(s.displayLines));
    }
}

TEST_F(Vdp2SystemTest, DoubleDensityInterlaceAlternatesFields)
{
    run(false, 0x80C0, 5);
    const std::vector<Field> seen = fields();
    ASSERT_GE(seen.size(), 5u);
    // Once an odd field has started a frame the picture is 448 lines high,
    // so from the third field on each field counts all its 224 lines.
    int odd = 0;
    int even = 0;
    for (std::size_t f = 2; f < seen.size(); ++f) {
        const Field& field = seen[f];
        SCOPED_TRACE(f);
        ASSERT_GE(field.samples.size(), 2u);
        const bool isOdd = field.samples[1].tvstat & kOdd;
        EXPECT_NE(isOdd, bool(seen[f - 1].samples[1].tvstat & kOdd)) << "fields alternate";
        const u16 previous = field.samples[1].vcnt;
        if (isOdd) {
            ++odd;
            EXPECT_EQ(previous, 895) << "the even field ended on display line 447";
            EXPECT_EQ(field.lineCounts(), fieldCounts(1, 895, 0, 4, 224, 242));
        } else {
            ++even;
            EXPECT_EQ(previous, 892) << "the odd field ended on display line 446";
            EXPECT_EQ(field.lineCounts(), fieldCounts(1, 892, 3, 4, 224, 242));
        }
    }
    EXPECT_GE(odd, 1);
    EXPECT_GE(even, 1);
    EXPECT_EQ(sys->getDisplaySize().width, 320u);
    EXPECT_EQ(sys->getDisplaySize().height, 448u);
}

TEST_F(Vdp2SystemTest, DisplayOffHoldsVBlankThroughEveryLine)
{
    run(false, 0x0000, 3);
    const std::vector<Sample> all = samples();
    ASSERT_GT(all.size(), 3u * 2 * 242);
    int hblanks = 0;
    int zeros = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        ASSERT_TRUE(all[i].tvstat & kVBlank) << i;
        if ((all[i].tvstat & kHBlank) && (i == 0 || !(all[i - 1].tvstat & kHBlank)))
            ++hblanks;
        // The counter keeps running: it restarts at 0 once per field.
        if (i > 0 && all[i].vcnt == 0 && all[i - 1].vcnt != 0)
            ++zeros;
    }
    EXPECT_EQ(hblanks, 3 * 242);
    EXPECT_EQ(zeros, 2) << "two fields after the first restart the count";
}

TEST_F(Vdp2SystemTest, SlaveAccessesAreServedAndLogged)
{
    sys->powerOn();
    PageMap& slaveBus = *sys->slave().pageMap();
    CPU* slave = &sys->slave();
    LogCapture log;
    slaveBus.writeWord(slave, kTvmd, 0x8123);
    EXPECT_EQ(slaveBus.readWord(slave, kTvmd), 0x8123);
    slaveBus.writeByte(slave, 0x25F80010, 0x44);
    EXPECT_EQ(slaveBus.readByte(slave, 0x25F80010), 0);
    EXPECT_EQ(log.text(),
              "VDP2: Slave SH2: WW [A:25F80000, D: 8123]\n"
              "VDP2: Slave SH2: RW [A:25F80000]\n"
              "VDP2: Slave SH2: WB [A:25F80010, D: 44]\n"
              "VDP2: Slave SH2: RB [A:25F80010]\n");
    EXPECT_EQ(sys->vdp2().reg(VDP2::CYCA0L), 0x4400);

    // The master is not logged, and neither are the memories.
    log.clear();
    PageMap& bus = *sys->master().pageMap();
    bus.writeWord(&sys->master(), kTvmd, 0x8000);
    slaveBus.writeWord(slave, 0x25F00010, 0x1234);
    slaveBus.writeLong(slave, 0x25E00000, 0xCAFEF00D);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(bus.readWord(&sys->master(), 0x25F00810), 0x1234);
    EXPECT_EQ(bus.readLong(&sys->master(), 0x05E80000), 0xCAFEF00Du);
    EXPECT_EQ(sys->memory().vdp2Vram[0], 0xCA);
    EXPECT_EQ(bus.readByte(&sys->master(), 0x05EFFFFF), sys->memory().vdp2Vram[0x7FFFF]);
}
