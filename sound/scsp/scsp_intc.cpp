// Interrupts to both sides, the MIDI buffers and the sound-memory DMA.
#include <algorithm>

#include "board/scu/scu.h"
#include "sound/m68k/m68k.h"
#include "sound/scsp/scsp.h"

namespace {

constexpr u32 kSoundEnable = 0x41E;
constexpr u32 kSoundPending = 0x420;
constexpr u32 kLevel0 = 0x424;
constexpr u32 kMainEnable = 0x42A;
constexpr u32 kMainPending = 0x42C;

}  // namespace

// --- interrupt controller --------------------------------------------------

void SCSP::INTC::raise(u32 bit)
{
    m_chip.commonWord(kSoundPending) |= static_cast<u16>(1u << bit);
    m_chip.commonWord(kMainPending) |= static_cast<u16>(1u << bit);
    // The sample interrupt comes every sample; mostly neither side takes it.
    if ((m_chip.commonWord(kSoundEnable) | m_chip.commonWord(kMainEnable)) >> bit & 1)
        sendInterrupts(bit);
}

void SCSP::INTC::sendInterrupts(u32 bit)
{
    sendToSoundCpu(bit);
    sendToMainCpu(bit);
}

u32 SCSP::INTC::levelOf(u32 bit) const
{
    // Bits 7 to 10 share the level bits of bit 7.
    const u32 c = std::min(bit, 7u);
    u32 level = 0;
    for (u32 n = 0; n < 3; ++n)
        level |= ((m_chip.commonWord(kLevel0 + 2 * n) >> c) & 1u) << n;
    return level;
}

void SCSP::INTC::sendToSoundCpu(u32 bit)
{
    if (!((m_chip.commonWord(kSoundPending) & m_chip.commonWord(kSoundEnable)) >> bit & 1))
        return;
    const u32 level = levelOf(bit);
    logInfo(2, "Send interrupt to the sound CPU, [Level: %d]", static_cast<int>(level));
    if (m_chip.m_m68k)
        m_chip.m_m68k->raiseInterrupt(level);
}

void SCSP::INTC::sendToMainCpu(u32 bit)
{
    if (!((m_chip.commonWord(kMainPending) & m_chip.commonWord(kMainEnable)) >> bit & 1))
        return;
    logInfo(2, "Send interrupt to the main CPU");
    if (m_chip.m_scu)
        m_chip.m_scu->soundRequest();
}

// --- MIDI --------------------------------------------------------------------

void SCSP::MIDI::reset()
{
    std::fill(std::begin(m_in), std::end(m_in), 0);
    std::fill(std::begin(m_out), std::end(m_out), 0);
    m_inCount = m_outCount = 0;
    m_flags = kInEmpty | kOutEmpty;
}

u8 SCSP::MIDI::readFlags() const
{
    logDebug(2, "getFlag [%02X]", m_flags);
    return m_flags;
}

void SCSP::MIDI::writeFlags(u8 d)
{
    logInfo(2, "setFlag [D: %02X]", d);
    m_flags = d & 0x1F;
}

u8 SCSP::MIDI::readInput()
{
    logError(2, "getMIBUF");
    const u8 value = m_in[0];
    if (m_inCount > 0 && --m_inCount == 0) {
        m_flags |= kInEmpty;
        m_chip.commonWord(kSoundPending) &= ~(1u << kIrqTestSwitch);
        m_chip.commonWord(kMainPending) &= ~(1u << kIrqTestSwitch);
    }
    std::copy(m_in + 1, m_in + kBufferBytes, m_in);
    m_in[kBufferBytes - 1] = 0;
    m_flags &= ~kInFull;
    return value;
}

void SCSP::MIDI::writeOutput(u8 d)
{
    logWarning(2, "setMOBUF [D: %02X]", d);
    // The count guards the buffer too: a CPU may clear the full flag by hand.
    if ((m_flags & kOutFull) || m_outCount >= kBufferBytes) {
        logWarning(1, "MIDI: MOBUF overflow!");
        return;
    }
    if (m_outCount == 0) {
        m_flags &= ~kOutEmpty;
        m_chip.commonWord(kSoundPending) &= ~(1u << kIrqMidiOut);
        m_chip.commonWord(kMainPending) &= ~(1u << kIrqMidiOut);
    }
    m_out[m_outCount++] = d;
    if (m_outCount == kBufferBytes)
        m_flags |= kOutFull;
}

// --- DMA ---------------------------------------------------------------------

void SCSP::startDma(CPU* cpu)
{
    // A transfer into the registers may write the start bit again; the
    // transfer in progress ignores it rather than starting itself anew.
    if (m_dmaRunning)
        return;
    m_dmaRunning = true;
    const u16 w412 = commonWord(0x412);
    const u16 w414 = commonWord(0x414);
    const u16 w416 = commonWord(0x416);
    const u32 memory = (u32{w414 & 0xF000u} << 4 | w412) & 0x7FFFE;
    const u32 reg = w414 & 0xFFE;
    const u32 count = (w416 >> 1) & 0x7FF;
    const bool toMemory = w416 & 0x2000;
    const bool clear = w416 & 0x4000;
    logError(1, "%s DMA [S: %08X, D: %08X, C: %08X, CCR09: %04X, CCR0A: %04X, CCR0B: %04X]", accessorName(cpu),
             memory, reg, count * 2, w412, w414, w416);
    if (clear && toMemory)
        logInfo(1, "Clear memory [DMEA: %08X, C: %08X]", memory, count * 2);
    else if (clear)
        logInfo(1, "Clear registers [DRGA: %08X, C: %08X]", reg, count * 2);
    for (u32 k = 0; k < count; ++k) {
        u8* word = m_soundRam + ((memory + 2 * k) & 0x7FFFE);
        const u32 r = (reg + 2 * k) & 0xFFE;
        if (toMemory)
            storeBe16(word, clear ? 0 : readWord(cpu, r));
        else
            writeWord(cpu, r, clear ? 0 : loadBe16(word));
    }
    commonWord(0x416) &= ~0x1000;
    m_dmaRunning = false;
    m_intc.raise(kIrqDmaEnd);
}
