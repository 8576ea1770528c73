// The compiled disc waits on both processors in every shape the SH-2 skips
// (delayed branches, chains of calls, counts with a limit, steady device
// registers) while the CD block, the timers and V-BLANK-IN move on between
// slices. With a breakpoint armed that the program never reaches, nothing
// is skipped: both runs must leave the machine in the same state after
// every field.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/base/shared_state.h"
#include "core/emulator/kest.h"
#include "support/files.h"

namespace {

constexpr int kFields = 60;
constexpr u32 kNowhere = 0x01000000;

// Per field: a digest of both work RAMs and every register of both SH-2s.
std::vector<u64> runCompiledDisc(bool reference, const std::string& folder)
{
    scheduler().clear();
    debugBreak = sliceResume = debugStopped = 0;
    auto kest = std::make_unique<Kest>();
    kest->setDataFolder(folder);
    std::vector<u64> digests;
    if (!kest->prepare(nullptr) || !kest->open(KEST_BINARY_DIR "/testdata/compiled.iso", 0))
        return digests;
    kest->start();
    kest->resume();
    CSystem& sys = kest->getSystem();
    if (reference) {
        sys.master().setBreakpoint(kNowhere);
        sys.slave().setBreakpoint(kNowhere);
    }
    for (int field = 0; field < kFields; ++field) {
        kest->update();
        u64 digest = 1469598103934665603ull;
        const auto add = [&digest](u32 v) { digest = (digest ^ v) * 1099511628211ull; };
        for (const u8* ram : {sys.memory().workRamHigh.get(), sys.memory().workRamLow.get()}) {
            for (u32 i = 0; i < SystemMemory::kWorkRamSize; i += 4)
                add(loadBe32(ram + i));
        }
        for (SH2* cpu : {&sys.master(), &sys.slave()}) {
            for (int n = 0; n <= 22; ++n)
                add(cpu->getRegister(n));
            add(cpu->frt.frc);
            add(cpu->frt.ftcsr);
        }
        digests.push_back(digest);
    }
    kest->stop();
    kest.reset();
    scheduler().clear();
    return digests;
}

}  // namespace

TEST(WaitingLoops, SkippingLeavesTheMachineAsRunningDoes)
{
    TempDir dir;
    const std::vector<u64> skipped = runCompiledDisc(false, dir.path().string());
    const std::vector<u64> run = runCompiledDisc(true, dir.path().string());
    ASSERT_EQ(run.size(), static_cast<size_t>(kFields));
    for (int field = 0; field < kFields; ++field)
        ASSERT_EQ(skipped[field], run[field]) << "first differs after field " << field;
}
