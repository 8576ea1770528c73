// The opcode table against its own rules and against GNU binutils'
// disassembler: the same legal opcodes (with the documented exceptions) and
// the same instruction lengths.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "m68k_testbench.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

constexpr u16 kPad = 0x4840;  // SWAP D0: harmless as an instruction, an index word or an immediate
constexpr u32 kSlotBytes = 12;

bool isLineAorF(u32 op) { return (op >> 12) == 0xA || (op >> 12) == 0xF; }
bool isSubqByteToAn(u32 op) { return (op & 0xF1F8) == 0x5108; }

struct ObjdumpView {
    bool ran = false;
    std::vector<bool> legal = std::vector<bool>(0x10000);
    std::vector<u32> length = std::vector<u32>(0x10000);
};

// Every opcode in a slot of its own, padded with SWAP D0 so that a slot's
// first line is always the opcode under test.
const ObjdumpView& objdumpView()
{
    static ObjdumpView view = [] {
        ObjdumpView v;
#ifdef KEST_M68K_OBJDUMP
        TempDir dir;
        const std::string bin = dir.file("all.bin");
        {
            std::ofstream out(bin, std::ios::binary);
            for (u32 op = 0; op < 0x10000; ++op) {
                const u8 slot[kSlotBytes] = {static_cast<u8>(op >> 8), static_cast<u8>(op), 0x48, 0x40, 0x48, 0x40,
                                             0x48, 0x40, 0x48, 0x40, 0x48, 0x40};
                out.write(reinterpret_cast<const char*>(slot), sizeof(slot));
            }
        }
        const std::string command = std::string(KEST_M68K_OBJDUMP) + " -D -b binary -m m68k:68000 " + bin;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return v;
        std::vector<std::pair<u32, bool>> starts;  // address, legal
        char line[512];
        while (std::fgets(line, sizeof(line), pipe)) {
            char* end = nullptr;
            const unsigned long address = std::strtoul(line, &end, 16);
            if (end == line || *end != ':')
                continue;
            // "addr:\thex words \tmnemonic": continuation lines have no mnemonic.
            const char* tab1 = std::strchr(end, '\t');
            const char* tab2 = tab1 ? std::strchr(tab1 + 1, '\t') : nullptr;
            if (!tab2)
                continue;
            starts.emplace_back(static_cast<u32>(address), std::strncmp(tab2 + 1, ".short", 6) != 0);
        }
        v.ran = pclose(pipe) == 0;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const u32 address = starts[i].first;
            if (address % kSlotBytes)
                continue;
            const u32 op = address / kSlotBytes;
            const u32 next = i + 1 < starts.size() ? starts[i + 1].first : 0x10000 * kSlotBytes;
            v.legal[op] = starts[i].second;
            v.length[op] = next - address;
        }
#endif
        return v;
    }();
    return view;
}

const std::set<std::string> kControlGroups = {"Bcc", "BRA", "BSR",  "DBcc",  "JMP",     "JSR",   "RTS",   "RTR",
                                              "RTE", "TRAP", "TRAPV", "RESET", "ILLEGAL", "line A", "line F"};

}  // namespace

TEST(M68kTable, RowsAndIllegalOpcodesFollowTheRules)
{
    const auto& rows = M68K::patterns();
    EXPECT_EQ(rows.size(), 1567u);
    std::map<std::string, int> groups;
    for (const M68kPattern& row : rows) {
        ++groups[row.group];
        EXPECT_EQ(row.match & ~row.mask & 0xFFFF, 0) << row.group;
    }
    const std::map<std::string, int> expected = {
        {"line A", 1},  {"line F", 1},  {"ABCD", 5},   {"ADD", 56},    {"ADDA", 24},  {"ADDI", 24},
        {"ADDQ", 26},   {"ADDX", 9},    {"AND", 54},   {"ANDI to CCR", 1}, {"ANDI to SR", 1}, {"ANDI", 24},
        {"ASR", 13},    {"ASL", 13},    {"Bcc", 28},   {"BCHG", 16},   {"BCLR", 16},  {"BRA", 2},
        {"BSET", 16},   {"BSR", 2},     {"BTST", 21},  {"CHK", 11},    {"CLR", 24},   {"CMP", 35},
        {"CMPA", 24},   {"CMPI", 24},   {"CMPM", 6},   {"DBcc", 16},   {"DIVS", 11},  {"DIVU", 11},
        {"EOR", 24},    {"EORI to CCR", 1}, {"EORI to SR", 1}, {"EORI", 24}, {"EXG", 3}, {"EXT", 2},
        {"ILLEGAL", 1}, {"JMP", 7},     {"JSR", 7},    {"LEA", 7},     {"LINK", 2},   {"LSR", 13},
        {"LSL", 13},    {"MOVE", 302},  {"MOVEA", 24}, {"MOVE to CCR", 11}, {"MOVE from SR", 8}, {"MOVE to SR", 11},
        {"MOVE USP", 2}, {"MOVEM", 28}, {"MOVEP", 4},  {"MOVEQ", 1},   {"MULS", 11},  {"MULU", 11},
        {"NBCD", 8},    {"NEG", 24},    {"NEGX", 24},  {"NOP", 1},     {"NOT", 24},   {"OR", 54},
        {"ORI to CCR", 1}, {"ORI to SR", 1}, {"ORI", 24}, {"PEA", 7},  {"RESET", 1},  {"ROR", 13},
        {"ROL", 13},    {"ROXR", 13},   {"ROXL", 13},  {"RTE", 1},     {"RTR", 1},    {"RTS", 1},
        {"SBCD", 5},    {"Scc", 128},   {"STOP", 1},   {"SUB", 56},    {"SUBA", 24},  {"SUBI", 24},
        {"SUBQ", 26},   {"SUBX", 9},    {"SWAP", 1},   {"TAS", 8},     {"TRAP", 1},   {"TRAPV", 1},
        {"TST", 24},    {"UNLK", 2},
    };
    EXPECT_EQ(groups, expected);

    // No two rows with the same mask count may claim one opcode.
    std::vector<int> best(0x10000, -1);
    std::vector<int> ties(0x10000, 0);
    for (const M68kPattern& row : rows) {
        const int bits = __builtin_popcount(row.mask);
        const u32 free = ~u32{row.mask} & 0xFFFF;
        for (u32 x = free;; x = (x - 1) & free) {
            const u32 op = row.match | x;
            if (bits > best[op]) {
                best[op] = bits;
                ties[op] = 0;
            } else if (bits == best[op]) {
                ++ties[op];
            }
            if (x == 0)
                break;
        }
    }
    int illegal = 0;
    for (u32 op = 0; op < 0x10000; ++op) {
        EXPECT_EQ(ties[op], 0) << std::hex << op;
        if (M68K::rowTable()[op] == 0xFFFF) {
            ++illegal;
            EXPECT_EQ(M68K::handlerTable()[op], M68K::illegalInstruction);
        }
    }
    EXPECT_EQ(illegal, 11528);
    EXPECT_EQ(M68K::handlerTable()[0x4E70], M68K::incompatible);
    EXPECT_EQ(M68K::handlerTable()[0x4AFC], M68K::illegalInstruction);
}

TEST(M68kTable, LegalOpcodesAgreeWithBinutils)
{
    const ObjdumpView& view = objdumpView();
    if (!view.ran)
        GTEST_SKIP() << "m68k-linux-gnu-objdump not available";
    int disagreements = 0;
    for (u32 op = 0; op < 0x10000; ++op) {
        const bool ours = M68K::rowTable()[op] != 0xFFFF;
        bool theirs = view.legal[op];
        // Documented differences: lines A and F are ours; binutils accepts
        // SUBQ.B to an address register and the CPU32 opcode 0x4AFD.
        if (isLineAorF(op))
            theirs = true;
        if (isSubqByteToAn(op) || op == 0x4AFD)
            theirs = false;
        if (ours != theirs && ++disagreements <= 20)
            ADD_FAILURE() << std::hex << "opcode " << op << ": ours " << ours << ", binutils " << theirs;
    }
    EXPECT_EQ(disagreements, 0);
}

// Each non-branch form run once: its PC advance is its length.
TEST(M68kTable, InstructionLengthsAgreeWithBinutils)
{
    const ObjdumpView& view = objdumpView();
    if (!view.ran)
        GTEST_SKIP() << "m68k-linux-gnu-objdump not available";
    LogCapture quiet;
    M68kTestBench bench(0x1000000);
    for (u32 a = 0; a < bench.ram.size(); a += 2)
        bench.poke16(a, kPad);
    bench.tracing = true;
    constexpr u32 kCode = 0x1000;
    int compared = 0;
    int mismatches = 0;
    for (u32 op = 0; op < 0x10000; ++op) {
        const u16 row = M68K::rowTable()[op];
        if (row == 0xFFFF || kControlGroups.count(M68K::patterns()[row].group))
            continue;
        bench.poke16(kCode, static_cast<u16>(op));
        for (int i = 0; i < 8; ++i) {
            bench.cpu->setD(i, 0x00010001);
            bench.cpu->setA(i, 0x00020000 + 0x100 * static_cast<u32>(i));
        }
        bench.start(kCode, 0x00030000);
        bench.writes.clear();
        bench.reads.clear();
        bench.step();
        const u32 length = bench.cpu->pc() - kCode;
        ++compared;
        if (length != view.length[op] && ++mismatches <= 20)
            ADD_FAILURE() << std::hex << "opcode " << op << " (" << M68K::patterns()[row].group << "): length " << length
                          << ", binutils " << view.length[op];
        for (u32 a : bench.writes)
            bench.ram[a & 0xFFFFFF] = (a & 1) ? 0x40 : 0x48;
        bench.poke16(kCode, kPad);
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(compared, 40000);
}
