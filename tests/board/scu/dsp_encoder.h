#pragma once

// A small assembler for SCU DSP programs, written from the encoding tables
// of the SCU user's manual. Operation fields are ORed together into one
// word: op(alu(kAdd) | xMovP(kMc0) | yMovAluA() | d1Imm(5, kLop)).

#include <initializer_list>
#include <vector>

#include "core/base/types.h"

namespace dspasm {

// Data RAM operands: M0-M3 read at the counter, MC0-MC3 also step it.
enum Ram : u32 { kM0 = 0, kM1 = 1, kM2 = 2, kM3 = 3, kMc0 = 4, kMc1 = 5, kMc2 = 6, kMc3 = 7 };

// D1-bus sources beyond the RAM operands.
constexpr u32 kAll = 9;   // ALU bits 31-0
constexpr u32 kAlh = 10;  // ALU bits 47-16

// D1-bus and MVI destinations.
enum Dest : u32 {
    kToMc0 = 0, kToMc1 = 1, kToMc2 = 2, kToMc3 = 3, kRx = 4, kPl = 5, kRa0 = 6, kWa0 = 7,
    kLop = 10, kTop = 11, kCt0 = 12, kCt1 = 13, kCt2 = 14, kCt3 = 15, kPc = 12,
};

enum Alu : u32 {
    kNop = 0, kAnd = 1, kOr = 2, kXor = 3, kAdd = 4, kSub = 5, kAd2 = 6,
    kSr = 8, kRr = 9, kSl = 10, kRl = 11, kRl8 = 15,
};

// Condition codes of JMP and conditional MVI.
enum Cond : u32 {
    kNz = 0x01, kZ = 0x21, kNs = 0x02, kS = 0x22, kNzs = 0x03, kZs = 0x23,
    kNc = 0x04, kC = 0x24, kNt0 = 0x08, kT0 = 0x28,
};

// Operation command, bits 31-30 = 00.
constexpr u32 alu(Alu a) { return u32{a} << 26; }
constexpr u32 xMovX(Ram s) { return 1u << 25 | u32{s} << 20; }      // MOV [s],X
constexpr u32 xMulP() { return 2u << 23; }                          // MOV MUL,P
constexpr u32 xMovP(Ram s) { return 3u << 23 | u32{s} << 20; }      // MOV [s],P
constexpr u32 yMovY(Ram s) { return 1u << 19 | u32{s} << 14; }      // MOV [s],Y
constexpr u32 yClrA() { return 1u << 17; }                          // CLR A
constexpr u32 yMovAluA() { return 2u << 17; }                       // MOV ALU,A
constexpr u32 yMovA(Ram s) { return 3u << 17 | u32{s} << 14; }      // MOV [s],A
constexpr u32 d1Imm(s32 simm, u32 d) { return 1u << 12 | d << 8 | (static_cast<u32>(simm) & 0xFF); }
constexpr u32 d1Mov(u32 source, u32 d) { return 3u << 12 | d << 8 | source; }
constexpr u32 op(u32 fields) { return fields; }
constexpr u32 nop() { return 0; }

// MVI, bits 31-30 = 10.
constexpr u32 mvi(s32 imm, u32 d) { return 2u << 30 | d << 26 | (static_cast<u32>(imm) & 0x1FFFFFF); }
constexpr u32 mviIf(Cond c, s32 imm, u32 d)
{
    return 2u << 30 | d << 26 | 1u << 25 | u32{c} << 19 | (static_cast<u32>(imm) & 0x7FFFF);
}

// DMA, bits 31-28 = 1100. add is the ADD field (0: 0, 1: 1, 2: 2, 3: 4 ...
// in units of the bus width). ram: MC0-MC3 = 0-3, program RAM = 4.
constexpr u32 dmaBase(u32 add, bool hold) { return 0xCu << 28 | add << 15 | (hold ? 1u << 14 : 0); }
constexpr u32 dmaIn(u32 ram, u32 count, u32 add = 2, bool hold = false)
{
    return dmaBase(add, hold) | ram << 8 | (count & 0xFF);
}
constexpr u32 dmaOut(u32 ram, u32 count, u32 add = 2, bool hold = false)
{
    return dmaBase(add, hold) | 1u << 12 | ram << 8 | (count & 0xFF);
}
// Count taken from data RAM (M0-M3 or MC0-MC3).
constexpr u32 dmaInCount(u32 ram, Ram count, u32 add = 2, bool hold = false)
{
    return dmaBase(add, hold) | 1u << 13 | ram << 8 | u32{count};
}
constexpr u32 dmaOutCount(u32 ram, Ram count, u32 add = 2, bool hold = false)
{
    return dmaBase(add, hold) | 1u << 13 | 1u << 12 | ram << 8 | u32{count};
}

// Jumps and loops.
constexpr u32 jmp(u32 target) { return 0xDu << 28 | (target & 0xFF); }
constexpr u32 jmpIf(Cond c, u32 target) { return 0xDu << 28 | 1u << 25 | u32{c} << 19 | (target & 0xFF); }
constexpr u32 btm() { return 0xE0000000; }
constexpr u32 lps() { return 0xE8000000; }
constexpr u32 end() { return 0xF0000000; }
constexpr u32 endi() { return 0xF8000000; }

using Program = std::vector<u32>;

}  // namespace dspasm
