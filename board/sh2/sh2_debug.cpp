#include <cstdio>

#include "board/sh2/sh2.h"

using namespace sh2;

namespace {

struct Format {
    Operands operands;
    const char* text;
};

#define KEST_SH2_FORMAT(name, pattern, mask, flow, operands, data, width, text) {Operands::operands, text},
constexpr Format kFormats[kInsnCount] = {KEST_SH2_INSNS(KEST_SH2_FORMAT)};
#undef KEST_SH2_FORMAT

}  // namespace

u8 SH2::getFlag(int number)
{
    switch (number) {
    case 0: return static_cast<u8>(m_ft);
    case 1: return static_cast<u8>(m_fs);
    case 2: return static_cast<u8>(m_fi);
    case 3: return static_cast<u8>(m_fq);
    case 4: return static_cast<u8>(m_fm);
    default: return 0;
    }
}

void SH2::setFlag(int number, u8 value)
{
    switch (number) {
    case 0: m_ft = value; break;
    case 1: m_fs = value; break;
    case 2: m_fi = value; break;
    case 3: m_fq = value; break;
    case 4: m_fm = value; break;
    default: break;
    }
}

u32 SH2::getRegister(int number)
{
    if (number >= 0 && number < 16)
        return m_r[number];
    switch (number) {
    case 16: return mach();
    case 17: return macl();
    case 18: return m_pr;
    case 19: return getPC32();
    case 20: return m_gbr;
    case 21: return m_vbr;
    case 22: return packSR();
    default: return 0;
    }
}

void SH2::setRegister(int number, u32 value)
{
    if (number >= 0 && number < 16) {
        m_r[number] = value;
        return;
    }
    switch (number) {
    case 16: setMach(value); break;
    case 17: setMacl(value); break;
    case 18: m_pr = value; break;
    case 19: m_pc = value; break;
    case 20: m_gbr = value; break;
    case 21: m_vbr = value; break;
    case 22:
        m_sr = value;
        unpackSR(value);
        break;
    default: break;
    }
}

void SH2::setStatus(u32 value)
{
    // The interpreter works on the fields; a write that left them alone
    // would be undone at the end of the next slice.
    m_sr = value & 0x3F3;
    unpackSR(m_sr);
}

int SH2::getInstructionType(u32 address)
{
    return static_cast<int>(flowOf(decode(readOpcode(address))));
}

bool SH2::isBranchTaken(u32 address)
{
    const u8 index = decode(readOpcode(address));
    if (flowOf(index) == Flow::Branch)
        return (index == kBt || index == kBts) == (m_ft == 1);
    return flowOf(index) != Flow::Other;
}

u32 SH2::getNextAddress(u32 address)
{
    const u16 op = readOpcode(address);
    const u32 n = (op >> 8) & 15;
    switch (decode(op)) {
    case kBf: case kBfs: case kBt: case kBts: return address + 4 + sext8(op) * 2;
    case kBra: case kBsr: return address + 4 + sext12(op) * 2;
    case kBraf: case kBsrf: return address + 4 + m_r[n];
    case kJmp: case kJsr: return m_r[n];
    case kRte: return peekLong(m_r[15]);
    case kRts: return m_pr;
    default: return 0;
    }
}

bool SH2::hasDelaySlot(u32 address)
{
    const u8 index = decode(readOpcode(address));
    return flowOf(index) != Flow::Other && index != kBf && index != kBt;
}

const u8* SH2::getOpcodeBytes(u32 address, u32& length)
{
    const u16 op = readOpcode(address);
    std::memset(m_opcode, 0, sizeof m_opcode);
    m_opcode[0] = static_cast<u8>(op >> 8);
    m_opcode[1] = static_cast<u8>(op);
    length = 2;
    return m_opcode;
}

std::string SH2::disassemble(u32 address)
{
    const u16 op = readOpcode(address);
    const u8 index = decode(op);
    const int n = (op >> 8) & 15;
    const int m = (op >> 4) & 15;
    const u32 imm = op & 0xFF;
    const u32 d4 = op & 15;
    char text[128];
    if (index >= kInsnCount) {
        m_text = "illegal";
        return m_text;
    }
    const char* f = kFormats[index].text;
    const u32 gbrR0 = m_gbr + m_r[0];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    switch (kFormats[index].operands) {
    case Operands::RegMN: std::snprintf(text, sizeof text, f, m, n); break;
    case Operands::RegN: std::snprintf(text, sizeof text, f, n); break;
    case Operands::SImmN:
        std::snprintf(text, sizeof text, f, sext8(imm), n, static_cast<int>(static_cast<s8>(imm)));
        break;
    case Operands::Imm: std::snprintf(text, sizeof text, f, imm); break;
    case Operands::ImmGbrR0: std::snprintf(text, sizeof text, f, imm, gbrR0); break;
    case Operands::Branch8: std::snprintf(text, sizeof text, f, address + 4 + sext8(imm) * 2); break;
    case Operands::Branch12: std::snprintf(text, sizeof text, f, address + 4 + sext12(op) * 2); break;
    case Operands::BranchReg: std::snprintf(text, sizeof text, f, n, address + 4 + m_r[n]); break;
    case Operands::SImm: std::snprintf(text, sizeof text, f, sext8(imm)); break;
    case Operands::StoreR0: std::snprintf(text, sizeof text, f, m, n, m_r[0] + m_r[n]); break;
    case Operands::LoadR0: std::snprintf(text, sizeof text, f, m, n, m_r[0] + m_r[m]); break;
    case Operands::PcWord: {
        const u32 ea = address + 4 + imm * 2;
        std::snprintf(text, sizeof text, f, imm * 2, n, ea, peekWord(ea));
        break;
    }
    case Operands::PcLong: {
        const u32 ea = ((address + 4) & ~3u) + imm * 4;
        std::snprintf(text, sizeof text, f, imm * 4, n, ea, peekLong(ea));
        break;
    }
    case Operands::Mova: std::snprintf(text, sizeof text, f, imm * 4, ((address + 4) & ~3u) + imm * 4); break;
    case Operands::GbrByte: std::snprintf(text, sizeof text, f, imm, m_gbr + imm); break;
    case Operands::GbrWord: std::snprintf(text, sizeof text, f, imm * 2, m_gbr + imm * 2); break;
    case Operands::GbrLong: std::snprintf(text, sizeof text, f, imm * 4, m_gbr + imm * 4); break;
    case Operands::DispByte: std::snprintf(text, sizeof text, f, d4, m, m_r[m] + d4); break;
    case Operands::DispWord: std::snprintf(text, sizeof text, f, d4 * 2, m, m_r[m] + d4 * 2); break;
    case Operands::DispLongStore: std::snprintf(text, sizeof text, f, m, d4 * 4, n, m_r[n] + d4 * 4); break;
    case Operands::DispLongLoad: std::snprintf(text, sizeof text, f, d4 * 4, m, n, m_r[m] + d4 * 4); break;
    case Operands::None: std::snprintf(text, sizeof text, "%s", f); break;
    }
#pragma GCC diagnostic pop
    m_text = text;
    return m_text;
}
