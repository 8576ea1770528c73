// Assembled programs: the clock table, and self-checking programs per
// instruction family that leave their verdict in memory.

#include <gtest/gtest.h>

#include "m68k_testbench.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

constexpr u32 kBase = 0x1000;
constexpr u32 kStack = 0x7F000;

}  // namespace

TEST(M68kPrograms, EveryFormChargesItsClocks)
{
    const std::vector<u8> program = loadProgram("m68k", "cycles");
    ASSERT_GT(program.size(), 12u);
    LogCapture quiet;
    M68kTestBench b;
    b.load(program, kBase);
    const u32 code = b.peek32(kBase);
    const u32 table = b.peek32(kBase + 4);
    const u32 end = b.peek32(kBase + 8);
    ASSERT_GT(end, table);
    b.start(code, kStack);
    int timed = 0;
    for (u32 entry = table; entry < end; entry += 2) {
        const u32 pc = b.cpu->pc();
        const u32 clocks = b.step();
        const u16 expected = b.peek16(entry);
        if (expected) {
            ++timed;
            EXPECT_EQ(clocks, expected) << std::hex << "instruction at " << pc << ", opcode " << b.peek16(pc);
        }
    }
    EXPECT_GT(timed, 150);
    // The last entry left the CPU on the closing BRA.S *.
    EXPECT_EQ(b.peek16(b.cpu->pc()), 0x60FE);
}

namespace {

struct Verdict {
    u16 result;
    u16 checks;
};

Verdict runSelfCheck(const std::string& name)
{
    LogCapture quiet;
    M68kTestBench b;
    b.load(loadProgram("m68k", name), kBase);
    b.start(kBase, kStack);
    b.run(200000);
    return {b.peek16(0x7000), b.peek16(0x7002)};
}

}  // namespace

// Each program stops at its first failing check and leaves the check's
// number; 0x600D means every check passed.
TEST(M68kPrograms, SelfCheckingProgramsPerFamily)
{
    const struct {
        const char* name;
        u16 checks;
    } programs[] = {
        {"move", 24}, {"arith", 20}, {"logic", 14}, {"bits", 11}, {"shift", 14}, {"muldiv", 16}, {"control", 12},
    };
    for (const auto& p : programs) {
        const Verdict v = runSelfCheck(p.name);
        EXPECT_EQ(v.result, 0x600D) << p.name << " failed check " << v.result;
        EXPECT_EQ(v.checks, p.checks) << p.name;
    }
}
