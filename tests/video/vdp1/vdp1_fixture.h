#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/files.h"
#include "video/color_tables.h"
#include "video/vdp1/vdp1.h"

// One command table as a program would write it.
struct Table {
    u16 ctrl = 0, link = 0, pmod = 0xC0, colr = 0, srca = 0, size = 0;
    s16 xy[8] = {};
    u16 grda = 0;
};

// VDP1 on its own memory with no SCU: command lists are written straight
// into VRAM and walked with a budget.
class Vdp1Fixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { buildVideoTables(); }
    void SetUp() override
    {
        vdp.setup(0);
        vdp.powerOn();
    }

    u8* vram() { return memory.data(); }
    void word(u32 at, u16 value) { storeBe16(memory.data() + at, value); }
    void put(u32 at, const Table& t)
    {
        const u16 words[16] = {t.ctrl, t.link, t.pmod, t.colr, t.srca, t.size,
                               static_cast<u16>(t.xy[0]), static_cast<u16>(t.xy[1]), static_cast<u16>(t.xy[2]),
                               static_cast<u16>(t.xy[3]), static_cast<u16>(t.xy[4]), static_cast<u16>(t.xy[5]),
                               static_cast<u16>(t.xy[6]), static_cast<u16>(t.xy[7]), t.grda, 0};
        for (u32 i = 0; i < 16; ++i)
            word((at + 2 * i) & VDP1::kVramMask, words[i]);
    }
    // Tables from offset 0 on, closed by END; drawn with a generous budget.
    void draw(std::initializer_list<Table> tables, s32 budget = 1 << 24)
    {
        u32 at = 0;
        for (const Table& t : tables) {
            put(at, t);
            at += 32;
        }
        put(at, Table{.ctrl = 0x8000});
        run(budget);
    }
    void run(s32 budget)
    {
        vdp.writePTMR(1);
        vdp.setClocksLeft(budget);
        vdp.runCommands();
    }
    u16 pixel(int x, int y) const { return loadBe16(vdp.drawBuffer() + 2 * (y * 512 + x)); }
    void setPixel(int x, int y, u16 v) { storeBe16(vdp.drawBuffer() + 2 * (y * 512 + x), v); }

    static std::vector<u8> picture(const std::string& name)
    {
        std::vector<u8> bytes = readBytes(std::string(KEST_VDP1_PICTURES) + "/" + name);
        EXPECT_FALSE(bytes.empty()) << name;
        return bytes;
    }
    static std::vector<u16> words(const std::string& name)
    {
        const std::vector<u8> bytes = picture(name);
        std::vector<u16> out(bytes.size() / 2);
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = loadBe16(bytes.data() + 2 * i);
        return out;
    }

    std::vector<u8> memory = std::vector<u8>(0x100000);
    VDP1 vdp{nullptr, memory.data()};
};
