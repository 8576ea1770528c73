#include "board/sh2/sh2.h"

namespace {

constexpr u32 kOnChipBase = 0xFFFFFE00;
constexpr u32 kSdmuStart = 0xFFFF8000;
constexpr u32 kReserved6Start = 0xFFFFC000;
constexpr u16 kBscKey = 0xA55A;

SH2& self(void* owner) { return *static_cast<SH2*>(owner); }

// Below the register window: the SDMU's mode area and the reserved areas.
AccessHandlers below(SH2& s, u32 a)
{
    const int area = a < kSdmuStart ? SH2::kReserved5 : a < kReserved6Start ? SH2::kSdmuArea : SH2::kReserved6;
    return s.getAccessHandlers(area);
}

// The register offset of a long access. The divider decodes 0x100-0x11F
// again at 0x120-0x13F.
u32 longOffset(u32 a)
{
    const u32 o = a & 0x1FF;
    return (o & 0x1C0) == 0x100 ? o & ~0x20u : o;
}

// A 7-bit vector field in each byte of a vector register.
u16 vectorPair(u16 value) { return value & 0x7F7F; }

}  // namespace

void SH2::BSC::reset()
{
    bcr1 = static_cast<u16>((bcr1 & 0x8000) | 0x03F0);
    bcr2 = 0x00FC;
    wcr = 0xAAFF;
    mcr = rtcsr = rtcnt = rtcor = 0;
}

void SH2::DIVU::overflow()
{
    dvcr |= 1;
    if (dvcr & 2)
        m_cpu->requestInterrupt(static_cast<u8>(vcrdiv & 0x7F), static_cast<u8>(m_cpu->intc.ipra >> 12));
}

void SH2::DIVU::divide32(u32 dividend)
{
    const s32 n = static_cast<s32>(dividend);
    const s32 d = static_cast<s32>(dvsr);
    // 0x80000000 / -1 has no 32-bit quotient; the divider reports it as an
    // overflow, and the host must never be asked to compute it.
    if (d == 0 || (n == INT32_MIN && d == -1)) {
        if (n >= 0 && d == 0) {
            dvdntl = 0x7FFFFFFF;
            dvdnth = static_cast<u32>(n >> 29);
        } else if (d == 0) {
            dvdntl = 0x80000000;
            dvdnth = 0xFFFFFFFC | (static_cast<u32>(n >> 29) & 7);
        } else {
            dvdnth = 0xFFFFFFFE;
            dvdntl = 0x7FFFFFFF;
        }
        overflow();
        return;
    }
    dvdntl = static_cast<u32>(n / d);
    dvdnth = static_cast<u32>(n % d);
}

void SH2::DIVU::divide64(u32 low)
{
    const s64 n = static_cast<s64>(u64{dvdnth} << 32 | low);
    const s64 d = static_cast<s32>(dvsr);
    if (d == 0) {
        const bool negative = static_cast<s32>(dvdnth) < 0;
        dvdnth <<= 3;
        dvdntl = negative ? 0x80000000 : 0x7FFFFFFF;
        overflow();
        return;
    }
    // INT64_MIN / -1 would trap on the host; its quotient is far above
    // 0x7FFFFFFF, so it takes the overflow path like any other.
    if (n == INT64_MIN && d == -1) {
        dvdnth = 0xFFFFFFFE;
        dvdntl = 0x7FFFFFFF;
        overflow();
        return;
    }
    const s64 q = n / d;
    const s64 r = n % d;
    if (q > INT32_MAX || q < INT32_MIN) {
        dvdnth = 0xFFFFFFFE;
        dvdntl = q > INT32_MAX ? 0x7FFFFFFF : 0x80000000;
        overflow();
        return;
    }
    dvdnth = static_cast<u32>(r);
    dvdntl = static_cast<u32>(q);
}

void SH2::SDMU::writeMode(u32 address, u16 data)
{
    struct Mode {
        u16 address;
        u32 cas;
        u32 burst;
    };
    static constexpr Mode kModes[] = {
        {0x8426, 1, 4}, {0x8446, 2, 4}, {0x8466, 3, 4}, {0x8848, 1, 8}, {0x8888, 2, 8}, {0x88C8, 3, 8},
    };
    for (const Mode& m : kModes) {
        if ((address & 0xFFFF) == m.address) {
            mode = m.address;
            casLatency = m.cas;
            burstLength = m.burst;
            m_cpu->logDebug(1, "SDMU: Select CAS latency %u, burst length of %u", m.cas, m.burst);
            return;
        }
    }
    m_cpu->logDebug(1, "SDMU: Bad WW [A: %08X, D: %04X]", address, data);
}

// The units change only between slices or through the processor's own
// writes. What reads a byte register: the peek alone, or a unit whose read
// also changes something. The reads that keep a byte for the next (FRC,
// OCR, FICR) or note that a flag was seen peek what decides both their
// answer and the change; the serial interface logs its reads and is never
// steady. kNone for an offset no byte register answers.
[[gnu::always_inline]] inline SH2::ByteReader SH2::peekOnChip8(u32 o, u32& v) const
{
    switch (o) {
    case 0x00: case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: return ByteReader::kSerial;
    case 0x10: v = frt.tier; break;
    case 0x11: v = frt.ftcsr; break;
    case 0x12: v = u32{frt.temp} << 16 | frt.frc; return ByteReader::kTimerPair;
    case 0x14: v = u32{frt.temp} << 16 | frt.ocr(); return ByteReader::kTimerPair;
    case 0x18: v = u32{frt.temp} << 16 | frt.ficr; return ByteReader::kTimerPair;
    case 0x13: case 0x15: case 0x19: v = frt.temp; break;
    case 0x16: v = frt.tcr; break;
    case 0x17: v = frt.tocr; break;
    // A byte of an interrupt controller register is that half of its word.
    case 0x60: case 0x61: case 0x62: case 0x63: case 0x64: case 0x65: case 0x66: case 0x67: case 0x68: case 0x69:
    case 0xE0: case 0xE1: case 0xE2: case 0xE3: case 0xE4: case 0xE5:
        peekOnChip16(o & ~1u, v);
        v = (o & 1) ? v & 0xFF : v >> 8;
        break;
    case 0x71: v = dmac.drcr[0]; break;
    case 0x72: v = dmac.drcr[1]; break;
    case 0x80: v = u32{wdt.csrRead} << 8 | wdt.wtcsr; return ByteReader::kWatchdogFlag;
    case 0x81: v = wdt.wtcnt; break;
    case 0x82: v = u32{wdt.rstRead} << 8 | wdt.rstcsr; return ByteReader::kWatchdogFlag;
    case 0x91: v = pmu.sbycr & 0xDF; break;
    case 0x92: v = cache.ccr & 0xCF; break;
    default: return ByteReader::kNone;
    }
    return ByteReader::kPeek;
}

// The word and long registers, whose reads change nothing; false for an
// offset no register of that width answers.
[[gnu::always_inline]] inline bool SH2::peekOnChip16(u32 o, u32& v) const
{
    switch (o) {
    case 0x60: v = intc.iprb; return true;
    case 0x62: v = intc.vcra; return true;
    case 0x64: v = intc.vcrb; return true;
    case 0x66: v = intc.vcrc; return true;
    case 0x68: v = intc.vcrd; return true;
    case 0x92: v = cache.ccr & 0xCF; return true;
    case 0xE0: v = intc.icr; return true;
    case 0xE2: v = intc.ipra; return true;
    case 0xE4: v = intc.vcrwdt; return true;
    case 0x18C: v = 0; return true;
    case 0x18E: v = static_cast<u16>(dmac.chcr[0]); return true;
    case 0x190: v = static_cast<u16>(dmac.sar[1] >> 16); return true;
    case 0x192: v = static_cast<u16>(dmac.sar[1]); return true;
    case 0x1E0: v = 0; return true;
    case 0x1E2: v = bsc.bcr1 & 0x9FF7; return true;
    case 0x1E6: v = bsc.bcr2 & 0xFC; return true;
    case 0x1EA: v = bsc.wcr; return true;
    case 0x1EE: v = bsc.mcr & 0xFEFC; return true;
    case 0x1F2: v = bsc.rtcsr & 0xF8; return true;
    case 0x1F6: v = bsc.rtcnt & 0xFF; return true;
    case 0x1FA: v = bsc.rtcor & 0xFF; return true;
    default: return false;
    }
}

[[gnu::always_inline]] inline bool SH2::peekOnChip32(u32 o, u32& v) const
{
    switch (longOffset(o)) {
    case 0x100: v = divu.dvsr; return true;
    case 0x104: v = divu.dvdntl; return true;
    case 0x108: v = divu.dvcr; return true;
    case 0x10C: v = divu.vcrdiv; return true;
    case 0x110: case 0x118: v = divu.dvdnth; return true;
    case 0x114: case 0x11C: v = divu.dvdntl; return true;
    case 0x180: v = dmac.sar[0]; return true;
    case 0x184: v = dmac.dar[0]; return true;
    case 0x188: v = dmac.tcr[0] & 0xFFFFFF; return true;
    case 0x18C: v = dmac.chcr[0] & 0xFFFF; return true;
    case 0x190: v = dmac.sar[1]; return true;
    case 0x194: v = dmac.dar[1]; return true;
    case 0x198: v = dmac.tcr[1] & 0xFFFFFF; return true;
    case 0x19C: v = dmac.chcr[1] & 0xFFFF; return true;
    case 0x1A0: v = dmac.vcrdma[0] & 0xFF; return true;
    case 0x1A8: v = dmac.vcrdma[1] & 0xFF; return true;
    case 0x1B0: case 0x1B8: v = dmac.dmaor; return true;
    case 0x1E0: v = bsc.bcr1 & 0x9FF7; return true;
    case 0x1E4: v = bsc.bcr2 & 0xFC; return true;
    case 0x1E8: v = bsc.wcr; return true;
    case 0x1EC: v = bsc.mcr & 0xFEFC; return true;
    case 0x1F0: v = bsc.rtcsr & 0xF8; return true;
    case 0x1F4: v = bsc.rtcnt & 0xFF; return true;
    case 0x1F8: v = bsc.rtcor & 0xFF; return true;
    default: return false;
    }
}

u8 SH2::readOnChip8(void* owner, CPU* cpu, u32 a)
{
    SH2& s = self(owner);
    if (a < kOnChipBase)
        return below(s, a).readByte(owner, cpu, a);
    const u32 o = a & 0x1FF;
    u32 v = 0;
    switch (s.peekOnChip8(o, v)) {
    case ByteReader::kPeek: return static_cast<u8>(v);
    case ByteReader::kTimerPair:
        // The high byte is read first; the low byte waits in TEMP.
        s.frt.temp = static_cast<u8>(v);
        return static_cast<u8>(v >> 8);
    case ByteReader::kWatchdogFlag: return s.wdt.read(o);
    case ByteReader::kSerial: return s.sci.read(o);
    case ByteReader::kNone: break;
    }
    s.logWarning(1, "ONCHIP: Bad RB [A: %08X]", a);
    return 0;
}

// Words and longs of the window read without side effects.
[[gnu::always_inline]] inline u32 SH2::readPeeked(u32 a, u32 width)
{
    u32 v;
    if (width == 2 ? peekOnChip16(a & 0x1FF, v) : peekOnChip32(a & 0x1FF, v))
        return v;
    logWarning(1, width == 2 ? "ONCHIP: Bad RW [A: %08X]" : "ONCHIP: Bad RL [A: %08X]", a);
    return 0;
}

u16 SH2::readOnChip16(void* owner, CPU* cpu, u32 a)
{
    SH2& s = self(owner);
    return a < kOnChipBase ? below(s, a).readWord(owner, cpu, a) : static_cast<u16>(s.readPeeked(a, 2));
}

u32 SH2::readOnChip32(void* owner, CPU* cpu, u32 a)
{
    SH2& s = self(owner);
    return a < kOnChipBase ? below(s, a).readLong(owner, cpu, a) : s.readPeeked(a, 4);
}

bool SH2::steadyOnChip(void* owner, const CPU*, u32 a, u32 width, u32& value)
{
    const SH2& s = self(owner);
    if (a < kOnChipBase)
        return false;
    const u32 o = a & 0x1FF;
    if (width == 1) {
        const ByteReader reader = s.peekOnChip8(o, value);
        return reader != ByteReader::kNone && reader != ByteReader::kSerial;
    }
    return width == 2 ? s.peekOnChip16(o, value) : s.peekOnChip32(o, value);
}

void SH2::writeOnChip8(void* owner, CPU* cpu, u32 a, u8 d)
{
    SH2& s = self(owner);
    if (a < kOnChipBase)
        return below(s, a).writeByte(owner, cpu, a, d);
    const u32 o = a & 0x1FF;
    auto high = [d](u16& reg, u16 mask) { reg = static_cast<u16>((reg & ~(mask << 8)) | ((d & mask) << 8)); };
    auto low = [d](u16& reg, u16 mask) { reg = static_cast<u16>((reg & ~mask) | (d & mask)); };
    switch (o) {
    case 0x00: case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: s.sci.write(o, d); return;
    case 0x10: case 0x11: case 0x12: case 0x13: case 0x14: case 0x15: case 0x16: case 0x17: s.frt.write(o, d); return;
    case 0x60: high(s.intc.iprb, 0xFF); return;
    case 0x61: case 0x69: return;
    case 0x62: high(s.intc.vcra, 0x7F); return;
    case 0x63: low(s.intc.vcra, 0x7F); return;
    case 0x64: high(s.intc.vcrb, 0x7F); return;
    case 0x65: low(s.intc.vcrb, 0x7F); return;
    case 0x66: high(s.intc.vcrc, 0x7F); return;
    case 0x67: low(s.intc.vcrc, 0x7F); return;
    case 0x68: high(s.intc.vcrd, 0x7F); return;
    case 0x71: s.dmac.drcr[0] = d & 3; return;
    case 0x72: s.dmac.drcr[1] = d & 3; return;
    case 0x91: s.pmu.sbycr = d & 0xDF; return;
    case 0x92: s.cache.writeCcr(d); return;
    case 0xE0: high(s.intc.icr, 0x01); return;
    case 0xE1: low(s.intc.icr, 0x01); return;
    case 0xE2: high(s.intc.ipra, 0xFF); return;
    case 0xE3: low(s.intc.ipra, 0xF0); return;
    case 0xE4: high(s.intc.vcrwdt, 0x7F); return;
    case 0xE5: low(s.intc.vcrwdt, 0x7F); return;
    default:
        s.logWarning(1, "ONCHIP: Bad WB [A: %08X, D: %02X]", a, d);
        return;
    }
}

void SH2::writeOnChip16(void* owner, CPU* cpu, u32 a, u16 d)
{
    SH2& s = self(owner);
    if (a < kOnChipBase)
        return below(s, a).writeWord(owner, cpu, a, d);
    static const char* const kBscNames[] = {"BCR1", "BCR2", "WCR", "MCR", "RTCSR", "RTCNT", "RTCOR"};
    const u32 o = a & 0x1FF;
    switch (o) {
    case 0x60: s.intc.iprb = static_cast<u16>((s.intc.iprb & 0x00FF) | (d & 0xFF00)); return;
    case 0x62: s.intc.vcra = vectorPair(d); return;
    case 0x64: s.intc.vcrb = vectorPair(d); return;
    case 0x66: s.intc.vcrc = vectorPair(d); return;
    case 0x68: s.intc.vcrd = d & 0x7F00; return;
    case 0x80: case 0x82: s.wdt.writeWord(o, d); return;
    case 0x92: s.cache.writeCcr(static_cast<u8>(d)); return;
    case 0xE0: s.intc.icr = static_cast<u16>((s.intc.icr & ~0x0101) | (d & 0x0101)); return;
    case 0xE2: s.intc.ipra = static_cast<u16>((s.intc.ipra & 0x000F) | (d & 0xFFF0)); return;
    case 0xE4: s.intc.vcrwdt = vectorPair(d); return;
    case 0x1E2: case 0x1E6: case 0x1EA: case 0x1EE: case 0x1F2: case 0x1F6: case 0x1FA:
        s.logWarning(1, "ONCHIP: Bad WW to BSC %s [A: %08X, D: %04X]", kBscNames[(o - 0x1E2) / 4], a, d);
        return;
    default:
        s.logWarning(1, "ONCHIP: Bad WW [A: %08X, D: %04X]", a, d);
        return;
    }
}

void SH2::writeOnChip32(void* owner, CPU* cpu, u32 a, u32 d)
{
    SH2& s = self(owner);
    if (a < kOnChipBase)
        return below(s, a).writeLong(owner, cpu, a, d);
    const u32 o = longOffset(a);
    if (o >= 0x1E0 && o <= 0x1F8 && (o & 3) == 0) {
        // Bus-state registers change only under the key in the upper half.
        if ((d >> 16) != kBscKey)
            return;
        const u16 v = static_cast<u16>(d);
        switch (o) {
        case 0x1E0: s.bsc.bcr1 = static_cast<u16>((s.bsc.bcr1 & 0xE000) | (v & 0x1FF7)); break;
        case 0x1E4: s.bsc.bcr2 = v & 0xFC; break;
        case 0x1E8: s.bsc.wcr = v; break;
        case 0x1EC: s.bsc.mcr = v & 0xFEFC; break;
        case 0x1F0: s.bsc.rtcsr = v & 0xF8; break;
        case 0x1F4: s.bsc.rtcnt = v & 0xFF; break;
        case 0x1F8: s.bsc.rtcor = v & 0xFF; break;
        }
        return;
    }
    switch (o) {
    case 0x100: s.divu.dvsr = d; return;
    case 0x104: s.divu.divide32(d); return;
    case 0x108: s.divu.dvcr = d & 3; return;
    case 0x10C: s.divu.vcrdiv = d & 0xFFFF; return;
    case 0x110: case 0x118: s.divu.dvdnth = d; return;
    case 0x114: case 0x11C: s.divu.divide64(d); return;
    case 0x180: s.dmac.sar[0] = d; return;
    case 0x184: s.dmac.dar[0] = d; return;
    case 0x188: s.dmac.tcr[0] = d; return;
    case 0x18C: s.dmac.writeChcr(0, d); return;
    case 0x190: s.dmac.sar[1] = d; return;
    case 0x194: s.dmac.dar[1] = d; return;
    case 0x198: s.dmac.tcr[1] = d; return;
    case 0x19C: s.dmac.writeChcr(1, d); return;
    case 0x1A0: s.dmac.vcrdma[0] = d; return;
    case 0x1A8: s.dmac.vcrdma[1] = d; return;
    case 0x1B0: case 0x1B8: s.dmac.writeDmaor(d); return;
    default:
        s.logWarning(1, "ONCHIP: Bad WL [A: %08X, D: %08X]", a, d);
        return;
    }
}
