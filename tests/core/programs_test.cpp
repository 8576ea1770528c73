#include <gtest/gtest.h>

#include "support/files.h"

// The build assembles tests/programs with the cross binutils; the encodings
// below are the SH-2 manual's.
TEST(AssembledPrograms, Sh2EncodingMatchesTheManual)
{
    const std::vector<u8> expected = {
        0xE0, 0x01, 0xEF, 0xFF, 0x32, 0x1C, 0x65, 0x46, 0x4F, 0x22, 0x00, 0x0B, 0x00, 0x09,
        0xAF, 0xF8, 0x00, 0x09, 0x00, 0x09, 0x06, 0x00, 0x40, 0x00,
    };
    EXPECT_EQ(loadProgram("sh2", "encoding"), expected);
}
