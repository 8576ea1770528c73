// The DSP's register areas: coefficients, memory addresses, program,
// temporaries, inputs and outputs. Stored and read back only.
#include "sound/scsp/scsp.h"

namespace {

constexpr u32 kMadrsEnd = 0x7C0;  // 0x7C0-0x7FF hold no address
constexpr u32 kProgram = 0x800;

}  // namespace

u16 SCSP::DSP::readWord(const char* accessor, u32 a)
{
    const u32 off = a & 0xFFE;
    if (off >= kMadrsEnd && off < kProgram) {
        logWarning(1, "Bad RW from MADRS [A: %08X]", a);
        return 0;
    }
    if (off >= kEnd) {
        logWarning(1, "%s: Bad RW [A: %08X]", accessor, a);
        return 0;
    }
    // The program writes the effect outputs; nothing runs it, so they read 0.
    if (off >= kEffectOutputs && off < kExternalInputs)
        return 0;
    return loadBe16(at(off));
}

void SCSP::DSP::writeWord(const char* accessor, u32 a, u16 d)
{
    const u32 off = a & 0xFFE;
    if (off >= kMadrsEnd && off < kProgram) {
        logWarning(1, "Bad WW to MADRS [A: %08X, D: %04X]", a, d);
        return;
    }
    if (off >= kEnd) {
        logWarning(1, "%s: Bad WW [A: %08X, D: %04X]", accessor, a, d);
        return;
    }
    storeBe16(at(off), d);
}

u8 SCSP::DSP::readByte(const char* accessor, u32 a)
{
    const u32 off = a & 0xFFF;
    if (off >= kMadrsEnd && off < kProgram) {
        logWarning(1, "Bad RB from MADRS [A: %08X]", a);
        return 0;
    }
    if (off >= kEnd) {
        logWarning(1, "%s: Bad RB [A: %08X]", accessor, a);
        return 0;
    }
    if (off >= kEffectOutputs && off < kExternalInputs)
        return 0;
    return *at(off);
}

void SCSP::DSP::writeByte(const char* accessor, u32 a, u8 d)
{
    const u32 off = a & 0xFFF;
    if (off >= kMadrsEnd && off < kProgram) {
        logWarning(1, "Bad WB to MADRS [A: %08X, D: %02X]", a, d);
        return;
    }
    if (off >= kEnd) {
        logWarning(1, "%s: Bad WB [A: %08X, D: %02X]", accessor, a, d);
        return;
    }
    *at(off) = d;
}
