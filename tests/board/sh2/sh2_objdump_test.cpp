// Decode table and disassembler against GNU binutils.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <cctype>
#include <set>
#include <sstream>

#include "sh2_machine.h"

namespace {

constexpr u32 kOpcodes = 0x10000;

// objdump's text for every opcode (mnemonic and operands, tab separated),
// indexed by opcode; empty when the tool is missing. The file holds opcode n
// at byte offset 2n.
const std::vector<std::string>& objdumpLines()
{
    static std::vector<std::string> lines = [] {
        std::vector<std::string> out;
        if (std::system("sh4-linux-gnu-objdump --version >/dev/null 2>&1") != 0)
            return out;
        TempDir dir;
        {
            std::ofstream bin(dir.file("all.bin"), std::ios::binary);
            for (u32 op = 0; op < kOpcodes; ++op) {
                const char be[2] = {static_cast<char>(op >> 8), static_cast<char>(op)};
                bin.write(be, 2);
            }
        }
        const std::string cmd = "sh4-linux-gnu-objdump -D -b binary -m sh2 -EB " + dir.file("all.bin") + " > " +
                                dir.file("all.txt");
        if (std::system(cmd.c_str()) != 0)
            return out;
        out.resize(kOpcodes);
        std::ifstream txt(dir.file("all.txt"));
        std::string line;
        // "   addr:\tXX XX   \tmnemonic\toperands\t! comment"
        while (std::getline(txt, line)) {
            const size_t colon = line.find(":\t");
            const size_t text = line.find('\t', colon + 2);
            if (colon == std::string::npos || text == std::string::npos)
                continue;
            const u32 address = static_cast<u32>(std::stoul(line.substr(0, colon), nullptr, 16));
            if (address / 2 < kOpcodes)
                out[address / 2] = line.substr(text + 1);
        }
        return out;
    }();
    return lines;
}

bool isUndefinedText(const std::string& text) { return text.rfind(".word", 0) == 0; }

TEST(Sh2Decode, DefinedSetMatchesObjdump)
{
    const auto& lines = objdumpLines();
    if (lines.empty())
        GTEST_SKIP() << "sh4-linux-gnu-objdump not installed";
    SH2 cpu;
    int defined = 0, undefined = 0, traps = 0, mismatches = 0;
    for (u32 op = 0; op < kOpcodes; ++op) {
        const u8 index = cpu.decode(static_cast<u16>(op));
        if (index == sh2::kHookTrap) {
            ++traps;
            EXPECT_TRUE(isUndefinedText(lines[op])) << std::hex << op;
            continue;
        }
        const bool ours = index != sh2::kUndefined;
        ours ? ++defined : ++undefined;
        if (ours == isUndefinedText(lines[op]) && ++mismatches <= 10)
            ADD_FAILURE() << "opcode " << std::hex << op << ": objdump '" << lines[op] << "', index " << std::dec
                          << int(index);
    }
    EXPECT_EQ(defined, 53752);
    EXPECT_EQ(undefined, 11782);
    EXPECT_EQ(traps, 2);
    EXPECT_EQ(cpu.decode(0x0000), sh2::kHookTrap);
    EXPECT_EQ(cpu.decode(0xFFFF), sh2::kHookTrap);
    EXPECT_EQ(mismatches, 0);
}

// The operands of one instruction text: mnemonic, registers in order and the
// numbers shown (immediates, displacements, targets, effective addresses).
struct Operands {
    std::string mnemonic;
    std::vector<int> registers;
    std::set<u32> numbers;
};

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// Registers: "r" and digits not preceded by a letter (so gbr, pr, sr are not).
void scanRegisters(const std::string& text, std::vector<int>& out)
{
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == 'r' && (i == 0 || !isWordChar(text[i - 1])) && i + 1 < text.size() &&
            std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
            size_t end = 0;
            out.push_back(std::stoi(text.substr(i + 1), &end));
            i += end;
        }
    }
}

Operands parseObjdump(const std::string& text)
{
    Operands o;
    const size_t tab = text.find('\t');
    o.mnemonic = text.substr(0, tab);
    if (tab == std::string::npos)
        return o;
    std::string rest = text.substr(tab + 1);
    rest = rest.substr(0, rest.find('!'));
    scanRegisters(rest, o.registers);
    for (size_t i = 0; i < rest.size(); ++i) {
        size_t used = 0;
        if (rest[i] == '#') {
            o.numbers.insert(static_cast<u32>(std::stol(rest.substr(i + 1), &used)));
        } else if (rest.compare(i, 2, "0x") == 0 && (i == 0 || !isWordChar(rest[i - 1]))) {
            o.numbers.insert(static_cast<u32>(std::stoul(rest.substr(i + 2), &used, 16)));
            ++used;
        } else if (rest.compare(i, 2, "@(") == 0 && std::isdigit(static_cast<unsigned char>(rest[i + 2]))) {
            o.numbers.insert(static_cast<u32>(std::stoul(rest.substr(i + 2), &used)));
            ++used;
        }
        i += used;
    }
    return o;
}

Operands parseOurs(const std::string& text)
{
    static const std::map<std::string, std::string> kSpelling = {
        {"muls.l", "muls.w"}, {"mulu.l", "mulu.w"}, {"mac", "mac.w"}, {"bf/s", "bf.s"},
        {"bt/s", "bt.s"},     {"swap", "swap.w"},   {"cmp/st", "cmp/str"},
    };
    Operands o;
    const size_t space = text.find(' ');
    o.mnemonic = text.substr(0, space);
    if (auto it = kSpelling.find(o.mnemonic); it != kSpelling.end())
        o.mnemonic = it->second;
    if (space == std::string::npos)
        return o;
    const std::string rest = text.substr(space + 1);
    scanRegisters(rest.substr(0, rest.find(" ; ")), o.registers);
    auto hexRun = [&](size_t i) {
        size_t end = i;
        while (end < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[end])) &&
               !std::islower(static_cast<unsigned char>(rest[end])))
            ++end;
        return end - i;
    };
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest.compare(i, 2, "H'") == 0) {
            const size_t n = hexRun(i + 2);
            o.numbers.insert(static_cast<u32>(std::stoul(rest.substr(i + 2, n), nullptr, 16)));
            i += 1 + n;
        } else if (rest[i] == '#' && i + 1 < rest.size() && rest[i + 1] != 'H') {
            const size_t n = hexRun(i + 1);
            o.numbers.insert(static_cast<u32>(std::stoul(rest.substr(i + 1, n), nullptr, 16)));
            i += n;
        } else if ((i == 0 || !isWordChar(rest[i - 1])) && hexRun(i) == 8 &&
                   (i + 8 == rest.size() || !isWordChar(rest[i + 8]))) {
            o.numbers.insert(static_cast<u32>(std::stoul(rest.substr(i, 8), nullptr, 16)));
            i += 7;
        }
    }
    return o;
}

TEST(Sh2Disassembler, OperandsMatchObjdumpForEveryDefinedOpcode)
{
    const auto& lines = objdumpLines();
    if (lines.empty())
        GTEST_SKIP() << "sh4-linux-gnu-objdump not installed";
    // The same image objdump read, at address 0: opcode n at 2n.
    TestMemory image(0x20000);
    for (u32 op = 0; op < kOpcodes; ++op)
        image.setWord(op * 2, static_cast<u16>(op));
    SH2 cpu;
    cpu.setThreshold(-1);
    cpu.mapWindows({{0, 0x1FFFF, image.handlers()}});
    cpu.mapDirect({{0, 0x1FFFF, image.bytes.data()}});
    int compared = 0, mismatches = 0;
    for (u32 op = 0; op < kOpcodes; ++op) {
        const std::string ours = cpu.disassemble(op * 2);
        if (isUndefinedText(lines[op])) {
            EXPECT_EQ(ours, "illegal") << std::hex << op;
            continue;
        }
        ++compared;
        const Operands want = parseObjdump(lines[op]);
        const Operands got = parseOurs(ours);
        bool ok = want.mnemonic == got.mnemonic && want.registers == got.registers;
        for (u32 v : want.numbers)
            ok = ok && got.numbers.count(v) != 0;
        if (!ok && ++mismatches <= 10)
            ADD_FAILURE() << "opcode " << std::hex << op << ": objdump '" << lines[op] << "' ours '" << ours << "'";
    }
    EXPECT_EQ(compared, 53752);
    EXPECT_EQ(mismatches, 0);
}

TEST(Sh2Disassembler, ExactTexts)
{
    Sh2Machine m;
    m.cpu->setThreshold(-1);
    const u32 at = 0x06004000;
    auto text = [&](u16 op) {
        m.ram.setWord(at, op);
        return m.cpu->disassemble(at);
    };
    m.cpu->setRegister(0, 0x10);
    m.cpu->setRegister(3, 0x06000100);
    m.cpu->setRegister(20, 0x06000000);  // GBR
    m.ram.setLong(0x06004008, 0xCAFEF00D);
    m.ram.setWord(0x06004006, 0xBEEF);

    EXPECT_EQ(text(0xE0FF), "mov #H'FFFFFFFF, r0 ; -1");
    EXPECT_EQ(text(0xA800), "bra 06003004");
    EXPECT_EQ(text(0x7305), "add #H'05, r3 ; 5");
    EXPECT_EQ(text(0x88FE), "cmp/eq #H'FFFFFFFE, r0");
    EXPECT_EQ(text(0xC9F0), "and #H'F0, r0");
    EXPECT_EQ(text(0xCD81), "and.b #H'81, @(r0, gbr) ; 06000010");
    EXPECT_EQ(text(0xC320), "trapa #20");
    EXPECT_EQ(text(0x0323), "braf r3 ; 0C004104");
    EXPECT_EQ(text(0x8BFE), "bf 06004000");
    EXPECT_EQ(text(0x8D02), "bt/s 06004008");
    EXPECT_EQ(text(0xD101), "mov.l @(H'004, pc), r1 ; 06004008[H'CAFEF00D]");
    EXPECT_EQ(text(0x9101), "mov.w @(H'002, pc), r1 ; 06004006[H'BEEF]");
    EXPECT_EQ(text(0xC701), "mova @(H'004, pc), r0 ; 06004008");
    EXPECT_EQ(text(0xC502), "mov.w @(H'004, gbr), r0 ; 06000004");
    EXPECT_EQ(text(0x1232), "mov.l r3, @(H'08, r2) ; 00000008");
    EXPECT_EQ(text(0x5232), "mov.l @(H'08, r3), r2 ; 06000108");
    EXPECT_EQ(text(0x8132), "mov.w r0, @(H'04, r3) ; 06000104");
    EXPECT_EQ(text(0x0234), "mov.b r3, @(r0, r2) ; 00000010");
    EXPECT_EQ(text(0x023C), "mov.b @(r0, r3), r2 ; 06000110");
    EXPECT_EQ(text(0x432F), "mac @r2+, @r3+");
    EXPECT_EQ(text(0x232F), "muls.l r2, r3");
    EXPECT_EQ(text(0x4320), "shal r3");
    EXPECT_EQ(text(0x4300), "shll r3");
    EXPECT_EQ(text(0x000B), "rts");
    EXPECT_EQ(text(0x0000), "illegal");
    EXPECT_EQ(text(0xFFFF), "illegal");
    EXPECT_EQ(text(0xF000), "illegal");
}

// A device's reads can have side effects (a data port hands out its next
// word), so the debugger's disassembly and stepping never read one: typing
// its address shows what the fetch would see.
TEST(Sh2Disassembler, LeavesDevicesAlone)
{
    struct Port {
        u32 reads = 0;
        static Port& of(void* o) { return *static_cast<Port*>(o); }
        static u8 rb(void* o, CPU*, u32) { return static_cast<u8>(++of(o).reads); }
        static u16 rw(void* o, CPU*, u32) { return static_cast<u16>(++of(o).reads); }
        static u32 rl(void* o, CPU*, u32) { return ++of(o).reads; }
        static void wb(void*, CPU*, u32, u8) {}
        static void ww(void*, CPU*, u32, u16) {}
        static void wl(void*, CPU*, u32, u32) {}
    } port;
    Sh2Machine m;
    m.cpu->mapWindows({{0x05800000, 0x0580FFFF, {&port, Port::rb, Port::wb, Port::rw, Port::ww, Port::rl, Port::wl}}});
    EXPECT_EQ(m.cpu->disassemble(0x05800000), "illegal");
    u32 length = 0;
    m.cpu->getOpcodeBytes(0x05800000, length);
    m.cpu->hasDelaySlot(0x05800000);
    // A literal load and a return from exception whose stack is the port.
    m.ram.setWord(0x06004000, 0xD1FF);  // mov.l @(H'3FC, pc), r1: past RAM's end
    m.ram.setWord(0x06004002, 0x002B);  // rte
    m.cpu->setRegister(15, 0x05800000);
    m.cpu->disassemble(0x06004000);
    EXPECT_EQ(m.cpu->getNextAddress(0x06004002), loadBe32(m.cpu->dummyPage()));
    EXPECT_EQ(port.reads, 0u);
}

}  // namespace
