// Runs the single-step vectors kept beside this file, instruction by
// instruction.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "board/sh2/sh2.h"
#include "support/files.h"

namespace {

constexpr int kStateWords = 69;
constexpr int kPc = 56, kGbr = 57, kSr = 58, kVbr = 61, kMacl = 64, kMach = 65, kPr = 66;
constexpr u16 kFillerOpcode = 0x322C;  // add r2,r2: any stray fetch shows in R2

struct Cycle {
    u32 actions;
    u32 writeAddress;
    u64 writeValue;
    u32 readAddress;
    u64 readValue;
};

struct Vector {
    u32 initial[kStateWords];
    u32 final[kStateWords];
    Cycle cycles[4];
    u32 opcodes[5];
};

u32 le32(const u8* p) { return u32{p[0]} | u32{p[1]} << 8 | u32{p[2]} << 16 | u32{p[3]} << 24; }
u64 le64(const u8* p) { return u64{le32(p)} | u64{le32(p + 4)} << 32; }

bool parse(const std::vector<u8>& bytes, std::vector<Vector>& out)
{
    size_t at = 0;
    while (at + 4 <= bytes.size()) {
        const u32 size = le32(&bytes[at]);
        if (size < 4 || at + size > bytes.size())
            return false;
        const u8* p = &bytes[at + 4];
        Vector v{};
        for (int s = 0; s < 2; ++s) {
            const u32 recordSize = le32(p);
            u32* state = s == 0 ? v.initial : v.final;
            for (int i = 0; i < kStateWords; ++i)
                state[i] = le32(p + 8 + i * 4);
            p += recordSize;
        }
        const u32 cyclesSize = le32(p);
        for (int c = 0; c < 4; ++c) {
            const u8* e = p + 12 + c * 36;
            v.cycles[c] = {le32(e), le32(e + 12), le64(e + 16), le32(e + 24), le64(e + 28)};
        }
        p += cyclesSize;
        for (int i = 0; i < 5; ++i)
            v.opcodes[i] = le32(p + 8 + i * 4);
        out.push_back(v);
        at += size;
    }
    return at == bytes.size();
}

// The bus of one vector: code on the PC's pages, the filler everywhere else,
// and data reads answered from the vector's cycle list.
class VectorBus {
public:
    explicit VectorBus(SH2& cpu) : m_cpu(cpu), m_filler(0x10000), m_code(0x20000)
    {
        for (size_t i = 0; i < m_filler.size(); i += 2)
            storeBe16(&m_filler[i], kFillerOpcode);
        std::vector<DirectMapping> all;
        for (u32 page = 0; page < 0x10000; ++page)
            all.push_back({page << 16, (page << 16) | 0xFFFF, m_filler.data()});
        cpu.mapDirect(all);
        cpu.mapWindows({{0, 0xFFFFFFFF, {this, rb, wb, rw, ww, rl, wl}}});
    }

    void load(const Vector& v)
    {
        m_vector = &v;
        m_base = v.initial[kPc] & ~0xFFFFu;
        m_code = std::vector<u8>(0x20000);
        for (size_t i = 0; i < m_code.size(); i += 2)
            storeBe16(&m_code[i], kFillerOpcode);
        for (int i = 0; i < 4; ++i)
            storeBe16(&m_code[(v.initial[kPc] - m_base) + i * 2], static_cast<u16>(v.opcodes[i]));
        m_cpu.mapDirect({{m_base, m_base + 0xFFFF, m_code.data()}, {m_base + 0x10000, m_base + 0x1FFFF, m_code.data() + 0x10000}});
        writes.clear();
        unexpected = false;
        unaligned = false;
    }

    void unload()
    {
        m_cpu.mapDirect({{m_base, m_base + 0xFFFF, m_filler.data()}, {m_base + 0x10000, m_base + 0x1FFFF, m_filler.data()}});
    }

    // The opcode the processor fetches at an address.
    u16 opcodeAt(u32 address) const
    {
        const u32 offset = address - m_vector->initial[kPc];
        return offset < 8 && !(offset & 1) ? static_cast<u16>(m_vector->opcodes[offset / 2]) : kFillerOpcode;
    }

    struct Write {
        u32 address;
        u32 value;
        int size;
    };
    std::vector<Write> writes;
    bool unexpected = false;
    bool unaligned = false;

private:
    static VectorBus& of(void* o) { return *static_cast<VectorBus*>(o); }
    u64 read(u32 a, int size)
    {
        if (!m_vector)
            return 0;
        if (a & (size - 1))
            unaligned = true;
        for (const Cycle& c : m_vector->cycles) {
            if ((c.actions & 1) && c.readAddress == a)
                return c.readValue;
        }
        unexpected = true;
        return 0;
    }
    void write(u32 a, u32 d, int size)
    {
        if (a & (size - 1))
            unaligned = true;
        writes.push_back({a, d, size});
    }
    static u8 rb(void* o, CPU*, u32 a) { return static_cast<u8>(of(o).read(a, 1)); }
    static u16 rw(void* o, CPU*, u32 a) { return static_cast<u16>(of(o).read(a, 2)); }
    static u32 rl(void* o, CPU*, u32 a) { return static_cast<u32>(of(o).read(a, 4)); }
    static void wb(void* o, CPU*, u32 a, u8 d) { of(o).write(a, d, 1); }
    static void ww(void* o, CPU*, u32 a, u16 d) { of(o).write(a, d, 2); }
    static void wl(void* o, CPU*, u32 a, u32 d) { of(o).write(a, d, 4); }

    SH2& m_cpu;
    std::vector<u8> m_filler;
    std::vector<u8> m_code;
    const Vector* m_vector = nullptr;
    u32 m_base = 0;
};

// Runs the four instructions of a vector; a taken delayed branch runs its
// slot inline, so it counts for two.
void runVector(SH2& cpu, VectorBus& bus, const Vector& v)
{
    for (int i = 0; i < 16; ++i)
        cpu.setRegister(i, v.initial[i]);
    cpu.setRegister(19, v.initial[kPc]);
    cpu.setRegister(20, v.initial[kGbr]);
    cpu.setRegister(21, v.initial[kVbr]);
    cpu.setRegister(22, v.initial[kSr] & 0x3F3);
    cpu.setRegister(16, v.initial[kMach]);
    cpu.setRegister(17, v.initial[kMacl]);
    cpu.setRegister(18, v.initial[kPr]);
    int steps = 0;
    while (steps < 4) {
        const u32 pc = cpu.getPC();
        const u8 index = cpu.decode(bus.opcodeAt(pc));
        const u8 t = cpu.getFlag(0);
        bool delayed = false;
        switch (index) {
        case sh2::kBra: case sh2::kBraf: case sh2::kBsr: case sh2::kBsrf: case sh2::kJmp: case sh2::kJsr:
        case sh2::kRts: case sh2::kRte:
            delayed = true;
            break;
        case sh2::kBts: delayed = t != 0; break;
        case sh2::kBfs: delayed = t == 0; break;
        default: break;
        }
        cpu.setLocalTime(0);
        cpu.runUntil(1);
        steps += delayed ? 2 : 1;
    }
}

std::string compare(SH2& cpu, const VectorBus& bus, const Vector& v)
{
    std::string diff;
    char line[128];
    auto check = [&](const char* name, u32 got, u32 want) {
        if (got != want) {
            std::snprintf(line, sizeof line, " %s=%08X(want %08X)", name, got, want);
            diff += line;
        }
    };
    static const char* const kNames[16] = {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7",
                                           "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15"};
    for (int i = 0; i < 16; ++i)
        check(kNames[i], cpu.getRegister(i), v.final[i]);
    check("pc", cpu.getPC(), v.final[kPc]);
    check("gbr", cpu.getRegister(20), v.final[kGbr]);
    check("vbr", cpu.getRegister(21), v.final[kVbr]);
    check("mach", cpu.getRegister(16), v.final[kMach]);
    check("macl", cpu.getRegister(17), v.final[kMacl]);
    check("pr", cpu.getRegister(18), v.final[kPr]);
    check("sr", cpu.getRegister(22), v.final[kSr] & 0x3F3);
    std::vector<VectorBus::Write> expected;
    for (const Cycle& c : v.cycles) {
        if (c.actions & 2)
            expected.push_back({c.writeAddress, static_cast<u32>(c.writeValue), 0});
    }
    if (expected.size() != bus.writes.size()) {
        std::snprintf(line, sizeof line, " writes=%zu(want %zu)", bus.writes.size(), expected.size());
        diff += line;
    } else {
        for (size_t i = 0; i < expected.size(); ++i) {
            const u32 mask = bus.writes[i].size == 4 ? 0xFFFFFFFF : (1u << (8 * bus.writes[i].size)) - 1;
            check("wa", bus.writes[i].address, expected[i].address);
            check("wd", bus.writes[i].value, expected[i].value & mask);
        }
    }
    if (bus.unexpected)
        diff += " unexpected-read";
    return diff;
}

TEST(Sh2Vectors, EveryEncodingMatches)
{
    const char* env = std::getenv("KEST_SH2_VECTORS");
    const std::filesystem::path dir = env ? std::filesystem::path(env)
                                          : std::filesystem::path(KEST_SOURCE_DIR "/tests/board/sh2/vectors");
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".bin")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    if (!env) {
        ASSERT_EQ(files.size(), 133u);
    }
    ASSERT_FALSE(files.empty());

    auto cpu = std::make_unique<SH2>();
    cpu->setThreshold(-1);  // the stray-fetch tests are meant to hit odd places
    VectorBus bus(*cpu);
    cpu->switchOn();
    int passed = 0, failed = 0, skipped = 0;
    for (const auto& file : files) {
        std::vector<Vector> vectors;
        ASSERT_TRUE(parse(readBytes(file.string()), vectors)) << file;
        ASSERT_FALSE(vectors.empty()) << file;
        int fileFailures = 0;
        std::string firstDiff;
        for (const Vector& v : vectors) {
            bus.load(v);
            runVector(*cpu, bus, v);
            const std::string diff = compare(*cpu, bus, v);
            bus.unload();
            if (diff.empty())
                continue;
            // Unaligned accesses follow the SH-4 reference's rules, not ours.
            if (bus.unaligned) {
                ++skipped;
                continue;
            }
            if (fileFailures++ == 0)
                firstDiff = diff;
        }
        if (fileFailures) {
            ++failed;
            ADD_FAILURE() << file.filename().string() << ": " << fileFailures << " of " << vectors.size()
                          << " differ; first:" << firstDiff;
        } else {
            ++passed;
        }
    }
    std::printf("sh2 vectors: %d passed, %d failed\n", passed, failed);
    std::printf("sh2 vectors: %d unaligned cases skipped\n", skipped);
    EXPECT_EQ(failed, 0);
}

}  // namespace
