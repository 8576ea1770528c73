#include "board/cart/eeprom.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/log_capture.h"

namespace {

// 93C46-family instructions: start bit 1, two opcode bits, six address bits.
// The four instructions without an address use opcode 00 and the top two
// address bits.
constexpr u32 kOpRead = 2;
constexpr u32 kOpWrite = 1;
constexpr u32 kOpErase = 3;
constexpr u32 kOpExtended = 0;
constexpr u32 kExtEwen = 0x30;
constexpr u32 kExtEwds = 0x00;
constexpr u32 kExtEral = 0x20;
constexpr u32 kExtWral = 0x10;

// A Microwire master bit-banging the chip through the arcade SMPC's ports:
// port 1 data (CS bit 2, SK bit 3, DI bit 4) and port 2 data (DO on bit 5).
class Master {
public:
    explicit Master(EEPROM& chip) : m_chip(chip) {}

    void port(u32 cs, u32 sk, u32 di)
    {
        u8 value = static_cast<u8>(cs << 2 | sk << 3 | di << 4);
        m_chip.setCS((value >> 2) & 1);
        m_chip.setSK((value >> 3) & 1);
        m_chip.setDI((value >> 4) & 1);
    }

    u8 readPort() const
    {
        u32 out = m_chip.getDO();
        return out == EEPROM::kNotDriving ? 0xFF : static_cast<u8>(out << 5 | 0xDF);
    }
    u32 dataOut() const { return (readPort() >> 5) & 1; }

    void select()
    {
        port(0, 0, 0);
        port(1, 0, 0);
    }
    void deselect() { port(0, 0, 0); }

    void clockIn(u32 bit)
    {
        port(1, 0, bit);
        port(1, 1, bit);
    }
    void send(u32 value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i)
            clockIn((value >> i) & 1);
    }
    void instruction(u32 opcode, u32 address)
    {
        select();
        clockIn(1);
        send(opcode, 2);
        send(address, 6);
    }

    void ewen() { instruction(kOpExtended, kExtEwen), deselect(); }
    void ewds() { instruction(kOpExtended, kExtEwds), deselect(); }
    void eral() { instruction(kOpExtended, kExtEral), deselect(); }
    void erase(u32 address) { instruction(kOpErase, address), deselect(); }
    void write(u32 address, u16 value)
    {
        instruction(kOpWrite, address);
        send(value, 16);
        deselect();
    }
    void wral(u16 value)
    {
        instruction(kOpExtended, kExtWral);
        send(value, 16);
        deselect();
    }

    // DO sampled while the clock is high: after the last address bit, then
    // after each of the following clocks.
    std::vector<u32> readBits(u32 address, int clocks)
    {
        instruction(kOpRead, address);
        std::vector<u32> bits{dataOut()};
        for (int i = 0; i < clocks; ++i) {
            port(1, 0, 0);
            port(1, 1, 0);
            bits.push_back(dataOut());
        }
        return bits;
    }
    u16 read(u32 address)
    {
        std::vector<u32> bits = readBits(address, 16);
        deselect();
        EXPECT_EQ(bits[0], 0u) << "dummy bit";
        u32 value = 0;
        for (std::size_t i = 1; i < bits.size(); ++i)
            value = value << 1 | bits[i];
        return static_cast<u16>(value);
    }

private:
    EEPROM& m_chip;
};

void expectAllWords(EEPROM& chip, u16 value)
{
    for (u32 address = 0; address < EEPROM::kWords; ++address)
        ASSERT_EQ(chip.word(address), value) << "address " << address;
}

}  // namespace

TEST(Eeprom, StartsErasedAndIsTheBoardsOneChip)
{
    AK93C45AF chip;
    EXPECT_EQ(chip.size(), 128u);
    for (u32 i = 0; i < chip.size(); ++i)
        ASSERT_EQ(chip.data()[i], 0xFF);
    Master master(chip);
    EXPECT_EQ(master.read(7), 0xFFFF);

    EXPECT_EQ(boardEeprom().name(), "EEPROM");
    EXPECT_EQ(&boardEeprom(), &boardEeprom());
}

TEST(Eeprom, WriteThenReadThroughTheWire)
{
    AK93C45AF chip;
    Master master(chip);
    master.ewen();
    const std::pair<u32, u16> words[] = {{0x00, 0x0001}, {0x15, 0xBEEF}, {0x3F, 0x8000}, {0x2A, 0x1234}};
    for (auto [address, value] : words)
        master.write(address, value);
    for (auto [address, value] : words)
        EXPECT_EQ(master.read(address), value) << "address " << address;
    EXPECT_EQ(master.read(0x01), 0xFFFF);

    // The save file holds each word high byte first at twice its address.
    EXPECT_EQ(chip.data()[0x2A * 2], 0x12);
    EXPECT_EQ(chip.data()[0x2A * 2 + 1], 0x34);
    EXPECT_EQ(chip.data()[0x3F * 2], 0x80);
    EXPECT_EQ(chip.data()[0x3F * 2 + 1], 0x00);

    // A loaded file image reads back the same way.
    chip.data()[0x10 * 2] = 0xCA;
    chip.data()[0x10 * 2 + 1] = 0xFE;
    EXPECT_EQ(master.read(0x10), 0xCAFE);
}

TEST(Eeprom, ReadShiftsOutDummyBitThenDataMsbFirst)
{
    AK93C45AF chip;
    Master master(chip);
    master.ewen();
    master.write(0x2A, 0x1234);

    master.select();
    EXPECT_EQ(master.readPort(), 0xFF) << "not driving after chip select";

    std::vector<u32> bits = master.readBits(0x2A, 17);
    const std::vector<u32> expected = {0,                // dummy
                                       0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1, 1, 0, 1, 0, 0,  // 0x1234
                                       1};               // released after D0
    EXPECT_EQ(bits, expected);
    EXPECT_EQ(master.readPort(), 0xFF);
    EXPECT_EQ(master.readPort() & 0x20, 0x20);
    master.deselect();

    // A write leaves DO reporting ready.
    master.instruction(kOpWrite, 0x2A);
    master.send(0x4321, 16);
    EXPECT_EQ(master.readPort(), 0xFF);
    master.deselect();
    EXPECT_EQ(master.read(0x2A), 0x4321);
}

TEST(Eeprom, WritesNeedTheWriteEnable)
{
    LogCapture log;
    AK93C45AF chip;
    chip.setThreshold(2);
    Master master(chip);

    master.write(3, 0x1111);
    master.wral(0x2222);
    master.eral();
    master.erase(4);
    expectAllWords(chip, 0xFFFF);
    EXPECT_TRUE(log.contains("EEPROM: WRITE [A: 03, D: 1111, EWEN: 0]"));
    EXPECT_TRUE(log.contains("EEPROM: WRAL [DATA: 2222, EWEN: 0]"));
    EXPECT_TRUE(log.contains("EEPROM: ERAL [EWEN: 0]"));

    master.ewen();
    master.write(3, 0x1111);
    EXPECT_EQ(chip.word(3), 0x1111);
    EXPECT_TRUE(log.contains("EEPROM: WRITE [A: 03, D: 1111, EWEN: 1]"));

    master.ewds();
    master.write(3, 0x3333);
    EXPECT_EQ(chip.word(3), 0x1111);

    // The chip's reset clears the enable and keeps the contents.
    master.ewen();
    chip.reset();
    master.write(3, 0x4444);
    EXPECT_EQ(chip.word(3), 0x1111);
    EXPECT_EQ(master.read(3), 0x1111);
}

TEST(Eeprom, WriteAllAndEraseAll)
{
    AK93C45AF chip;
    Master master(chip);
    master.ewen();
    master.wral(0xA55A);
    expectAllWords(chip, 0xA55A);
    EXPECT_EQ(master.read(0x3F), 0xA55A);

    master.erase(0x21);
    EXPECT_EQ(chip.word(0x21), 0xFFFF);
    EXPECT_EQ(chip.word(0x20), 0xA55A);

    master.eral();
    expectAllWords(chip, 0xFFFF);
}

TEST(Eeprom, BitsCountOnlyOnARisingClockWithTheChipSelected)
{
    AK93C45AF chip;
    Master master(chip);
    master.ewen();

    // Data-in changes while the clock stays high or low are not bits.
    master.select();
    master.clockIn(1);
    for (u32 bit : {0u, 1u, 0u, 1u})
        master.port(1, 1, bit);
    for (u32 bit : {0u, 1u, 0u, 1u})
        master.port(1, 0, bit);
    master.send(kOpWrite, 2);
    master.port(1, 1, 1);  // no edge: the clock is already high
    master.send(0x05, 6);
    master.send(0x0F0F, 16);
    master.deselect();
    EXPECT_EQ(chip.word(0x05), 0x0F0F);

    // With the chip not selected, a whole WRAL sequence clocks in nothing.
    const u32 wral = 1u << 24 | kOpExtended << 22 | kExtWral << 16 | 0x0000;
    for (int i = 24; i >= 0; --i) {
        master.port(0, 0, (wral >> i) & 1);
        master.port(0, 1, (wral >> i) & 1);
    }
    EXPECT_EQ(chip.word(0x05), 0x0F0F);
    EXPECT_EQ(chip.word(0x06), 0xFFFF);
}
