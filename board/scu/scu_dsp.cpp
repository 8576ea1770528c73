#include "board/scu/scu_dsp.h"

#include "board/scu/scu.h"
#include "board/scu/scu_dmac.h"

namespace {

constexpr u32 kAddressMask = 0x7FFFFFF;
constexpr s64 kProductMax = (s64{1} << 47) - 1;
constexpr s64 kProductMin = -(s64{1} << 47);
constexpr u64 kMask48 = (u64{1} << 48) - 1;

u32 signExtend(u32 value, int bits)
{
    const int shift = 32 - bits;
    return static_cast<u32>(static_cast<s32>(value << shift) >> shift);
}

}  // namespace

const ScuDsp::Class ScuDsp::kClasses[32] = {
    kOperation, kOperation, kOperation, kOperation, kOperation, kOperation, kOperation, kOperation,
    kIllegal,   kIllegal,   kIllegal,   kIllegal,   kIllegal,   kIllegal,   kIllegal,   kIllegal,
    kMvi,       kMvi,       kMvi,       kMvi,       kMvi,       kMvi,       kMvi,       kMvi,
    kDma,       kDma,       kJump,      kJump,      kBtm,       kLps,       kEnd,       kEndi,
};

ScuDsp::ScuDsp(SCU* scu, ScuDmac* dmac) : Device("SCU.DSP"), m_scu(scu), m_dmac(dmac) {}

void ScuDsp::reset()
{
    for (u32& w : m_program)
        w = 0;
    for (auto& bank : m_data) {
        for (u32& w : bank)
            w = 0;
    }
    for (u8& ct : m_ct)
        ct = 0;
    m_acl = m_ach = m_pl = m_ph = m_alu = m_aluh = m_rx = m_ry = m_ra0 = m_wa0 = m_lop = 0;
    m_top = 0;
    m_s = m_z = m_c = m_v = m_e = m_t0 = 0;
    setRun(0, 0);
    m_es = 0;
    m_portBank = m_portAddress = 0;
    m_pc = m_next = m_delaySlot = m_jumped = 0;
}

u32 ScuDsp::execute(u32 clocks)
{
    if (m_idle) {
        m_clocksLeft = 0;
        return clocks;
    }
    while (m_clocksLeft > 0) {
        if (runInstruction())
            break;
    }
    return static_cast<u32>(m_budget - m_clocksLeft);
}

void ScuDsp::step()
{
    if (!m_es)
        return;
    const s32 savedLeft = m_clocksLeft;
    const s32 savedBudget = m_budget;
    m_clocksLeft = m_budget = 1;
    while (m_clocksLeft > 0) {
        if (runInstruction())
            break;
    }
    m_clocksLeft = savedLeft;
    m_budget = savedBudget;
    m_es = 0;
}

bool ScuDsp::runInstruction()
{
    const bool inDelaySlot = m_delaySlot;
    if (!inDelaySlot)
        m_next = static_cast<u8>(m_pc + 1);
    const u32 op = m_program[m_pc];
    m_jumped = 0;
    switch (kClasses[op >> 27]) {
    case kOperation: operation(op); break;
    case kIllegal: logWarning(1, "Illegal%s instruction [PC: %02X, OP: %08X]", "", m_pc, op); break;
    case kMvi: moveImmediate(op); break;
    case kDma: dma(op); break;
    case kJump: jump(op); break;
    case kBtm: loopBottom(op); break;
    case kLps: loopStart(op); break;
    case kEnd: end(op, false); return true;
    case kEndi: end(op, true); return true;
    }
    if (m_jumped) {
        // The delay slot runs next without a clock of its own. A jump that
        // is itself in a delay slot pays one, so chains of them end.
        if (inDelaySlot)
            --m_clocksLeft;
        return false;
    }
    --m_clocksLeft;
    m_delaySlot = 0;
    m_pc = m_next;
    return false;
}

void ScuDsp::takeJump(u8 target)
{
    m_pc = static_cast<u8>(m_pc + 1);
    m_next = target;
    m_delaySlot = 1;
    m_jumped = 1;
}

void ScuDsp::warnDelaySlot(const char* what, u32 op)
{
    if (m_delaySlot)
        logWarning(1, "%s in a delay slot [PC: %02X, OP: %08X]", what, m_pc, op);
}

void ScuDsp::setSZ(u32 value)
{
    m_s = static_cast<u8>(value >> 31);
    m_z = value == 0;
}

void ScuDsp::storeData(u32 bank, u32 value)
{
    bank &= 3;
    m_data[bank][m_ct[bank]] = value;
    m_ct[bank] = (m_ct[bank] + 1) & 63;
}

void ScuDsp::alu(u32 op)
{
    const u32 acl = m_acl;
    const u32 pl = m_pl;
    u32 r = 0;
    switch ((op >> 26) & 15) {
    case 0:
        return;
    case 1: r = acl & pl; m_c = 0; break;
    case 2: r = acl | pl; m_c = 0; break;
    case 3: r = acl ^ pl; m_c = 0; break;
    case 4: {
        const u64 sum = u64{acl} + pl;
        r = static_cast<u32>(sum);
        m_c = static_cast<u8>(sum >> 32);
        m_v = static_cast<u8>((~(acl ^ pl) & (acl ^ r)) >> 31);
        break;
    }
    case 5:
        r = acl - pl;
        m_c = acl < pl;
        m_v = static_cast<u8>(((acl ^ pl) & (acl ^ r)) >> 31);
        break;
    case 6:
    case 7: {
        const u64 a = u64{m_ach & 0xFFFF} << 32 | acl;
        const u64 p = u64{m_ph & 0xFFFF} << 32 | pl;
        u64 wide;
        if (((op >> 26) & 15) == 6) {
            wide = a + p;
            m_v = static_cast<u8>(((~(a ^ p) & (a ^ wide)) >> 47) & 1);
        } else {
            logError(1, "Undefined instruction SB2?");
            wide = a - p;
            m_v = static_cast<u8>((((a ^ p) & (a ^ wide)) >> 47) & 1);
        }
        m_c = static_cast<u8>((wide >> 48) & 1);
        wide &= kMask48;
        m_alu = static_cast<u32>(wide);
        m_aluh = static_cast<u32>(wide >> 32);
        m_s = static_cast<u8>((wide >> 47) & 1);
        m_z = wide == 0;
        return;
    }
    case 8: r = static_cast<u32>(static_cast<s32>(acl) >> 1); m_c = acl & 1; break;
    case 9: r = acl >> 1 | acl << 31; m_c = acl & 1; break;
    case 10: r = acl << 1; m_c = static_cast<u8>(acl >> 31); break;
    case 11: r = acl << 1 | acl >> 31; m_c = static_cast<u8>(acl >> 31); break;
    case 15: r = acl << 8 | acl >> 24; m_c = (acl >> 24) & 1; break;
    default:
        logWarning(1, "Illegal%s instruction [PC: %02X, OP: %08X]", " ALU", m_pc, op);
        return;
    }
    m_alu = r;
    setSZ(r);
}

void ScuDsp::operation(u32 op)
{
    alu(op);
    // Counters that step at the end of the instruction, one bit per bank.
    u32 increment = 0;

    const u32 xBank = (op >> 20) & 3;
    const u32 xStep = ((op >> 22) & 1) << xBank;
    switch ((op >> 23) & 3) {
    case 2: {
        const s64 product = s64{static_cast<s32>(m_rx)} * static_cast<s32>(m_ry);
        if (product < kProductMin || product > kProductMax)
            logError(1, "MULTIPLIER overflow [RX: %08X, RY: %08X, product: %016llX]", m_rx, m_ry,
                     static_cast<unsigned long long>(product));
        m_pl = static_cast<u32>(product);
        m_ph = static_cast<u32>(static_cast<u64>(product) >> 32);
        break;
    }
    case 3: {
        const u32 v = ramAt(xBank);
        m_pl = v;
        m_ph = signExtend(v >> 31, 1);
        increment |= xStep;
        break;
    }
    default:
        break;
    }
    if (op & (1u << 25)) {
        m_rx = ramAt(xBank);
        increment |= xStep;
    }

    const u32 yBank = (op >> 14) & 3;
    const u32 yStep = ((op >> 16) & 1) << yBank;
    switch ((op >> 17) & 3) {
    case 1:
        m_acl = m_ach = 0;
        break;
    case 2:
        m_acl = m_alu;
        m_ach = m_aluh & 0xFFFF;
        break;
    case 3: {
        const u32 v = ramAt(yBank);
        m_acl = v;
        m_ach = (v >> 31) ? 0xFFFF : 0;
        increment |= yStep;
        break;
    }
    default:
        break;
    }
    if (op & (1u << 19)) {
        m_ry = ramAt(yBank);
        increment |= yStep;
    }

    const u32 d1 = (op >> 12) & 3;
    u32 value = 0;
    if (d1 == 2) {
        logWarning(1, "Illegal%s instruction [PC: %02X, OP: %08X]", " D1-BUS", m_pc, op);
    } else if (d1 == 3) {
        const u32 source = op & 15;
        if (source < 4) {
            value = ramAt(source);
        } else if (source < 8) {
            value = ramAt(source - 4);
            increment |= 1u << (source - 4);
        } else if (source == 9) {
            value = m_alu;
        } else if (source == 10) {
            value = m_aluh << 16 | m_alu >> 16;
        } else {
            logWarning(1, "i_movsd_r, invalid source selection [OP: %08X, SEL: %1X]", op, source);
        }
    }

    for (u32 n = 0; increment; ++n, increment >>= 1)
        m_ct[n] = (m_ct[n] + (increment & 1)) & 63;

    if (d1 != 1 && d1 != 3)
        return;
    const u32 destination = (op >> 8) & 15;
    const bool immediate = d1 == 1;
    if (immediate)
        value = signExtend(op & 0xFF, 8);
    const bool negative = immediate && (op & 0x80);
    switch (destination) {
    case 0: case 1: case 2: case 3:
        storeData(destination, value);
        break;
    case 4: m_rx = value; break;
    case 5: m_pl = value; break;
    case 6:
        if (negative)
            logError(1, "i_movid, write to RA0 when simm is negative [OP: %08X, SIMM: %08X]", op, value);
        m_ra0 = immediate ? (op & 0xFF) : value;
        break;
    case 7:
        if (negative)
            logError(1, "i_movid, write to WA0 when simm is negative [OP: %08X, SIMM: %08X]", op, value);
        m_wa0 = immediate ? (op & 0xFF) : value;
        break;
    case 10:
        if (negative)
            logError(1, "i_movid, write to LOP when simm is negative [OP: %08X, SIMM: %08X]", op, value);
        m_lop = (immediate ? (op & 0xFF) : value) & 0xFFF;
        break;
    case 11: m_top = static_cast<u8>(value); break;
    case 12: case 13: case 14: case 15:
        m_ct[destination - 12] = value & 63;
        break;
    default:
        if (immediate)
            logWarning(1, "i_movid, invalid destination selection [OP: %08X, SEL: %1X]", op, destination);
        else
            logWarning(1, "i_movsd_w, invalid destination selection [OP: %08X, SEL: %1X]", op, destination);
        break;
    }
}

bool ScuDsp::condition(u32 field)
{
    u8 flag = 0;
    switch (field & 31) {
    case 1: flag = m_z; break;
    case 2: flag = m_s; break;
    case 3: flag = m_z | m_s; break;
    case 4: flag = m_c; break;
    case 8: flag = m_t0; break;
    default:
        logWarning(1, "Invalid condition [COND: %02X]", field);
        break;
    }
    return (field & 32) ? flag != 0 : flag == 0;
}

void ScuDsp::moveImmediate(u32 op)
{
    u32 field;
    u32 imm;
    if (op & (1u << 25)) {
        if (!condition((op >> 19) & 63))
            return;
        field = op & 0x7FFFF;
        imm = signExtend(field, 19);
    } else {
        field = op & 0x1FFFFFF;
        imm = signExtend(field, 25);
    }
    const u32 destination = (op >> 26) & 15;
    switch (destination) {
    case 0: case 1: case 2: case 3:
        storeData(destination, imm);
        break;
    case 4: m_rx = imm; break;
    case 5: m_pl = imm; break;
    case 6: m_ra0 = field; break;
    case 7: m_wa0 = field; break;
    case 10: m_lop = field & 0xFFF; break;
    case 12:
        warnDelaySlot("MVI(Set PC)", op);
        takeJump(static_cast<u8>(imm));
        m_top = m_pc;
        break;
    default:
        logWarning(1, "setMVI, invalid destination selection [OP: %08X, SEL: %1X, immLen: %d]", op, destination, 25);
        break;
    }
}

void ScuDsp::jump(u32 op)
{
    warnDelaySlot("JMP", op);
    const u32 field = (op >> 19) & 63;
    if (op & (1u << 25)) {
        if (condition(field))
            takeJump(static_cast<u8>(op));
        return;
    }
    // Without bit 25 the condition bits mean nothing: the jump is taken.
    if (field)
        logWarning(1, "Unconditional Jump with conditions [CON: %02X]", field);
    takeJump(static_cast<u8>(op));
}

void ScuDsp::loopBottom(u32 op)
{
    warnDelaySlot("BTM", op);
    if (m_lop == 0)
        return;
    m_lop = (m_lop - 1) & 0xFFF;
    takeJump(m_top);
}

void ScuDsp::loopStart(u32 op)
{
    warnDelaySlot("LPS", op);
    if (m_lop == 0)
        return;
    m_lop = (m_lop - 1) & 0xFFF;
    m_next = m_pc;
    m_pc = static_cast<u8>(m_pc + 1);
    m_delaySlot = 1;
    m_jumped = 1;
}

void ScuDsp::end(u32 op, bool interrupt)
{
    warnDelaySlot(interrupt ? "ENDI" : "END", op);
    if (!interrupt)
        m_pc = static_cast<u8>(m_pc + 1);
    setRun(0, 0);
    m_es = m_t0 = m_delaySlot = m_jumped = 0;
    if (!interrupt) {
        logInfo(2, "end [PC: %02X]", m_pc);
        return;
    }
    if (m_e == 0) {
        if (!scheduleIn(0, onSignalEnd, this, 1, Scheduler::kOneShot, 0))
            signalEnd();
    } else {
        logWarning(1, "End interrupt will not be triggered when E is 1");
    }
    m_pc = static_cast<u8>(m_pc + 1);
    logInfo(2, "endi [PC: %02X]", m_pc);
}

void ScuDsp::onSignalEnd(void* owner, u32)
{
    static_cast<ScuDsp*>(owner)->signalEnd();
}

void ScuDsp::signalEnd()
{
    m_e = 1;
    m_scu->irqDspEnd();
}

void ScuDsp::dma(u32 op)
{
    m_t0 = 1;
    const bool out = op & (1u << 12);
    const bool hold = op & (1u << 14);
    const u32 address = ((out ? m_wa0 : m_ra0) * 4) & kAddressMask;
    ScuDmac::D0& channel = m_dmac->d0();
    if (!channel.setup(address, (op >> 15) & 7, out, hold)) {
        m_t0 = 0;
        return;
    }
    u32 count;
    if (op & (1u << 13)) {
        const u32 bank = op & 3;
        count = ramAt(bank);
        m_ct[bank] = (m_ct[bank] + ((op >> 2) & 1)) & 63;
        if (count > 255)
            logError(1, "Invalid transfer count [C: %02X]", count);
        if (count > kDmaWordLimit)
            count = kDmaWordLimit;
    } else {
        count = op & 0xFF;
    }
    const u32 select = (op >> 8) & 15;
    u32 index = 0;
    if (select < 4)
        index = m_ct[select];
    else if (select == 4)
        logWarning(1, "DMA transfer to PRG [PC: %02X]", m_pc);
    else
        logError(1, "DMA bad RAM selection [SEL: %1X]", select);

    // Four words per clock.
    m_clocksLeft -= static_cast<s32>(count >> 2);
    if (!out) {
        for (u32 i = 0; i < count; ++i, ++index) {
            const u32 v = channel.readWord();
            if (select < 4)
                m_data[select][index & 63] = v;
            else if (select == 4)
                m_program[index & 0xFF] = v;
        }
    } else {
        for (u32 i = 0; i < count; ++i, ++index)
            channel.writeWord(select < 4 ? m_data[select][index & 63] : 0);
    }
    if (select < 4)
        m_ct[select] = index & 63;
    if (!hold)
        (out ? m_wa0 : m_ra0) = channel.address() >> 2;
    m_t0 = 0;
}

u32 ScuDsp::readStatus()
{
    u32 v = u32{m_pc} | u32{m_ex} << 16 | u32{m_c} << 20 | u32{m_z} << 21 | u32{m_s} << 22 | u32{m_t0} << 23;
    if (!m_ex)
        v |= u32{m_e} << 18 | u32{m_v} << 19;
    else
        logWarning(2, "Read PPAF while executing");
    m_v = m_e = 0;
    return v;
}

void ScuDsp::setRun(u8 ex, u8 paused)
{
    m_ex = ex;
    m_paused = paused;
    m_idle = !ex || paused;
}

void ScuDsp::writeControlPort(u32 v)
{
    const bool le = v & (1u << 15);
    const bool ex = v & (1u << 16);
    const bool es = v & (1u << 17);
    const bool ep = v & (1u << 25);
    const bool pr = v & (1u << 26);
    if (m_ex && !ex) {
        if (le) {
            m_pc = static_cast<u8>(v);
            logWarning(1, "Stop execution and load PC");
        }
        if (es) {
            m_es = 1;
            step();
            logWarning(1, "Stop execution and execute one step");
        } else {
            m_es = 0;
        }
        if (ep)
            logWarning(1, "Set EP after stopped, no effect");
        if (pr)
            logWarning(1, "Set PR after stopped, no effect");
        setRun(0, 0);
        m_es = 0;
        logInfo(1, "stop");
        return;
    }
    if (m_ex) {
        if (le)
            logWarning(1, "LE is set while executing, can't load address to PC");
        if (es)
            logWarning(1, "ES is set while executing, no effect");
        else
            m_es = 0;
        if (ep && pr) {
            logWarning(1, "Both of EP and PR are set");
            setRun(m_ex, 0);
        } else if (ep) {
            if (!m_paused) {
                setRun(m_ex, 1);
                logInfo(1, "pause");
            } else {
                logWarning(1, "Set EP when it is already pause, no effect");
            }
        } else if (pr) {
            if (m_paused) {
                setRun(m_ex, 0);
                logInfo(1, "resume");
            } else {
                logWarning(1, "Set PR when it doesn't pause, no effect");
            }
        } else {
            setRun(m_ex, 0);
        }
        return;
    }
    if (le) {
        m_pc = static_cast<u8>(v);
        if (!ex)
            logDebug(2, "Load PC [PRA: %02X]", m_pc);
    }
    if (ex) {
        setRun(1, m_paused);
        logInfo(2, "start [PC: %02X]", m_pc);
        if (ep) {
            logWarning(1, "Start and pause immediately");
            setRun(m_ex, 1);
            if (pr) {
                logWarning(1, "Start, pause and resume immediately");
                setRun(m_ex, 0);
                logInfo(1, "resume");
            }
        } else if (pr) {
            logWarning(1, "Set PR when it doesn't pause, the condition doesn't change");
        }
        return;
    }
    if (es) {
        logWarning(1, "Execute one step");
        m_es = 1;
        step();
    } else {
        m_es = 0;
    }
    if (ep)
        logWarning(1, "Set EP while stopped, no effect");
    if (pr)
        logWarning(1, "Set PR while stopped, no effect");
}

void ScuDsp::writeProgram(u32 value)
{
    if (m_ex) {
        logWarning(1, "Write PPD while executing [D: %08X]", value);
        return;
    }
    m_program[m_pc] = value;
    m_pc = static_cast<u8>(m_pc + 1);
}

void ScuDsp::writeDataAddress(u32 value)
{
    if (m_ex) {
        logWarning(1, "Write PDA while executing [D: %08X]", value);
        return;
    }
    m_portBank = static_cast<u8>((value & 0xFF) >> 6);
    m_portAddress = value & 63;
    logDebug(2, "Write RA [P: %d, A: %02X]", m_portBank, m_portAddress);
}

void ScuDsp::writeData(u32 value)
{
    if (m_ex) {
        logWarning(1, "Write PDD while executing [D: %08X]", value);
        return;
    }
    m_data[m_portBank][m_portAddress] = value;
    m_portAddress = (m_portAddress + 1) & 63;
}

u32 ScuDsp::readData()
{
    // The hardware answers the word at the port's address and moves on,
    // which is how results are read back.
    const u32 value = m_data[m_portBank & 3][m_portAddress];
    m_portAddress = (m_portAddress + 1) & 63;
    return value;
}
