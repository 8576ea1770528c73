#pragma once

#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "board/sh2/wait_loop.h"
#include "core/base/cpu.h"

class SH2;

namespace sh2 {

// The instruction set, one row each: name (instruction index kName and
// interpreter handler opName), the opcode with its operand bits clear, the
// mask of its fixed bits, the control transfer it makes (its kind for the
// debugger; Rte is ReturnFromException), the operands the disassembler fills
// in, the data it reads or stores beside its fetch (Data below) with the
// width of each access, and its format.
#define KEST_SH2_INSNS(X) \
    X(Add,           0x300C, 0xF00F, Other,  RegMN,         None, 0,         "add r%d, r%d")                            \
    X(AddImm,        0x7000, 0xF000, Other,  SImmN,         None, 0,         "add #H'%02X, r%d ; %d")                   \
    X(Addc,          0x300E, 0xF00F, Other,  RegMN,         None, 0,         "addc r%d, r%d")                           \
    X(Addv,          0x300F, 0xF00F, Other,  RegMN,         None, 0,         "addv r%d, r%d")                           \
    X(And,           0x2009, 0xF00F, Other,  RegMN,         None, 0,         "and r%d, r%d")                            \
    X(AndImm,        0xC900, 0xFF00, Other,  Imm,           None, 0,         "and #H'%02X, r0")                         \
    X(AndB,          0xCD00, 0xFF00, Other,  ImmGbrR0,      ModifyR0Gbr, 1,  "and.b #H'%02X, @(r0, gbr) ; %08X")        \
    X(Bf,            0x8B00, 0xFF00, Branch, Branch8,       None, 0,         "bf %08X")                                 \
    X(Bfs,           0x8F00, 0xFF00, Branch, Branch8,       None, 0,         "bf/s %08X")                               \
    X(Bra,           0xA000, 0xF000, Jump,   Branch12,      None, 0,         "bra %08X")                                \
    X(Braf,          0x0023, 0xF0FF, Jump,   BranchReg,     None, 0,         "braf r%d ; %08X")                         \
    X(Bsr,           0xB000, 0xF000, Call,   Branch12,      None, 0,         "bsr %08X")                                \
    X(Bsrf,          0x0003, 0xF0FF, Call,   BranchReg,     None, 0,         "bsrf r%d ; %08X")                         \
    X(Bt,            0x8900, 0xFF00, Branch, Branch8,       None, 0,         "bt %08X")                                 \
    X(Bts,           0x8D00, 0xFF00, Branch, Branch8,       None, 0,         "bt/s %08X")                               \
    X(Clrmac,        0x0028, 0xFFFF, Other,  None,          None, 0,         "clrmac")                                  \
    X(Clrt,          0x0008, 0xFFFF, Other,  None,          None, 0,         "clrt")                                    \
    X(CmpEq,         0x3000, 0xF00F, Other,  RegMN,         None, 0,         "cmp/eq r%d, r%d")                         \
    X(CmpGe,         0x3003, 0xF00F, Other,  RegMN,         None, 0,         "cmp/ge r%d, r%d")                         \
    X(CmpGt,         0x3007, 0xF00F, Other,  RegMN,         None, 0,         "cmp/gt r%d, r%d")                         \
    X(CmpHi,         0x3006, 0xF00F, Other,  RegMN,         None, 0,         "cmp/hi r%d, r%d")                         \
    X(CmpHs,         0x3002, 0xF00F, Other,  RegMN,         None, 0,         "cmp/hs r%d, r%d")                         \
    X(CmpPl,         0x4015, 0xF0FF, Other,  RegN,          None, 0,         "cmp/pl r%d")                              \
    X(CmpPz,         0x4011, 0xF0FF, Other,  RegN,          None, 0,         "cmp/pz r%d")                              \
    X(CmpStr,        0x200C, 0xF00F, Other,  RegMN,         None, 0,         "cmp/st r%d, r%d")                         \
    X(CmpEqImm,      0x8800, 0xFF00, Other,  SImm,          None, 0,         "cmp/eq #H'%08X, r0")                      \
    X(Div0s,         0x2007, 0xF00F, Other,  RegMN,         None, 0,         "div0s r%d, r%d")                          \
    X(Div0u,         0x0019, 0xFFFF, Other,  None,          None, 0,         "div0u")                                   \
    X(Div1,          0x3004, 0xF00F, Other,  RegMN,         None, 0,         "div1 r%d, r%d")                           \
    X(DmulsL,        0x300D, 0xF00F, Other,  RegMN,         None, 0,         "dmuls.l r%d, r%d")                        \
    X(DmuluL,        0x3005, 0xF00F, Other,  RegMN,         None, 0,         "dmulu.l r%d, r%d")                        \
    X(Dt,            0x4010, 0xF0FF, Other,  RegN,          None, 0,         "dt r%d")                                  \
    X(ExtsB,         0x600E, 0xF00F, Other,  RegMN,         None, 0,         "exts.b r%d, r%d")                         \
    X(ExtsW,         0x600F, 0xF00F, Other,  RegMN,         None, 0,         "exts.w r%d, r%d")                         \
    X(ExtuB,         0x600C, 0xF00F, Other,  RegMN,         None, 0,         "extu.b r%d, r%d")                         \
    X(ExtuW,         0x600D, 0xF00F, Other,  RegMN,         None, 0,         "extu.w r%d, r%d")                         \
    X(Jmp,           0x402B, 0xF0FF, Jump,   RegN,          None, 0,         "jmp @r%d")                                \
    X(Jsr,           0x400B, 0xF0FF, Call,   RegN,          None, 0,         "jsr @r%d")                                \
    X(LdcSr,         0x400E, 0xF0FF, Other,  RegN,          None, 0,         "ldc r%d, sr")                             \
    X(LdcGbr,        0x401E, 0xF0FF, Other,  RegN,          None, 0,         "ldc r%d, gbr")                            \
    X(LdcVbr,        0x402E, 0xF0FF, Other,  RegN,          None, 0,         "ldc r%d, vbr")                            \
    X(LdcLSr,        0x4007, 0xF0FF, Other,  RegN,          PopRn, 4,        "ldc.l @r%d+, sr")                         \
    X(LdcLGbr,       0x4017, 0xF0FF, Other,  RegN,          PopRn, 4,        "ldc.l @r%d+, gbr")                        \
    X(LdcLVbr,       0x4027, 0xF0FF, Other,  RegN,          PopRn, 4,        "ldc.l @r%d+, vbr")                        \
    X(LdsMach,       0x400A, 0xF0FF, Other,  RegN,          None, 0,         "lds r%d, mach")                           \
    X(LdsMacl,       0x401A, 0xF0FF, Other,  RegN,          None, 0,         "lds r%d, macl")                           \
    X(LdsPr,         0x402A, 0xF0FF, Other,  RegN,          None, 0,         "lds r%d, pr")                             \
    X(LdsLMach,      0x4006, 0xF0FF, Other,  RegN,          PopRn, 4,        "lds.l @r%d+, mach")                       \
    X(LdsLMacl,      0x4016, 0xF0FF, Other,  RegN,          PopRn, 4,        "lds.l @r%d+, macl")                       \
    X(LdsLPr,        0x4026, 0xF0FF, Other,  RegN,          PopRn, 4,        "lds.l @r%d+, pr")                         \
    X(MacL,          0x000F, 0xF00F, Other,  RegMN,         PopRnRm, 4,      "mac.l @r%d+, @r%d+")                      \
    X(MacW,          0x400F, 0xF00F, Other,  RegMN,         PopRnRm, 2,      "mac @r%d+, @r%d+")                        \
    X(Mov,           0x6003, 0xF00F, Other,  RegMN,         None, 0,         "mov r%d, r%d")                            \
    X(MovBStore,     0x2000, 0xF00F, Other,  RegMN,         StoreRn, 1,      "mov.b r%d, @r%d")                         \
    X(MovWStore,     0x2001, 0xF00F, Other,  RegMN,         StoreRn, 2,      "mov.w r%d, @r%d")                         \
    X(MovLStore,     0x2002, 0xF00F, Other,  RegMN,         StoreRn, 4,      "mov.l r%d, @r%d")                         \
    X(MovBLoad,      0x6000, 0xF00F, Other,  RegMN,         LoadRm, 1,       "mov.b @r%d, r%d")                         \
    X(MovWLoad,      0x6001, 0xF00F, Other,  RegMN,         LoadRm, 2,       "mov.w @r%d, r%d")                         \
    X(MovLLoad,      0x6002, 0xF00F, Other,  RegMN,         LoadRm, 4,       "mov.l @r%d, r%d")                         \
    X(MovBPush,      0x2004, 0xF00F, Other,  RegMN,         PushRn, 1,       "mov.b r%d, @-r%d")                        \
    X(MovWPush,      0x2005, 0xF00F, Other,  RegMN,         PushRn, 2,       "mov.w r%d, @-r%d")                        \
    X(MovLPush,      0x2006, 0xF00F, Other,  RegMN,         PushRn, 4,       "mov.l r%d, @-r%d")                        \
    X(MovBPop,       0x6004, 0xF00F, Other,  RegMN,         PopRm, 1,        "mov.b @r%d+, r%d")                        \
    X(MovWPop,       0x6005, 0xF00F, Other,  RegMN,         PopRm, 2,        "mov.w @r%d+, r%d")                        \
    X(MovLPop,       0x6006, 0xF00F, Other,  RegMN,         PopRm, 4,        "mov.l @r%d+, r%d")                        \
    X(MovBStoreR0,   0x0004, 0xF00F, Other,  StoreR0,       StoreR0Rn, 1,    "mov.b r%d, @(r0, r%d) ; %08X")            \
    X(MovWStoreR0,   0x0005, 0xF00F, Other,  StoreR0,       StoreR0Rn, 2,    "mov.w r%d, @(r0, r%d) ; %08X")            \
    X(MovLStoreR0,   0x0006, 0xF00F, Other,  StoreR0,       StoreR0Rn, 4,    "mov.l r%d, @(r0, r%d) ; %08X")            \
    X(MovBLoadR0,    0x000C, 0xF00F, Other,  LoadR0,        LoadR0Rm, 1,     "mov.b @(r0, r%d), r%d ; %08X")            \
    X(MovWLoadR0,    0x000D, 0xF00F, Other,  LoadR0,        LoadR0Rm, 2,     "mov.w @(r0, r%d), r%d ; %08X")            \
    X(MovLLoadR0,    0x000E, 0xF00F, Other,  LoadR0,        LoadR0Rm, 4,     "mov.l @(r0, r%d), r%d ; %08X")            \
    X(MovImm,        0xE000, 0xF000, Other,  SImmN,         None, 0,         "mov #H'%02X, r%d ; %d")                   \
    X(MovWPc,        0x9000, 0xF000, Other,  PcWord,        LoadPc, 2,       "mov.w @(H'%03X, pc), r%d ; %08X[H'%04X]") \
    X(MovLPc,        0xD000, 0xF000, Other,  PcLong,        LoadPc, 4,       "mov.l @(H'%03X, pc), r%d ; %08X[H'%08X]") \
    X(MovBLoadGbr,   0xC400, 0xFF00, Other,  GbrByte,       LoadGbr, 1,      "mov.b @(H'%03X, gbr), r0 ; %08X")         \
    X(MovWLoadGbr,   0xC500, 0xFF00, Other,  GbrWord,       LoadGbr, 2,      "mov.w @(H'%03X, gbr), r0 ; %08X")         \
    X(MovLLoadGbr,   0xC600, 0xFF00, Other,  GbrLong,       LoadGbr, 4,      "mov.l @(H'%03X, gbr), r0 ; %08X")         \
    X(MovBStoreGbr,  0xC000, 0xFF00, Other,  GbrByte,       StoreGbr, 1,     "mov.b r0, @(H'%03X, gbr) ; %08X")         \
    X(MovWStoreGbr,  0xC100, 0xFF00, Other,  GbrWord,       StoreGbr, 2,     "mov.w r0, @(H'%03X, gbr) ; %08X")         \
    X(MovLStoreGbr,  0xC200, 0xFF00, Other,  GbrLong,       StoreGbr, 4,     "mov.l r0, @(H'%03X, gbr) ; %08X")         \
    X(MovBStoreDisp, 0x8000, 0xFF00, Other,  DispByte,      StoreDispRm, 1,  "mov.b r0, @(H'%02X, r%d) ; %08X")         \
    X(MovWStoreDisp, 0x8100, 0xFF00, Other,  DispWord,      StoreDispRm, 2,  "mov.w r0, @(H'%02X, r%d) ; %08X")         \
    X(MovLStoreDisp, 0x1000, 0xF000, Other,  DispLongStore, StoreDispRn, 4,  "mov.l r%d, @(H'%02X, r%d) ; %08X")        \
    X(MovBLoadDisp,  0x8400, 0xFF00, Other,  DispByte,      LoadDispRm, 1,   "mov.b @(H'%02X, r%d), r0 ; %08X")         \
    X(MovWLoadDisp,  0x8500, 0xFF00, Other,  DispWord,      LoadDispRm, 2,   "mov.w @(H'%02X, r%d), r0 ; %08X")         \
    X(MovLLoadDisp,  0x5000, 0xF000, Other,  DispLongLoad,  LoadDispRm, 4,   "mov.l @(H'%02X, r%d), r%d ; %08X")        \
    X(Mova,          0xC700, 0xFF00, Other,  Mova,          None, 0,         "mova @(H'%03X, pc), r0 ; %08X")           \
    X(Movt,          0x0029, 0xF0FF, Other,  RegN,          None, 0,         "movt r%d")                                \
    X(MulL,          0x0007, 0xF00F, Other,  RegMN,         None, 0,         "mul.l r%d, r%d")                          \
    X(MulsW,         0x200F, 0xF00F, Other,  RegMN,         None, 0,         "muls.l r%d, r%d")                         \
    X(MuluW,         0x200E, 0xF00F, Other,  RegMN,         None, 0,         "mulu.l r%d, r%d")                         \
    X(Neg,           0x600B, 0xF00F, Other,  RegMN,         None, 0,         "neg r%d, r%d")                            \
    X(Negc,          0x600A, 0xF00F, Other,  RegMN,         None, 0,         "negc r%d, r%d")                           \
    X(Nop,           0x0009, 0xFFFF, Other,  None,          None, 0,         "nop")                                     \
    X(Not,           0x6007, 0xF00F, Other,  RegMN,         None, 0,         "not r%d, r%d")                            \
    X(Or,            0x200B, 0xF00F, Other,  RegMN,         None, 0,         "or r%d, r%d")                             \
    X(OrImm,         0xCB00, 0xFF00, Other,  Imm,           None, 0,         "or #H'%02X, r0")                          \
    X(OrB,           0xCF00, 0xFF00, Other,  ImmGbrR0,      ModifyR0Gbr, 1,  "or.b #H'%02X, @(r0, gbr) ; %08X")         \
    X(Rotcl,         0x4024, 0xF0FF, Other,  RegN,          None, 0,         "rotcl r%d")                               \
    X(Rotcr,         0x4025, 0xF0FF, Other,  RegN,          None, 0,         "rotcr r%d")                               \
    X(Rotl,          0x4004, 0xF0FF, Other,  RegN,          None, 0,         "rotl r%d")                                \
    X(Rotr,          0x4005, 0xF0FF, Other,  RegN,          None, 0,         "rotr r%d")                                \
    X(Rte,           0x002B, 0xFFFF, Rte,    None,          Frame, 4,        "rte")                                     \
    X(Rts,           0x000B, 0xFFFF, Return, None,          None, 0,         "rts")                                     \
    X(Sett,          0x0018, 0xFFFF, Other,  None,          None, 0,         "sett")                                    \
    X(Shal,          0x4020, 0xF0FF, Other,  RegN,          None, 0,         "shal r%d")                                \
    X(Shar,          0x4021, 0xF0FF, Other,  RegN,          None, 0,         "shar r%d")                                \
    X(Shll,          0x4000, 0xF0FF, Other,  RegN,          None, 0,         "shll r%d")                                \
    X(Shll2,         0x4008, 0xF0FF, Other,  RegN,          None, 0,         "shll2 r%d")                               \
    X(Shll8,         0x4018, 0xF0FF, Other,  RegN,          None, 0,         "shll8 r%d")                               \
    X(Shll16,        0x4028, 0xF0FF, Other,  RegN,          None, 0,         "shll16 r%d")                              \
    X(Shlr,          0x4001, 0xF0FF, Other,  RegN,          None, 0,         "shlr r%d")                                \
    X(Shlr2,         0x4009, 0xF0FF, Other,  RegN,          None, 0,         "shlr2 r%d")                               \
    X(Shlr8,         0x4019, 0xF0FF, Other,  RegN,          None, 0,         "shlr8 r%d")                               \
    X(Shlr16,        0x4029, 0xF0FF, Other,  RegN,          None, 0,         "shlr16 r%d")                              \
    X(Sleep,         0x001B, 0xFFFF, Other,  None,          None, 0,         "sleep")                                   \
    X(StcSr,         0x0002, 0xF0FF, Other,  RegN,          None, 0,         "stc sr, r%d")                             \
    X(StcGbr,        0x0012, 0xF0FF, Other,  RegN,          None, 0,         "stc gbr, r%d")                            \
    X(StcVbr,        0x0022, 0xF0FF, Other,  RegN,          None, 0,         "stc vbr, r%d")                            \
    X(StcLSr,        0x4003, 0xF0FF, Other,  RegN,          PushRn, 4,       "stc.l sr, @-r%d")                         \
    X(StcLGbr,       0x4013, 0xF0FF, Other,  RegN,          PushRn, 4,       "stc.l gbr, @-r%d")                        \
    X(StcLVbr,       0x4023, 0xF0FF, Other,  RegN,          PushRn, 4,       "stc.l vbr, @-r%d")                        \
    X(StsMach,       0x000A, 0xF0FF, Other,  RegN,          None, 0,         "sts mach, r%d")                           \
    X(StsMacl,       0x001A, 0xF0FF, Other,  RegN,          None, 0,         "sts macl, r%d")                           \
    X(StsPr,         0x002A, 0xF0FF, Other,  RegN,          None, 0,         "sts pr, r%d")                             \
    X(StsLMach,      0x4002, 0xF0FF, Other,  RegN,          PushRn, 4,       "sts.l mach, @-r%d")                       \
    X(StsLMacl,      0x4012, 0xF0FF, Other,  RegN,          PushRn, 4,       "sts.l macl, @-r%d")                       \
    X(StsLPr,        0x4022, 0xF0FF, Other,  RegN,          PushRn, 4,       "sts.l pr, @-r%d")                         \
    X(Sub,           0x3008, 0xF00F, Other,  RegMN,         None, 0,         "sub r%d, r%d")                            \
    X(Subc,          0x300A, 0xF00F, Other,  RegMN,         None, 0,         "subc r%d, r%d")                           \
    X(Subv,          0x300B, 0xF00F, Other,  RegMN,         None, 0,         "subv r%d, r%d")                           \
    X(SwapB,         0x6008, 0xF00F, Other,  RegMN,         None, 0,         "swap.b r%d, r%d")                         \
    X(SwapW,         0x6009, 0xF00F, Other,  RegMN,         None, 0,         "swap r%d, r%d")                           \
    X(TasB,          0x401B, 0xF0FF, Other,  RegN,          ModifyRn, 1,     "tas.b @r%d")                              \
    X(Trapa,         0xC300, 0xFF00, Other,  Imm,           Frame, 4,        "trapa #%02X")                             \
    X(Tst,           0x2008, 0xF00F, Other,  RegMN,         None, 0,         "tst r%d, r%d")                            \
    X(TstImm,        0xC800, 0xFF00, Other,  Imm,           None, 0,         "tst #H'%02X, r0")                         \
    X(TstB,          0xCC00, 0xFF00, Other,  ImmGbrR0,      LoadR0Gbr, 1,    "tst.b #H'%02X, @(r0, gbr) ; %08X")        \
    X(Xor,           0x200A, 0xF00F, Other,  RegMN,         None, 0,         "xor r%d, r%d")                            \
    X(XorImm,        0xCA00, 0xFF00, Other,  Imm,           None, 0,         "xor #H'%02X, r0")                         \
    X(XorB,          0xCE00, 0xFF00, Other,  ImmGbrR0,      ModifyR0Gbr, 1,  "xor.b #H'%02X, @(r0, gbr) ; %08X")        \
    X(Xtrct,         0x200D, 0xF00F, Other,  RegMN,         None, 0,         "xtrct r%d, r%d")

// Instruction indexes, in row order.
enum Insn : u8 {
#define KEST_SH2_INDEX(name, ...) k##name,
    KEST_SH2_INSNS(KEST_SH2_INDEX)
#undef KEST_SH2_INDEX
    kInsnCount,
    kUndefined = 0xFE,
    kHookTrap = 0xFF,
};

// Control transfers, in the order of the debugger's instruction kinds.
enum class Flow : u8 { Other, Jump, Branch, Call, Return, Rte };
static_assert(static_cast<int>(Flow::Rte) == CPU::kReturnFromException);

#define KEST_SH2_FLOW(name, pattern, mask, flow, ...) Flow::flow,
constexpr Flow kFlows[kInsnCount] = {KEST_SH2_INSNS(KEST_SH2_FLOW)};
#undef KEST_SH2_FLOW

constexpr Flow flowOf(u8 index) { return index < kInsnCount ? kFlows[index] : Flow::Other; }

// What the disassembler fills into a format, beside the fixed text; it also
// says which register fields an instruction names.
enum class Operands : u8 {
    None, RegMN, RegN, SImmN, Imm, ImmGbrR0, Branch8, Branch12, BranchReg, SImm, StoreR0, LoadR0, PcWord, PcLong,
    Mova, GbrByte, GbrWord, GbrLong, DispByte, DispWord, DispLongStore, DispLongLoad,
};

#define KEST_SH2_OPERANDS(name, pattern, mask, flow, operands, ...) Operands::operands,
constexpr Operands kOperands[kInsnCount] = {KEST_SH2_INSNS(KEST_SH2_OPERANDS)};
#undef KEST_SH2_OPERANDS

// The data an instruction reads or stores, by the form of its address: the
// opcode's register fields n and m, R0, GBR, the PC, and the 4-bit
// displacement (Disp) or the 8-bit one (Gbr, Pc) scaled by the width. Pop
// reads and then steps its register, Push steps it back and then stores,
// Modify reads and stores back the same byte, PopRnRm pops @Rn and then
// @Rm. Frame is an exception's stack frame and vector.
enum class Data : u8 {
    None, LoadRm, LoadR0Rm, LoadDispRm, LoadGbr, LoadR0Gbr, LoadPc, PopRm, PopRn, PopRnRm,
    StoreRn, StoreR0Rn, StoreDispRm, StoreDispRn, StoreGbr, PushRn, ModifyRn, ModifyR0Gbr, Frame,
};

struct DataRow {
    Data data;
    u8 width;
};

#define KEST_SH2_DATA(name, pattern, mask, flow, operands, data, width, ...) DataRow{Data::data, width},
constexpr DataRow kData[kInsnCount] = {KEST_SH2_INSNS(KEST_SH2_DATA)};
#undef KEST_SH2_DATA

struct DataAccess {
    u32 address;
    u8 width;
    bool store;
    bool operator==(const DataAccess&) const = default;
};

// The data accesses of the instruction of decode table index `index`
// (word: the opcode as loaded), in the order it makes them, from the
// registers, GBR and the PC it sees as its own: how many (two at most), or
// -1 where they are not stated: an exception's, or an opcode that is no
// instruction. Inline, as the skip asks it for every instruction it records.
inline int dataAccesses(u8 index, u32 word, const u32* r, u32 gbr, u32 pc, DataAccess out[2])
{
    if (index >= kInsnCount)
        return -1;
    const auto [data, width] = kData[index];
    if (data == Data::None)
        return 0;
    // The fields of the word as loaded, as the interpreter takes them.
    const u32 fieldN = word & 15;
    const u32 fieldM = (word >> 12) & 15;
    const u32 rn = r[fieldN];
    const u32 rm = r[fieldM];
    const u32 imm = (word >> 8) & 0xFF;
    const u32 disp = (imm & 15) * width;
    const auto one = [&](u32 address, bool store) {
        out[0] = {address, width, store};
        return 1;
    };
    const auto two = [&](u32 first, bool store, u32 second) {
        out[0] = {first, width, false};
        out[1] = {second, width, store};
        return 2;
    };
    constexpr bool kRead = false;
    constexpr bool kStore = true;
    switch (data) {
    case Data::None: return 0;
    case Data::LoadRm: case Data::PopRm: return one(rm, kRead);
    case Data::LoadR0Rm: return one(r[0] + rm, kRead);
    case Data::LoadDispRm: return one(rm + disp, kRead);
    case Data::LoadGbr: return one(gbr + imm * width, kRead);
    case Data::LoadR0Gbr: return one(gbr + r[0], kRead);
    case Data::LoadPc: return one((width == 4 ? (pc + 4) & ~3u : pc + 4) + imm * width, kRead);
    case Data::PopRn: return one(rn, kRead);
    // Rn has stepped when @Rm is read.
    case Data::PopRnRm: return two(rn, kRead, rm + (fieldM == fieldN ? width : 0));
    case Data::StoreRn: return one(rn, kStore);
    case Data::StoreR0Rn: return one(r[0] + rn, kStore);
    case Data::StoreDispRm: return one(rm + disp, kStore);
    case Data::StoreDispRn: return one(rn + disp, kStore);
    case Data::StoreGbr: return one(gbr + imm * width, kStore);
    case Data::PushRn: return one(rn - width, kStore);
    case Data::ModifyRn: return two(rn, kStore, rn);
    case Data::ModifyR0Gbr: return two(gbr + r[0], kStore, gbr + r[0]);
    case Data::Frame: return -1;
    }
    return -1;
}

// Sign extension of an 8-bit and a 12-bit field.
inline u32 sext8(u32 v) { return static_cast<u32>(static_cast<s32>(static_cast<s8>(v))); }
inline u32 sext12(u32 v) { return static_cast<u32>(static_cast<s32>(v << 20) >> 20); }

// The decode table's index of an opcode: its bytes swapped, as a native
// little-endian load of big-endian guest memory yields it.
inline u16 tableIndex(u16 opcode) { return static_cast<u16>(opcode << 8 | opcode >> 8); }

// Instructions that change the PC: placed in a delay slot they are slot
// illegal, which also keeps slots from nesting. An undefined opcode in a
// slot raises the same exception.
constexpr bool isSlotIllegal(u8 index)
{
    return flowOf(index) != Flow::Other || index == kTrapa || index == kUndefined;
}

// Host fetch through the direct entry of the address's own page, so the
// pointer can never leave the page it was made for. An odd PC fetches the
// word it sits in. The word comes as loaded, a decode table index.
inline u16 fetchAt(const uintptr_t* direct, u32 pc)
{
    const u32 even = pc & ~1u;
    u16 raw;
    std::memcpy(&raw, reinterpret_cast<const void*>(direct[even >> PageMap::kPageShift] + even), 2);
    return raw;
}

// The host base that fetches at a PC of its page: for an odd PC it is one
// lower, so that base + PC is the word the PC sits in, as fetchAt reads it.
inline uintptr_t pageBase(const uintptr_t* direct, u32 pc)
{
    return direct[pc >> PageMap::kPageShift] - (pc & 1);
}

}  // namespace sh2

// Holds the processor's page tables so that they exist before the CPU base
// installs its default handlers in them.
struct SH2PageTables {
    std::unique_ptr<PageMap> tables = std::make_unique<PageMap>();
};

// One of the Hitachi SH-2 processors: interpreter, exceptions, the on-chip
// modules and the processor's own address areas.
class SH2 : private SH2PageTables, public CPU {
public:
    enum CpuState : u32 { kCpuStopped = 0, kCpuRunning = 1, kCpuSleep = 2, kCpuStandby = 3 };

    // Area ids of getAccessHandlers.
    enum Area : int {
        kCs0Cache = 0, kCs1Cache, kCs2Cache, kCs3Cache, kReserved0, kCs0Through, kCs1Through, kCs2Through,
        kCs3Through, kReserved1, kPurge, kReserved2, kCacheAddress, kReserved3, kCacheData, kReserved4,
        kUndefinedArea, kReserved5, kSdmuArea, kReserved6, kOnChip, kAreaCount
    };

    static constexpr u32 kNmiVector = 11;
    static constexpr u32 kNmiLevel = 16;

    // The on-chip modules. Their registers are plain fields so that the
    // register window and the tests read them directly.
    class Unit : public Object {
    public:
        Unit(std::string name, SH2* cpu) : Object(std::move(name)), m_cpu(cpu) {}

    protected:
        SH2* m_cpu;
    };

    class INTC : public Unit {
    public:
        using Unit::Unit;
        void reset() { iprb = vcra = vcrb = vcrc = vcrd = ipra = vcrwdt = icr = 0; }
        void standby() { const u16 keep = icr; reset(); icr = keep; }
        u16 iprb = 0, vcra = 0, vcrb = 0, vcrc = 0, vcrd = 0, ipra = 0, vcrwdt = 0, icr = 0;
    };

    class UBC : public Unit {
    public:
        using Unit::Unit;
    };

    class BSC : public Unit {
    public:
        using Unit::Unit;
        void reset();
        u16 bcr1 = 0, bcr2 = 0, wcr = 0, mcr = 0, rtcsr = 0, rtcnt = 0, rtcor = 0;
    };

    class Cache : public Unit {
    public:
        static constexpr int kWays = 4;
        static constexpr int kEntries = 64;
        static constexpr int kLineBytes = 16;
        using Unit::Unit;
        void reset() { ccr = 0; way = 0; }
        void writeCcr(u8 value);
        u32 readAddress(u32 a) const;
        void writeAddress(u32 a, u32 d);
        void purge(u32 a);
        u8* line(u32 a) { return data[(a >> 10) & 3][(a >> 4) & 63]; }
        u8 ccr = 0;
        u8 way = 0;
        u32 tag[kWays][kEntries] = {};
        u8 valid[kWays][kEntries] = {};
        u8 data[kWays][kEntries][kLineBytes] = {};
        u8 lru[kEntries] = {};
    };

    class DMAC : public Unit {
    public:
        using Unit::Unit;
        void reset();
        void writeChcr(int n, u32 value);
        void writeDmaor(u32 value);
        void start(int n);
        void transfer(int n);
        u32 sar[2] = {}, dar[2] = {}, tcr[2] = {}, chcr[2] = {}, vcrdma[2] = {};
        u8 drcr[2] = {};
        u32 dmaor = 0;
        u8 roundRobin = 0;
    };

    class DIVU : public Unit {
    public:
        using Unit::Unit;
        void reset() { dvcr = 0; }
        void divide32(u32 dividend);
        void divide64(u32 low);
        u32 dvsr = 0, dvdnth = 0, dvdntl = 0, dvcr = 0, vcrdiv = 0;

    private:
        void overflow();
    };

    class FRT : public Unit {
    public:
        using Unit::Unit;
        void reset();
        // Inline: it runs after every slice, and nearly always the count
        // only moves on.
        void step(u32 clocks)
        {
            const u32 total = remainder + clocks;
            const u32 next = frc + (total >> shift);
            remainder = total & (divisor - 1);
            if (next < 0x10000 && !(frc < ocra && ocra <= next) && !(frc < ocrb && ocrb <= next)) {
                frc = static_cast<u16>(next);
                return;
            }
            reach(next);
        }
        // Moves the count to next where a compare matches or it overflows.
        void reach(u32 next);
        u16 ocr() const;
        void write(u32 offset, u8 value);
        void inputCapture();
        u8 tier = 0x01, ftcsr = 0, tcr = 0, tocr = 0xE0;
        u16 frc = 0, ocra = 0xFFFF, ocrb = 0xFFFF, ficr = 0;
        u8 temp = 0;
        u32 divisor = 8;
        u32 shift = 3;  // log2 of divisor
        u32 remainder = 0;
    };

    class WDT : public Unit {
    public:
        using Unit::Unit;
        void reset();
        void standby() { const u8 keep = wtcnt; reset(); wtcnt = keep; }
        void step(u32 clocks)
        {
            if ((wtcsr & 0x20) && !(wtcsr & 0x80) && !(rstcsr & 0x80))
                count(clocks);
        }
        void count(u32 clocks);
        // WTCSR at 0x80, RSTCSR at 0x82: a read notes that the flag was seen.
        u8 read(u32 offset);
        void writeWord(u32 offset, u16 value);
        u8 wtcnt = 0, wtcsr = 0x18, rstcsr = 0x1F;
        u32 shift = 1;
        u32 remainder = 0;
        bool csrRead = false, rstRead = false;
    };

    class SCI : public Unit {
    public:
        using Unit::Unit;
        void reset();
        u8 read(u32 offset);
        void write(u32 offset, u8 value);
        void transmit();
        u8 smr = 0, brr = 0xFF, scr = 0, tdr = 0xFF, ssr = 0x84, rdr = 0;
        u8 shiftByte = 0;
        u32 divisor = 4;
    };

    class PMU : public Unit {
    public:
        using Unit::Unit;
        void reset() { sbycr = 0; }
        u8 sbycr = 0;
    };

    class SDMU : public Unit {
    public:
        using Unit::Unit;
        void reset() { mode = 0; casLatency = 0; burstLength = 4; }
        void writeMode(u32 address, u16 data);
        u16 mode = 0;
        u32 casLatency = 0;
        u32 burstLength = 4;
    };

    SH2();
    ~SH2() override;

    void setSlave(bool slave);
    bool isSlave() const { return (bsc.bcr1 & 0x8000) != 0; }
    // The waiting-loop skip; an armed breakpoint turns it off as well.
    void setSkipWaitLoops(bool on) { m_wait.setEnabled(on); }
    u64 waitLoopSkips() const { return m_wait.slicesRunOut(); }

    // Device
    void powerOn() override;
    void powerOff() override;
    void reset() override;
    u32 execute(u32 clocks) override;
    AccessHandlers getAccessHandlers(int id) override;

    // CPU: the debugger's view
    u8 getFlag(int number) override;
    void setFlag(int number, u8 value) override;
    u32 getRegister(int number) override;
    void setRegister(int number, u32 value) override;
    u32 getStatus() override { return m_sr; }
    void setStatus(u32 value) override;
    u32 getPC() override { return m_pc; }
    void setPC(u32 pc) override { m_pc = pc; }
    bool isBranchTaken(u32 address) override;
    std::string disassemble(u32 address) override;
    const u8* getOpcodeBytes(u32 address, u32& length) override;
    int getInstructionType(u32 address) override;
    u32 getBranchTarget(u32 address) override { return getNextAddress(address); }
    bool hasDelaySlot(u32 address) override;
    u32 getNextAddress(u32 address);

    void mapDirect(const std::vector<DirectMapping>& list) override;
    void mapWindows(const std::vector<MemoryMapWindow>& list) override;
    bool acceptInterrupt(int vector, int level) override;

    void doReset(bool manual);
    void requestInterrupt(u8 vector, u8 level);
    void requestNmi();
    void checkPendingLevel();
    void push(u32 value);
    u32 pop();
    void leaveStandby();

    // The instruction index of an opcode (sh2::Insn, kUndefined or kHookTrap).
    u8 decode(u16 opcode) const { return m_table[sh2::tableIndex(opcode)]; }

    // Registers.
    u32 r(int n) const { return m_r[n & 15]; }
    void setR(int n, u32 value) { m_r[n & 15] = value; }
    u32 gbr() const { return m_gbr; }
    u32 vbr() const { return m_vbr; }
    u32 pr() const { return m_pr; }
    // Read whole: half of a word stored whole is slow to read back.
    u32 mach() const { return static_cast<u32>(const_cast<const volatile u64&>(m_mac) >> 32); }
    u32 macl() const { return static_cast<u32>(m_mac); }
    void setGbr(u32 v) { m_gbr = v; }
    void setVbr(u32 v) { m_vbr = v; }
    void setPr(u32 v) { m_pr = v; }
    void setMach(u32 v) { m_mac = u64{v} << 32 | static_cast<u32>(m_mac); }
    void setMacl(u32 v) { m_mac = (m_mac & ~u64{0xFFFFFFFF}) | v; }
    u32 packSR() const { return m_fm << 9 | m_fq << 8 | m_fi << 4 | m_fs << 1 | m_ft; }
    void unpackSR(u32 value);
    u32 cpuState() const { return m_state; }

    // Bus accesses through the processor's own page map.
    u8 readByte(u32 a) { return m_map->readByte(this, a); }
    u16 readWord(u32 a) { return m_map->readWord(this, a); }
    u32 readLong(u32 a) { return m_map->readLong(this, a); }
    void writeByte(u32 a, u8 d) { m_map->writeByte(this, a, d); }
    void writeWord(u32 a, u16 d) { m_map->writeWord(this, a, d); }
    void writeLong(u32 a, u32 d) { m_map->writeLong(this, a, d); }

    // FRT input capture, scheduled by the machine when the peer processor
    // writes its MINIT or SINIT register.
    static void onInputCapture(void* owner, u32 argument);

    // The on-chip register window.
    static u8 readOnChip8(void* owner, CPU* cpu, u32 a);
    static u16 readOnChip16(void* owner, CPU* cpu, u32 a);
    static u32 readOnChip32(void* owner, CPU* cpu, u32 a);
    static void writeOnChip8(void* owner, CPU* cpu, u32 a, u8 d);
    static void writeOnChip16(void* owner, CPU* cpu, u32 a, u16 d);
    static void writeOnChip32(void* owner, CPU* cpu, u32 a, u32 d);
    static bool steadyOnChip(void* owner, const CPU* cpu, u32 a, u32 width, u32& value);

    INTC intc{"SH2.INTC", this};
    UBC ubc{"SH2.UBC", this};
    BSC bsc{"SH2.BSC", this};
    Cache cache{"SH2.CACHE", this};
    DMAC dmac{"SH2.DMAC", this};
    DIVU divu{"SH2.DIVU", this};
    FRT frt{"SH2.FRT", this};
    WDT wdt{"SH2.WDT", this};
    SCI sci{"SH2.SCI", this};
    PMU pmu{"SH2.PMU", this};
    SDMU sdmu{"SH2.SDMU", this};

private:
    enum class ByteReader : u8 { kNone, kPeek, kTimerPair, kWatchdogFlag, kSerial };
    ByteReader peekOnChip8(u32 offset, u32& value) const;
    bool peekOnChip16(u32 offset, u32& value) const;
    bool peekOnChip32(u32 offset, u32& value) const;
    u32 readPeeked(u32 a, u32 width);
    void buildOpcodeTable();
    void fillOpcodePattern(u16 pattern, u16 mask, u8 index);
    void checkInterrupts();
    void enterException(u32 vector, u32 level);
    void addressError();
    void illegalInstruction(u16 opcode, bool slot);
    void interpret(bool breakpoints);
    void sleep();
    void writeSR(u32 value);
    void div1(u32 m, u32 n);
    void macL(s32 a, s32 b);
    void macW(s16 a, s16 b);
    // The debugger's reads go through the fetch table: they see memory as
    // the fetch does and never reach a device whose reads have side effects.
    u16 readOpcode(u32 address) const { return peekWord(address); }
    u16 peekWord(u32 address) const
    {
        return loadBe16(reinterpret_cast<const u8*>(directBase(address) + (address & ~1u)));
    }
    u32 peekLong(u32 address) const
    {
        return loadBe32(reinterpret_cast<const u8*>(directBase(address) + (address & ~3u)));
    }

    u32 m_r[16] = {};
    u32 m_gbr = 0, m_vbr = 0, m_pr = 0;
    u32 m_sr = 0;
    u32 m_fm = 0, m_fq = 0, m_fi = 0, m_fs = 0, m_ft = 0;
    // MACH:MACL as one word: MAC.L reads the pair that the last one wrote,
    // and a pair of halves written apart cannot be read back whole at once.
    u64 m_mac = 0;
    u32 m_state = kCpuStopped;
    u8 m_table[65536];

    // The skip reads and sets the registers in place, in every slice of a
    // wait.
    friend class sh2::WaitLoop;
    sh2::WaitLoop m_wait{*this};
};
