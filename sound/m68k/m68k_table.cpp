#include <bit>
#include <memory>

#include "sound/m68k/m68k.h"

namespace {

constexpr u16 kNoRow = 0xFFFF;
constexpr u16 kResetOpcode = 0x4E70;

struct OpcodeTable {
    std::vector<M68kPattern> rows;
    M68kHandler handlers[0x10000];
    u16 rowOf[0x10000];
    u8 bitsOf[0x10000];

    OpcodeTable()
    {
        rows.reserve(1600);
        addSystemRows(rows);
        addMoveRows(rows);
        addArithRows(rows);
        addMulDivRows(rows);
        addLogicRows(rows);
        addBitRows(rows);
        addShiftRows(rows);
        for (u32 op = 0; op < 0x10000; ++op) {
            handlers[op] = M68K::illegalInstruction;
            rowOf[op] = kNoRow;
            bitsOf[op] = 0;
        }
        // Each row visits only the opcodes it matches: every subset of its
        // free bits. More mask bits win; on equal counts the earlier row.
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const M68kPattern& row = rows[i];
            const u32 free = ~u32{row.mask} & 0xFFFF;
            const u8 bits = static_cast<u8>(std::popcount(row.mask));
            for (u32 x = free;; x = (x - 1) & free) {
                const u32 op = (row.match & row.mask) | x;
                if (rowOf[op] == kNoRow || bits > bitsOf[op]) {
                    rowOf[op] = static_cast<u16>(i);
                    bitsOf[op] = bits;
                    handlers[op] = row.handler;
                }
                if (x == 0)
                    break;
            }
        }
        handlers[kResetOpcode] = M68K::incompatible;
    }
};

const OpcodeTable& table()
{
    static const std::unique_ptr<OpcodeTable> instance = std::make_unique<OpcodeTable>();
    return *instance;
}

}  // namespace

const std::vector<M68kPattern>& M68K::patterns() { return table().rows; }
const M68kHandler* M68K::handlerTable() { return table().handlers; }
const u16* M68K::rowTable() { return table().rowOf; }
