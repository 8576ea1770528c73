#include "board/sh2/sh2.h"

#include "core/base/object.h"

namespace {

constexpr u32 kFrtDivisors[4] = {8, 32, 128, 1};
// The same divisors as shifts: the counter steps every slice, and a shift
// costs less than a division.
constexpr u32 kFrtShifts[4] = {3, 5, 7, 0};
constexpr u32 kWdtShifts[8] = {1, 6, 7, 8, 9, 10, 12, 13};
constexpr u32 kSciDivisors[4] = {4, 16, 64, 256};
constexpr u8 kTocrFixedOnes = 0xE0;
constexpr u8 kTocrSelectB = 0x10;  // offsets 0x14/0x15 reach OCRB
constexpr u8 kTocrOutputLevels = 0x03;

}  // namespace

// ---- FRT -------------------------------------------------------------------

void SH2::FRT::reset()
{
    tier = 0x01;
    ftcsr = 0;
    frc = 0;
    ocra = ocrb = 0xFFFF;
    ficr = 0;
    tcr = 0;
    tocr = 0xE0;
    temp = 0;
    divisor = 8;
    shift = 3;
    remainder = 0;
}

u16 SH2::FRT::ocr() const { return (tocr & kTocrSelectB) ? ocrb : ocra; }

void SH2::FRT::write(u32 offset, u8 value)
{
    switch (offset) {
    case 0x10: tier = static_cast<u8>((tier & 0x71) | (value & 0x8E)); break;
    case 0x11: ftcsr = static_cast<u8>((ftcsr & (0x70 | (value & 0x8E))) | (value & 0x01)); break;
    case 0x12: case 0x14: temp = value; break;
    case 0x13: frc = static_cast<u16>(temp << 8 | value); break;
    case 0x15:
        if (tocr & kTocrSelectB)
            ocrb = static_cast<u16>(temp << 8 | value);
        else
            ocra = static_cast<u16>(temp << 8 | value);
        break;
    case 0x16:
        tcr = value;
        divisor = kFrtDivisors[value & 3];
        shift = kFrtShifts[value & 3];
        break;
    case 0x17:
        // Bits 7-5 read as ones and bits 3-2 as zeros whatever is written;
        // the select and the two output levels are kept.
        tocr = static_cast<u8>(kTocrFixedOnes | (value & (kTocrSelectB | kTocrOutputLevels)));
        break;
    default: break;
    }
}

void SH2::FRT::reach(u32 next)
{
    const u8 level = static_cast<u8>((m_cpu->intc.iprb >> 8) & 15);
    const u8 compareVector = static_cast<u8>(m_cpu->intc.vcrc & 0x7F);
    if (frc < ocra && ocra <= next) {
        if (tier & 0x08)
            m_cpu->requestInterrupt(compareVector, level);
        if (ftcsr & 0x01)
            next = 0;
        ftcsr |= 0x08;
    }
    if (frc < ocrb && ocrb <= next) {
        if (tier & 0x04)
            m_cpu->requestInterrupt(compareVector, level);
        ftcsr |= 0x04;
    }
    if (next >= 0x10000) {
        if (tier & 0x02)
            m_cpu->requestInterrupt(static_cast<u8>((m_cpu->intc.vcrd >> 8) & 0x7F), level);
        ftcsr |= 0x02;
    }
    frc = static_cast<u16>(next);
}

void SH2::FRT::inputCapture()
{
    ftcsr |= 0x80;
    ficr = frc;
    if (tier & 0x80)
        m_cpu->requestInterrupt(static_cast<u8>((m_cpu->intc.vcrc >> 8) & 0x7F),
                                static_cast<u8>((m_cpu->intc.iprb >> 8) & 15));
}

// ---- WDT -------------------------------------------------------------------

void SH2::WDT::reset()
{
    wtcnt = 0;
    wtcsr = 0x18;
    rstcsr = 0x1F;
    shift = 1;
    remainder = 0;
    csrRead = rstRead = false;
}

u8 SH2::WDT::read(u32 offset)
{
    switch (offset) {
    case 0x80: csrRead = true; return wtcsr;
    default: rstRead = true; return rstcsr;
    }
}

void SH2::WDT::writeWord(u32 offset, u16 value)
{
    const u8 key = static_cast<u8>(value >> 8);
    const u8 byte = static_cast<u8>(value);
    if (offset == 0x80 && key == 0x5A) {
        wtcnt = byte;
    } else if (offset == 0x80 && key == 0xA5) {
        if (!(byte & 0x80)) {
            // The overflow flag clears only after it has been read.
            const u8 mask = csrRead ? 0xE7 : 0x67;
            wtcsr = static_cast<u8>((wtcsr & ~mask) | (byte & mask));
            csrRead = false;
        } else {
            wtcsr = static_cast<u8>((wtcsr & 0x18) | (byte & ~0x18));
        }
        shift = kWdtShifts[byte & 7];
        if (!(byte & 0x20))
            wtcnt = 0;
    } else if (offset == 0x82 && key == 0x5A) {
        rstcsr = static_cast<u8>((rstcsr & ~0x60) | (byte & 0x60));
    } else if (offset == 0x82 && key == 0xA5 && byte == 0) {
        if (rstRead) {
            rstcsr &= 0x7F;
            rstRead = false;
        }
    } else if (offset == 0x80) {
        logSink().write(kLogWarning, "WDT", "Bad WW to [A: FFFFFE80, D: %04X]", value);
    } else {
        logSink().write(kLogWarning, "WDT", "Bad WW to RSTCSR [A: FFFFFE82, D: %04X]", value);
    }
}

void SH2::WDT::count(u32 clocks)
{
    const u32 total = remainder + clocks;
    const u32 next = wtcnt + (total >> shift);
    remainder = total & ((1u << shift) - 1);
    if (next > 255) {
        if (wtcsr & 0x40) {
            rstcsr |= 0x80;
            if (rstcsr & 0x40)
                m_cpu->doReset((rstcsr & 0x20) != 0);
            else
                wtcsr = 0x18;
        } else {
            wtcsr |= 0x80;
            m_cpu->requestInterrupt(static_cast<u8>((m_cpu->intc.vcrwdt >> 8) & 0x7F),
                                    static_cast<u8>((m_cpu->intc.ipra >> 4) & 15));
            m_cpu->logError(1, "WDT Interrupt");
        }
    }
    wtcnt = static_cast<u8>(next);
    m_cpu->logInfo(1, "WDT is running");
}

// ---- DMAC ------------------------------------------------------------------

void SH2::DMAC::reset()
{
    for (int n = 0; n < 2; ++n)
        sar[n] = dar[n] = tcr[n] = chcr[n] = vcrdma[n] = drcr[n] = 0;
    dmaor = 0;
    roundRobin = 0;
}

void SH2::DMAC::writeChcr(int n, u32 value)
{
    chcr[n] = value & 0xFFFF;
    if ((dmaor & 7) == 1 && (chcr[n] & 3) == 1)
        start(n);
}

void SH2::DMAC::writeDmaor(u32 value)
{
    dmaor = (value & 0x9) | (dmaor & value & 0x6);
    if ((dmaor & 7) != 1)
        return;
    const bool on0 = chcr[0] & 1;
    const bool on1 = chcr[1] & 1;
    if (!on0) {
        if (on1)
            start(1);
    } else if (!on1) {
        start(0);
    } else if (!(dmaor & 8)) {
        start(0);
        start(1);
    } else if (!roundRobin) {
        start(1);
        start(0);
        roundRobin = 1;
    } else {
        start(0);
        start(1);
        roundRobin = 0;
    }
}

void SH2::DMAC::start(int n)
{
    if (chcr[n] & 2)
        return;
    transfer(n);
    if (chcr[n] & 4)
        m_cpu->requestInterrupt(static_cast<u8>(vcrdma[n]), static_cast<u8>((m_cpu->intc.ipra >> 8) & 15));
}

void SH2::DMAC::transfer(int n)
{
    static constexpr s32 kSteps[4] = {0, 1, -1, 1};
    const u32 count = (tcr[n] & 0xFFFFFF) ? (tcr[n] & 0xFFFFFF) : 0x1000000;
    const s32 srcStep = kSteps[(chcr[n] >> 12) & 3];
    const s32 dstStep = kSteps[(chcr[n] >> 14) & 3];
    const u32 unit = (chcr[n] >> 10) & 3;
    static constexpr u32 kUnitBytes[4] = {1, 2, 4, 16};
    const u32 size = kUnitBytes[unit];
    u32 src = sar[n];
    u32 dst = dar[n];
    const u32 srcDelta = static_cast<u32>(srcStep * static_cast<s32>(size));
    const u32 dstDelta = static_cast<u32>(dstStep * static_cast<s32>(size));
    SH2& cpu = *m_cpu;
    switch (unit) {
    case 0:
        for (u32 i = 0; i < count; ++i, src += srcDelta, dst += dstDelta)
            cpu.writeByte(dst, cpu.readByte(src));
        break;
    case 1:
        for (u32 i = 0; i < count; ++i, src += srcDelta, dst += dstDelta)
            cpu.writeWord(dst, cpu.readWord(src));
        break;
    case 2:
        for (u32 i = 0; i < count; ++i, src += srcDelta, dst += dstDelta)
            cpu.writeLong(dst, cpu.readLong(src));
        break;
    default:
        for (u32 i = 0; i < count / 4; ++i, src += srcDelta, dst += dstDelta) {
            for (u32 k = 0; k < 16; k += 4)
                cpu.writeLong(dst + k, cpu.readLong(src + k));
        }
        break;
    }
    cpu.logDebug(2, "DMA(%d) [S: %08X, D: %08X, C: %08X, SA: %d, DA: %d]", n, sar[n], dar[n], count,
                 static_cast<int>(srcDelta), static_cast<int>(dstDelta));
    tcr[n] = 0;
    chcr[n] |= 2;
}

// ---- SCI -------------------------------------------------------------------

void SH2::SCI::reset()
{
    smr = 0;
    brr = 0xFF;
    scr = 0;
    tdr = 0xFF;
    ssr = 0x84;
    rdr = 0;
    shiftByte = 0;
    divisor = 4;
}

u8 SH2::SCI::read(u32 offset)
{
    static const char* const kNames[] = {"SMR", "BRR", "SCR", "TDR", "SSR", "RDR"};
    const u8 regs[] = {smr, brr, scr, tdr, ssr, rdr};
    logWarning(2, "Read %s [D: %02X]", kNames[offset], regs[offset]);
    return regs[offset];
}

void SH2::SCI::write(u32 offset, u8 value)
{
    switch (offset) {
    case 0x00:
        logWarning(2, "Write SMR [D: %02X]", value);
        smr = value;
        divisor = kSciDivisors[value & 3];
        break;
    case 0x01:
        logWarning(2, "Write BRR [D: %02X]", value);
        brr = value;
        break;
    case 0x02:
        logWarning(2, "Write SCR [D: %02X]", value);
        if (!(scr & 0x20)) {
            tdr = 0;
            ssr |= 0x80;
        }
        scr = value;
        break;
    case 0x03:
        logWarning(2, "Write TDR [D: %02X]", value);
        tdr = value;
        ssr &= 0x7F;
        if (scr & 0x20)
            transmit();
        break;
    case 0x04:
        logWarning(2, "Write SSR [D: %02X]", value);
        ssr = static_cast<u8>((ssr & (value | 0x07) & 0xFE) | (value & 0x01));
        if (!(scr & 0x20))
            ssr |= 0x80;
        break;
    default:
        logWarning(2, "Bad WB RDR [D: %02X]", value);
        break;
    }
}

void SH2::SCI::transmit()
{
    logWarning(2, "Transmit");
    shiftByte = tdr;
    tdr = 0;
    ssr |= 0x80;
    if (scr & 0x80)
        logWarning(1, "Transmit interrupt");
    // There is no receiver on the other end: the byte goes nowhere.
    shiftByte = 0;
}
