#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "core/base/cpu.h"
#include "core/base/shared_state.h"
#include "support/log_capture.h"

namespace {

// A toy processor: 2-byte instructions, each a nop unless the program map
// says it is a call (with a delay slot) or a return. Enough to exercise
// the base's breakpoints and steps.
class ToyCpu : public CPU {
public:
    ToyCpu() : CPU("TOY", std::make_unique<PageMap>()) {}

    struct Op {
        int type;
        u32 target;
        bool delaySlot;
    };
    std::map<u32, Op> program;
    std::vector<u32> returnStack;
    u32 executed = 0;

    u32 getPC() override { return m_pc; }
    void setPC(u32 pc) override { m_pc = pc; }
    int getInstructionType(u32 a) override { auto it = program.find(a); return it == program.end() ? kOther : it->second.type; }
    u32 getBranchTarget(u32 a) override
    {
        auto it = program.find(a);
        if (it == program.end())
            return 0;
        if (it->second.type == kReturn)
            return returnStack.empty() ? 0 : returnStack.back();
        return it->second.target;
    }
    bool hasDelaySlot(u32 a) override { auto it = program.find(a); return it != program.end() && it->second.delaySlot; }

    u32 execute(u32) override
    {
        while (m_clocksLeft > 0) {
            if (m_debug && checkBreakpoint(m_pc))
                break;
            step();
            --m_clocksLeft;
        }
        return clocksUsed();
    }

private:
    void step()
    {
        ++executed;
        auto it = program.find(m_pc);
        if (it == program.end()) {
            m_pc += 2;
            return;
        }
        const Op op = it->second;
        const u32 after = m_pc + (op.delaySlot ? 4 : 2);
        if (op.type == kCall) {
            returnStack.push_back(after);
            m_pc = op.target;
        } else if (op.type == kReturn) {
            m_pc = returnStack.back();
            returnStack.pop_back();
        } else if (op.type == kJump) {
            m_pc = op.target;
        } else {
            m_pc = after;
        }
    }
};

std::unique_ptr<ToyCpu> makeCpu()
{
    auto cpu = std::make_unique<ToyCpu>();
    cpu->setPeriod(1);
    cpu->switchOn();
    return cpu;
}

u8 rb(void* owner, CPU*, u32) { return static_cast<u8>(reinterpret_cast<uintptr_t>(owner)); }
u16 rw(void* owner, CPU*, u32) { return static_cast<u16>(reinterpret_cast<uintptr_t>(owner)); }
u32 rl(void* owner, CPU*, u32) { return static_cast<u32>(reinterpret_cast<uintptr_t>(owner)); }
void wb(void*, CPU*, u32, u8) {}
void ww(void*, CPU*, u32, u16) {}
void wl(void*, CPU*, u32, u32) {}

AccessHandlers tagged(uintptr_t tag)
{
    return {reinterpret_cast<void*>(tag), rb, wb, rw, ww, rl, wl};
}

class CpuTest : public ::testing::Test {
protected:
    void SetUp() override { debugBreak = 0; }
    void TearDown() override { debugBreak = 0; }
};

}  // namespace

TEST_F(CpuTest, UnmappedAccessesLogAndReadZero)
{
    LogCapture log;
    auto cpu = makeCpu();
    PageMap& map = *cpu->pageMap();
    EXPECT_EQ(map.readByte(cpu.get(), 0x12345678), 0);
    EXPECT_EQ(map.readWord(cpu.get(), 0x00000002), 0);
    EXPECT_EQ(map.readLong(cpu.get(), 0xFFFFFFFC), 0u);
    map.writeByte(cpu.get(), 0x20000001, 0xAB);
    map.writeWord(cpu.get(), 0x20000002, 0xBEEF);
    map.writeLong(cpu.get(), 0x20000004, 0xDEADBEEF);
    EXPECT_EQ(log.text(),
              "TOY: Bad RB [A: 12345678]\n"
              "TOY: Bad RW [A: 00000002]\n"
              "TOY: Bad RL [A: FFFFFFFC]\n"
              "TOY: Bad WB [A: 20000001, D: AB]\n"
              "TOY: Bad WW [A: 20000002, D: BEEF]\n"
              "TOY: Bad WL [A: 20000004, D: DEADBEEF]\n");
}

TEST_F(CpuTest, LaterWindowWinsPageByPage)
{
    auto cpu = makeCpu();
    cpu->mapWindows({{0x06000000, 0x060FFFFF, tagged(1)}, {0x06040000, 0x0604FFFF, tagged(2)}});
    PageMap& map = *cpu->pageMap();
    EXPECT_EQ(map.readByte(cpu.get(), 0x06000000), 1);
    EXPECT_EQ(map.readWord(cpu.get(), 0x0603FFFE), 1);
    EXPECT_EQ(map.readLong(cpu.get(), 0x06040000), 2u);
    EXPECT_EQ(map.readLong(cpu.get(), 0x0604FFFC), 2u);
    EXPECT_EQ(map.readByte(cpu.get(), 0x06050000), 1);
    // The last page of the bus is reachable and stops the walk.
    cpu->mapWindows({{0xFFFF0000, 0xFFFFFFFF, tagged(3)}});
    EXPECT_EQ(map.readByte(cpu.get(), 0xFFFFFFFF), 3);
    EXPECT_EQ(map.readByte(cpu.get(), 0x00000000), 0);
    cpu->unmapRange(0x06040000, 0x0604FFFF);
    LogCapture log;
    EXPECT_EQ(map.readByte(cpu.get(), 0x06040000), 0);
    EXPECT_TRUE(log.contains("Bad RB [A: 06040000]"));
}

TEST_F(CpuTest, DirectPointersReachTheMappedBytesAndDefaultToTheDummyPage)
{
    auto cpu = makeCpu();
    std::vector<u8> ram(0x20000);
    ram[0x1234] = 0x5A;
    ram[0x1FFFF] = 0xA5;
    EXPECT_EQ(cpu->directBase(0x06001234) + 0x06001234, reinterpret_cast<uintptr_t>(cpu->dummyPage()) + 0x1234);
    cpu->mapDirect({{0x06000000, 0x0601FFFF, ram.data()}});
    auto at = [&](u32 a) { return *reinterpret_cast<const u8*>(cpu->directBase(a) + a); };
    EXPECT_EQ(at(0x06001234), 0x5A);
    EXPECT_EQ(at(0x0601FFFF), 0xA5);
    EXPECT_EQ(cpu->directBase(0x06020000) + 0x06020000, reinterpret_cast<uintptr_t>(cpu->dummyPage()));
}

// Plain memory named with its handlers is reached without them, mirrored
// by its mask, big-endian, with the access width's alignment; a later
// window over a page takes the page back for its handlers, and a mask
// narrower than a page keeps the handlers.
TEST_F(CpuTest, PlainMemoryPagesBypassTheirHandlersUntilMappedOver)
{
    auto cpu = makeCpu();
    PageMap& map = *cpu->pageMap();
    std::vector<u8> ram(0x20000);
    AccessHandlers plain = tagged(7);
    plain.ram = ram.data();
    plain.ramMask = 0x1FFFF;
    cpu->mapWindows({{0x06000000, 0x060FFFFF, plain}});
    map.writeLong(cpu.get(), 0x06001237, 0x11223344);  // aligned down to 0x1234
    EXPECT_EQ(ram[0x1234], 0x11);
    EXPECT_EQ(ram[0x1237], 0x44);
    EXPECT_EQ(map.readWord(cpu.get(), 0x06021237), 0x3344) << "mirror at 128 KB";
    map.writeWord(cpu.get(), 0x0601FFFF, 0xBEEF);
    EXPECT_EQ(ram[0x1FFFE], 0xBE);
    map.writeByte(cpu.get(), 0x06040001, 0x5A);
    EXPECT_EQ(ram[0x0001], 0x5A);
    EXPECT_EQ(map.readByte(cpu.get(), 0x06000001), 0x5A);
    EXPECT_EQ(map.readLong(cpu.get(), 0x06001234), 0x11223344u);
    EXPECT_EQ(map.ramPages()[0x0601], ram.data() + 0x10000);

    cpu->mapWindows({{0x06010000, 0x0601FFFF, tagged(9)}});
    EXPECT_EQ(map.readLong(cpu.get(), 0x06010000), 9u);
    EXPECT_EQ(map.ramPages()[0x0601], nullptr);
    EXPECT_EQ(map.readByte(cpu.get(), 0x06020001), 0x5A) << "the pages around it stay plain";

    AccessHandlers narrow = plain;
    narrow.ramMask = 0x7FFF;
    cpu->mapWindows({{0x06000000, 0x0600FFFF, narrow}});
    EXPECT_EQ(map.ramPages()[0x0600], nullptr);
    EXPECT_EQ(map.readLong(cpu.get(), 0x06001234), 7u);
}

TEST_F(CpuTest, InterruptsQueueByLevelAndRefuseADuplicateVector)
{
    auto cpu = makeCpu();
    EXPECT_TRUE(cpu->requestInterrupt(0x40, 3));
    EXPECT_TRUE(cpu->requestInterrupt(0x41, 7));
    EXPECT_TRUE(cpu->requestInterrupt(0x42, 3));
    EXPECT_FALSE(cpu->requestInterrupt(0x40, 3));
    EXPECT_FALSE(cpu->requestInterrupt(0x40, 15));
    std::vector<int> order;
    while (cpu->hasPendingInterrupt()) {
        order.push_back(cpu->topInterrupt().vector);
        cpu->popInterrupt();
    }
    EXPECT_EQ(order, (std::vector<int>{0x41, 0x40, 0x42}));
    EXPECT_TRUE(cpu->requestInterrupt(0x40, 3));  // taken, so it may come again
}

TEST_F(CpuTest, BreakpointWithHitCountThreeStopsOnTheThirdPass)
{
    auto cpu = makeCpu();
    cpu->program[0x10] = {CPU::kJump, 0x0, false};  // a loop of 9 instructions
    EXPECT_EQ(cpu->debugSwitch(), 0);
    cpu->setBreakpoint(0x8, 3);
    EXPECT_EQ(cpu->debugSwitch(), 1);
    cpu->runUntil(1000);
    EXPECT_EQ(debugBreak, 1);
    EXPECT_EQ(cpu->getPC(), 0x8u);
    EXPECT_EQ(cpu->executed, 9u * 2 + 4);
    // Resuming at the breakpoint does not stop again before a clock has run.
    debugBreak = 0;
    cpu->findBreakpoint(0x8)->hitCount = 1;
    cpu->runUntil(5);
    EXPECT_EQ(debugBreak, 0);
    cpu->removeBreakpoint(0x8);
    EXPECT_EQ(cpu->debugSwitch(), 0);
}

TEST_F(CpuTest, DisabledBreakpointNeverStops)
{
    auto cpu = makeCpu();
    cpu->setBreakpoint(0x4);
    cpu->findBreakpoint(0x4)->enabled = false;
    cpu->runUntil(100);
    EXPECT_EQ(debugBreak, 0);
    EXPECT_EQ(cpu->executed, 100u);
}

TEST_F(CpuTest, StepOverACallWithADelaySlotStopsFourBytesOn)
{
    auto cpu = makeCpu();
    cpu->setPC(0x100);
    cpu->program[0x100] = {CPU::kCall, 0x400, true};
    cpu->program[0x420] = {CPU::kReturn, 0, false};
    cpu->stepOver();
    EXPECT_EQ(cpu->stepTarget(), 0x104u);
    cpu->runUntil(1000);
    EXPECT_EQ(debugBreak, 1);
    EXPECT_EQ(cpu->getPC(), 0x104u);
    EXPECT_EQ(cpu->executed, 1u + 16 + 1);
    EXPECT_FALSE(cpu->stepPending());
    EXPECT_EQ(cpu->debugSwitch(), 0);
}

TEST_F(CpuTest, StepIntoFollowsTheCallAndStepOutReturns)
{
    auto cpu = makeCpu();
    cpu->setPC(0x100);
    cpu->program[0x100] = {CPU::kCall, 0x400, true};
    cpu->program[0x404] = {CPU::kCall, 0x800, false};  // nested call: depth counting
    cpu->program[0x800] = {CPU::kReturn, 0, false};
    cpu->program[0x420] = {CPU::kReturn, 0, false};
    cpu->stepInto();
    EXPECT_EQ(cpu->stepTarget(), 0x400u);
    cpu->runUntil(1000);
    EXPECT_EQ(cpu->getPC(), 0x400u);

    debugBreak = 0;
    cpu->stepOut();
    cpu->runUntil(1000);
    EXPECT_EQ(debugBreak, 1);
    EXPECT_EQ(cpu->getPC(), 0x104u);
}
