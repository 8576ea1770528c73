// Freestanding C compiled for the 68000 and for the host: the emulated run
// must leave the same results as the native one.

#include <gtest/gtest.h>

#include <string>

#include "m68k_testbench.h"
#include "support/files.h"

extern "C" {
unsigned crc32_main(unsigned* out);
unsigned sort_main(unsigned* out);
unsigned bcd_main(unsigned* out);
}

namespace {

constexpr u32 kBase = 0x1000;
constexpr u32 kResults = 0x60000;
constexpr u32 kDone = 0x5FFFC;

void compare(const std::string& name, unsigned (*host)(unsigned*))
{
#ifndef KEST_M68K_C_PROGRAMS
    GTEST_SKIP() << "m68k-linux-gnu-gcc not available";
#else
    unsigned expected[64] = {};
    const unsigned count = host(expected);
    ASSERT_GT(count, 0u);

    const std::vector<u8> program = readBytes(std::string(KEST_M68K_C_PROGRAMS) + "/" + name + ".bin");
    ASSERT_FALSE(program.empty()) << name;
    M68kTestBench b;
    b.load(program, kBase);
    b.start(kBase, 0x7F000);
    u64 clocks = 0;
    while (b.peek16(kDone - 2) != 0x600D && clocks < 400000000)
        clocks += b.run(1000000);
    ASSERT_EQ(b.peek16(kDone - 2), 0x600D) << name << " did not return";
    ASSERT_EQ(b.peek32(kDone), count) << name;
    for (unsigned i = 0; i < count; ++i)
        EXPECT_EQ(b.peek32(kResults + 4 * i), expected[i]) << name << " result " << i;
#endif
}

}  // namespace

TEST(M68kCPrograms, Crc32MatchesTheHost)
{
    unsigned out[64] = {};
    crc32_main(out);
    EXPECT_EQ(out[0], 0xCBF43926u);  // the standard check value
    compare("crc32", crc32_main);
}

TEST(M68kCPrograms, SortingMatchesTheHost)
{
    unsigned out[64] = {};
    sort_main(out);
    EXPECT_EQ(out[0], 1u);
    EXPECT_EQ(out[1], 1u);
    compare("sort", sort_main);
}

TEST(M68kCPrograms, BcdMatchesTheHost)
{
    unsigned out[64] = {};
    bcd_main(out);
    EXPECT_EQ(out[0], 0x12345678u);
    EXPECT_EQ(out[1], 87654321u);
    EXPECT_EQ(out[2], 0u);
    compare("bcd", bcd_main);
}
