#include <cstdio>

#include "board/sh2/sh2.h"

using namespace sh2;

namespace {

constexpr const char* kFormats[kInsnCount] = {
    "add r%d, r%d", "add #H'%02X, r%d ; %d", "addc r%d, r%d", "addv r%d, r%d", "and r%d, r%d",
    "and #H'%02X, r0", "and.b #H'%02X, @(r0, gbr) ; %08X", "bf %08X", "bf/s %08X", "bra %08X",
    "braf r%d ; %08X", "bsr %08X", "bsrf r%d ; %08X", "bt %08X", "bt/s %08X", "clrmac", "clrt",
    "cmp/eq r%d, r%d", "cmp/ge r%d, r%d", "cmp/gt r%d, r%d", "cmp/hi r%d, r%d", "cmp/hs r%d, r%d",
    "cmp/pl r%d", "cmp/pz r%d", "cmp/st r%d, r%d", "cmp/eq #H'%08X, r0", "div0s r%d, r%d", "div0u",
    "div1 r%d, r%d", "dmuls.l r%d, r%d", "dmulu.l r%d, r%d", "dt r%d", "exts.b r%d, r%d", "exts.w r%d, r%d",
    "extu.b r%d, r%d", "extu.w r%d, r%d", "jmp @r%d", "jsr @r%d", "ldc r%d, sr", "ldc r%d, gbr",
    "ldc r%d, vbr", "ldc.l @r%d+, sr", "ldc.l @r%d+, gbr", "ldc.l @r%d+, vbr", "lds r%d, mach",
    "lds r%d, macl", "lds r%d, pr", "lds.l @r%d+, mach", "lds.l @r%d+, macl", "lds.l @r%d+, pr",
    "mac.l @r%d+, @r%d+", "mac @r%d+, @r%d+", "mov r%d, r%d", "mov.b r%d, @r%d", "mov.w r%d, @r%d",
    "mov.l r%d, @r%d", "mov.b @r%d, r%d", "mov.w @r%d, r%d", "mov.l @r%d, r%d", "mov.b r%d, @-r%d",
    "mov.w r%d, @-r%d", "mov.l r%d, @-r%d", "mov.b @r%d+, r%d", "mov.w @r%d+, r%d", "mov.l @r%d+, r%d",
    "mov.b r%d, @(r0, r%d) ; %08X", "mov.w r%d, @(r0, r%d) ; %08X", "mov.l r%d, @(r0, r%d) ; %08X",
    "mov.b @(r0, r%d), r%d ; %08X", "mov.w @(r0, r%d), r%d ; %08X", "mov.l @(r0, r%d), r%d ; %08X",
    "mov #H'%02X, r%d ; %d", "mov.w @(H'%03X, pc), r%d ; %08X[H'%04X]",
    "mov.l @(H'%03X, pc), r%d ; %08X[H'%08X]", "mov.b @(H'%03X, gbr), r0 ; %08X",
    "mov.w @(H'%03X, gbr), r0 ; %08X", "mov.l @(H'%03X, gbr), r0 ; %08X", "mov.b r0, @(H'%03X, gbr) ; %08X",
    "mov.w r0, @(H'%03X, gbr) ; %08X", "mov.l r0, @(H'%03X, gbr) ; %08X", "mov.b r0, @(H'%02X, r%d) ; %08X",
    "mov.w r0, @(H'%02X, r%d) ; %08X", "mov.l r%d, @(H'%02X, r%d) ; %08X", "mov.b @(H'%02X, r%d), r0 ; %08X",
    "mov.w @(H'%02X, r%d), r0 ; %08X", "mov.l @(H'%02X, r%d), r%d ; %08X", "mova @(H'%03X, pc), r0 ; %08X",
    "movt r%d", "mul.l r%d, r%d", "muls.l r%d, r%d", "mulu.l r%d, r%d", "neg r%d, r%d", "negc r%d, r%d", "nop",
    "not r%d, r%d", "or r%d, r%d", "or #H'%02X, r0", "or.b #H'%02X, @(r0, gbr) ; %08X", "rotcl r%d",
    "rotcr r%d", "rotl r%d", "rotr r%d", "rte", "rts", "sett", "shal r%d", "shar r%d", "shll r%d",
    "shll2 r%d", "shll8 r%d", "shll16 r%d", "shlr r%d", "shlr2 r%d", "shlr8 r%d", "shlr16 r%d", "sleep",
    "stc sr, r%d", "stc gbr, r%d", "stc vbr, r%d", "stc.l sr, @-r%d", "stc.l gbr, @-r%d", "stc.l vbr, @-r%d",
    "sts mach, r%d", "sts macl, r%d", "sts pr, r%d", "sts.l mach, @-r%d", "sts.l macl, @-r%d",
    "sts.l pr, @-r%d", "sub r%d, r%d", "subc r%d, r%d", "subv r%d, r%d", "swap.b r%d, r%d", "swap r%d, r%d",
    "tas.b @r%d", "trapa #%02X", "tst r%d, r%d", "tst #H'%02X, r0", "tst.b #H'%02X, @(r0, gbr) ; %08X",
    "xor r%d, r%d", "xor #H'%02X, r0", "xor.b #H'%02X, @(r0, gbr) ; %08X", "xtrct r%d, r%d",
};

inline u32 sext8(u32 v) { return static_cast<u32>(static_cast<s32>(static_cast<s8>(v))); }
inline u32 sext12(u32 v) { return (v & 0x800) ? (v | 0xFFFFF000u) : (v & 0xFFF); }

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
    case 16: return m_mach;
    case 17: return m_macl;
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
    case 16: m_mach = value; break;
    case 17: m_macl = value; break;
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
    switch (decode(readOpcode(address))) {
    case kBra: case kBraf: case kJmp: return kJump;
    case kBf: case kBfs: case kBt: case kBts: return kBranch;
    case kBsr: case kBsrf: case kJsr: return kCall;
    case kRts: return kReturn;
    case kRte: return kReturnFromException;
    default: return kOther;
    }
}

bool SH2::isBranchTaken(u32 address)
{
    switch (decode(readOpcode(address))) {
    case kBf: case kBfs: return m_ft != 1;
    case kBt: case kBts: return m_ft == 1;
    case kBra: case kBraf: case kBsr: case kBsrf: case kJmp: case kJsr: case kRte: case kRts: return true;
    default: return false;
    }
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
    switch (decode(readOpcode(address))) {
    case kBfs: case kBra: case kBraf: case kBsr: case kBsrf: case kBts: case kJmp: case kJsr: case kRte:
    case kRts:
        return true;
    default:
        return false;
    }
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
    const char* f = kFormats[index];
    const u32 gbrR0 = m_gbr + m_r[0];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    switch (index) {
    // Two registers: m then n.
    case kAdd: case kAddc: case kAddv: case kAnd: case kCmpEq: case kCmpGe: case kCmpGt: case kCmpHi: case kCmpHs:
    case kCmpStr: case kDiv0s: case kDiv1: case kDmulsL: case kDmuluL: case kExtsB: case kExtsW: case kExtuB:
    case kExtuW: case kMacL: case kMacW: case kMov: case kMovBStore: case kMovWStore: case kMovLStore:
    case kMovBLoad: case kMovWLoad: case kMovLLoad: case kMovBPush: case kMovWPush: case kMovLPush: case kMovBPop:
    case kMovWPop: case kMovLPop: case kMulL: case kMulsW: case kMuluW: case kNeg: case kNegc: case kNot: case kOr:
    case kSub: case kSubc: case kSubv: case kSwapB: case kSwapW: case kTst: case kXor: case kXtrct:
        std::snprintf(text, sizeof text, f, m, n);
        break;
    // One register: n.
    case kCmpPl: case kCmpPz: case kDt: case kJmp: case kJsr: case kLdcSr: case kLdcGbr: case kLdcVbr:
    case kLdcLSr: case kLdcLGbr: case kLdcLVbr: case kLdsMach: case kLdsMacl: case kLdsPr: case kLdsLMach:
    case kLdsLMacl: case kLdsLPr: case kMovt: case kRotcl: case kRotcr: case kRotl: case kRotr: case kShal:
    case kShar: case kShll: case kShll2: case kShll8: case kShll16: case kShlr: case kShlr2: case kShlr8:
    case kShlr16: case kStcSr: case kStcGbr: case kStcVbr: case kStcLSr: case kStcLGbr: case kStcLVbr:
    case kStsMach: case kStsMacl: case kStsPr: case kStsLMach: case kStsLMacl: case kStsLPr: case kTasB:
        std::snprintf(text, sizeof text, f, n);
        break;
    case kAddImm: case kMovImm:
        std::snprintf(text, sizeof text, f, sext8(imm), n, static_cast<int>(static_cast<s8>(imm)));
        break;
    case kAndImm: case kOrImm: case kTstImm: case kXorImm: case kTrapa:
        std::snprintf(text, sizeof text, f, imm);
        break;
    case kAndB: case kOrB: case kTstB: case kXorB:
        std::snprintf(text, sizeof text, f, imm, gbrR0);
        break;
    case kBf: case kBfs: case kBt: case kBts:
        std::snprintf(text, sizeof text, f, address + 4 + sext8(imm) * 2);
        break;
    case kBra: case kBsr:
        std::snprintf(text, sizeof text, f, address + 4 + sext12(op) * 2);
        break;
    case kBraf: case kBsrf:
        std::snprintf(text, sizeof text, f, n, address + 4 + m_r[n]);
        break;
    case kCmpEqImm:
        std::snprintf(text, sizeof text, f, sext8(imm));
        break;
    case kMovBStoreR0: case kMovWStoreR0: case kMovLStoreR0:
        std::snprintf(text, sizeof text, f, m, n, m_r[0] + m_r[n]);
        break;
    case kMovBLoadR0: case kMovWLoadR0: case kMovLLoadR0:
        std::snprintf(text, sizeof text, f, m, n, m_r[0] + m_r[m]);
        break;
    case kMovWPc: {
        const u32 ea = address + 4 + imm * 2;
        std::snprintf(text, sizeof text, f, imm * 2, n, ea, peekWord(ea));
        break;
    }
    case kMovLPc: {
        const u32 ea = ((address + 4) & ~3u) + imm * 4;
        std::snprintf(text, sizeof text, f, imm * 4, n, ea, peekLong(ea));
        break;
    }
    case kMova:
        std::snprintf(text, sizeof text, f, imm * 4, ((address + 4) & ~3u) + imm * 4);
        break;
    case kMovBLoadGbr: case kMovBStoreGbr:
        std::snprintf(text, sizeof text, f, imm, m_gbr + imm);
        break;
    case kMovWLoadGbr: case kMovWStoreGbr:
        std::snprintf(text, sizeof text, f, imm * 2, m_gbr + imm * 2);
        break;
    case kMovLLoadGbr: case kMovLStoreGbr:
        std::snprintf(text, sizeof text, f, imm * 4, m_gbr + imm * 4);
        break;
    case kMovBStoreDisp: case kMovBLoadDisp:
        std::snprintf(text, sizeof text, f, d4, m, m_r[m] + d4);
        break;
    case kMovWStoreDisp: case kMovWLoadDisp:
        std::snprintf(text, sizeof text, f, d4 * 2, m, m_r[m] + d4 * 2);
        break;
    case kMovLStoreDisp:
        std::snprintf(text, sizeof text, f, m, d4 * 4, n, m_r[n] + d4 * 4);
        break;
    case kMovLLoadDisp:
        std::snprintf(text, sizeof text, f, d4 * 4, m, n, m_r[m] + d4 * 4);
        break;
    default:
        std::snprintf(text, sizeof text, "%s", f);
        break;
    }
#pragma GCC diagnostic pop
    m_text = text;
    return m_text;
}
