#include <gtest/gtest.h>

#include <memory>

#include "board/cart/cart_titan.h"
#include "board/cart/cartridge.h"
#include "support/log_capture.h"

namespace {

// A bus with nothing but the cartridge's windows, installed in list order.
struct Bus {
    explicit Bus(const Cartridge& cart)
    {
        for (const MemoryMapWindow& w : cart.getWindows())
            map->mapRange(w.start, w.end, w.handlers);
    }
    u8 rb(u32 a) const { return map->readByte(nullptr, a); }
    u16 rw(u32 a) const { return map->readWord(nullptr, a); }
    u32 rl(u32 a) const { return map->readLong(nullptr, a); }
    void wb(u32 a, u8 d) const { map->writeByte(nullptr, a, d); }
    void ww(u32 a, u16 d) const { map->writeWord(nullptr, a, d); }
    void wl(u32 a, u32 d) const { map->writeLong(nullptr, a, d); }

    std::unique_ptr<PageMap> map = std::make_unique<PageMap>();
};

}  // namespace

TEST(CartBUP, OddByteLayoutThroughTheBus)
{
    CartBUP512K cart;
    Bus bus(cart);
    u8* data = cart.data();
    data[0] = 0x12;
    data[1] = 0x34;

    EXPECT_EQ(bus.rb(0x04000001), 0x12);
    EXPECT_EQ(bus.rb(0x04000000), 0xFF);
    EXPECT_EQ(bus.rw(0x04000000), 0xFF12);
    EXPECT_EQ(bus.rl(0x04000000), 0xFF12FF34u);

    // An even-address byte write still lands in the cell.
    bus.wb(0x04000004, 0xAB);
    EXPECT_EQ(data[2], 0xAB);
    bus.ww(0x04000006, 0x77CD);
    EXPECT_EQ(data[3], 0xCD);
    bus.wl(0x04000008, 0x11223344);
    EXPECT_EQ(data[4], 0x22);
    EXPECT_EQ(data[5], 0x44);

    data[0x7FFFF] = 0x99;
    EXPECT_EQ(bus.rb(0x040FFFFF), 0x99);
    // A long at the last cell takes its second cell from the start.
    EXPECT_EQ(bus.rl(0x040FFFFE), 0xFF99FF12u);
    bus.wl(0x040FFFFC, 0x00560078);
    EXPECT_EQ(data[0x7FFFE], 0x56);
    EXPECT_EQ(data[0x7FFFF], 0x78);
    EXPECT_EQ(data[0], 0x12);
}

TEST(CartBUP, WriteBackPollAnswersOnceAfterAQuietField)
{
    CartBUP1M cart;
    Bus bus(cart);
    EXPECT_FALSE(cart.pollWriteBack()) << "nothing written yet";

    bus.wb(0x04000001, 1);  // field n
    EXPECT_FALSE(cart.pollWriteBack());
    EXPECT_TRUE(cart.pollWriteBack());  // field n+1 without writes
    EXPECT_FALSE(cart.pollWriteBack());

    // Writes over three fields, then quiet: one answer, a field after the last.
    for (int field = 0; field < 3; ++field) {
        bus.wl(0x04000010, 0x00010002);
        EXPECT_FALSE(cart.pollWriteBack());
    }
    EXPECT_TRUE(cart.pollWriteBack());
    EXPECT_FALSE(cart.pollWriteBack());
    u32 due = 0;  // written in every field, it is due every so many fields all the same
    for (u32 field = 1; field <= 2 * WriteBack::kLongestBurst; ++field) {
        bus.wb(0x04000001, static_cast<u8>(field));
        due += cart.pollWriteBack();
    }
    EXPECT_EQ(due, 2u);

    // Word writes count too, and a reset forgets pending changes.
    bus.ww(0x04000020, 5);
    cart.reset();
    EXPECT_FALSE(cart.pollWriteBack());
    EXPECT_FALSE(cart.pollWriteBack());
}

TEST(CartRAM, BankArithmetic)
{
    CartRAM1M small;
    Bus bus(small);
    bus.wb(0x02400000, 0x11);
    EXPECT_EQ(bus.rb(0x02480000), 0x11) << "a 512 KB bank repeats";
    EXPECT_EQ(bus.rb(0x02580000), 0x11);
    bus.wb(0x02600000, 0x22);
    EXPECT_EQ(small.data()[0x80000], 0x22);
    EXPECT_EQ(bus.rb(0x027FFFFF - 0x7FFFF), 0x22);
    bus.wl(0x025FFFFC, 0xA1B2C3D4);
    EXPECT_EQ(small.data()[0x7FFFC], 0xA1);
    EXPECT_EQ(small.data()[0x7FFFF], 0xD4);
    EXPECT_EQ(bus.rw(0x0247FFFE), 0xC3D4);

    CartRAM4M big;
    Bus bigBus(big);
    bigBus.ww(0x02400000, 0x1234);
    bigBus.ww(0x02600000, 0x5678);
    bigBus.wl(0x027FFFFC, 0xCAFEF00D);
    EXPECT_EQ(big.data()[0], 0x12);
    EXPECT_EQ(big.data()[0x200000], 0x56);
    EXPECT_EQ(big.data()[0x3FFFFF], 0x0D);
}

TEST(CartRAM, WordAndLongAccessesAreAligned)
{
    CartRAM4M cart;
    Bus bus(cart);
    bus.wl(0x02400003, 0x01020304);
    EXPECT_EQ(cart.data()[0], 0x01);
    EXPECT_EQ(cart.data()[3], 0x04);
    bus.ww(0x027FFFFF, 0xBEEF);
    EXPECT_EQ(cart.data()[0x3FFFFE], 0xBE);
    EXPECT_EQ(cart.data()[0x3FFFFF], 0xEF);
    EXPECT_EQ(bus.rw(0x027FFFFF), 0xBEEF);
    EXPECT_EQ(bus.rl(0x02400001), 0x01020304u);
}

TEST(CartRAM, InitialisationRegister)
{
    CartRAM1M cart;
    Bus bus(cart);
    ASSERT_EQ(cart.getWindows().size(), 2u);
    EXPECT_EQ(cart.getWindows()[0].start, 0x057EFFFEu);
    EXPECT_EQ(cart.getWindows()[0].end, 0x057EFFFFu);
    EXPECT_EQ(cart.getWindows()[1].start, 0x02400000u);
    EXPECT_EQ(cart.getWindows()[1].end, 0x027FFFFFu);

    LogCapture log;
    bus.ww(0x057EFFFE, 1);
    EXPECT_EQ(log.text(), "CartRAM1M: Initialize RAM cartridge\n");
    log.clear();
    cart.getWindows()[0].handlers.writeWord(&cart, nullptr, 0x257EFFFE, 1);
    EXPECT_EQ(log.text(), "CartRAM1M: Initialize RAM cartridge\n") << "the cache-through mirror";
    log.clear();
    bus.ww(0x057EFFFE, 2);
    EXPECT_EQ(log.text(), "CartRAM1M: Initialize RAM cartridge with illegal value [D: 0002]\n");
    log.clear();
    // The window's page holds other addresses, which the register refuses.
    bus.ww(0x057E0000, 1);
    EXPECT_EQ(log.text(), "CartRAM1M: Bad WW [A: 057E0000, D: 0001]\n");
    log.clear();
    EXPECT_EQ(bus.rw(0x057EFFFE), 0);
    EXPECT_EQ(bus.rl(0x057EFFFC), 0u);
    bus.wl(0x057EFFFC, 0x12345678);
    EXPECT_EQ(log.text(), "CartRAM1M: Bad RW [A: 057EFFFE]\n"
                          "CartRAM1M: Bad RL [A: 057EFFFC]\n"
                          "CartRAM1M: Bad WL [A: 057EFFFC, D: 12345678]\n");
    EXPECT_EQ(cart.data()[0], 0) << "the register changes no data";
}

TEST(CartROM, ReadsAndRefusedWrites)
{
    CartROM cart;
    Bus bus(cart);
    for (u32 i = 0; i < 8; ++i)
        cart.data()[i] = static_cast<u8>(0x10 + i);
    cart.data()[0x1FFFFF] = 0xEE;
    EXPECT_EQ(bus.rb(0x02000003), 0x13);
    EXPECT_EQ(bus.rw(0x02000003), 0x1213) << "aligned";
    EXPECT_EQ(bus.rl(0x02000006), 0x14151617u) << "aligned";
    EXPECT_EQ(bus.rb(0x021FFFFF), 0xEE);

    LogCapture log;
    bus.wb(0x02000000, 0xAA);
    bus.ww(0x02000000, 0xAAAA);
    bus.wl(0x02000004, 0xAAAAAAAA);
    EXPECT_EQ(log.text(), "CartROM: Bad WB [A: 02000000, D: AA]\n"
                          "CartROM: Bad area WW [A: 02000000, D: AAAA]\n"
                          "CartROM: Bad area WL [A: 02000004, D: AAAAAAAA]\n");
    EXPECT_EQ(bus.rl(0x02000000), 0x10111213u);
    EXPECT_EQ(cart.peek(0x02000001), 0x11);
    EXPECT_EQ(cart.peek(0x02200000), 0xFF);
}

TEST(CartTitan, MainWindowAndReadOnlyRomWindows)
{
    auto cart = std::make_unique<CartTitan>();
    EXPECT_TRUE(cart->addRomWindow(0x200000, 0x100000));
    ASSERT_EQ(cart->getWindows().size(), 2u);
    EXPECT_EQ(cart->getWindows()[1].start, 0x02200000u);
    EXPECT_EQ(cart->getWindows()[1].end, 0x022FFFFFu);

    Bus bus(*cart);
    // Writable where no ROM window covers the address, in the machine's byte order.
    bus.wl(0x02000000, 0x01020304);
    bus.ww(0x04FFFFFE, 0xA5A6);
    bus.wb(0x03000001, 0x77);
    EXPECT_EQ(cart->data()[0], 0x01);
    EXPECT_EQ(cart->data()[0x2FFFFFE], 0xA5);
    EXPECT_EQ(cart->data()[0x1000001], 0x77);
    EXPECT_EQ(bus.rw(0x02000002), 0x0304);
    EXPECT_EQ(bus.rl(0x04FFFFFC), 0x0000A5A6u);
    // The cache-through mirror reaches the same bytes.
    EXPECT_EQ(cart->getWindows()[0].handlers.readLong(cart.get(), nullptr, 0x24FFFFFC), 0x0000A5A6u);

    cart->data()[0x200000] = 0x5E;
    LogCapture log;
    bus.ww(0x02200000, 0x1111);
    bus.wl(0x02200000, 0x22222222);
    bus.wb(0x02200000, 0x33);
    EXPECT_EQ(log.text(), "CartTitan: Bad WW [A: 02200000, D: 1111]\n"
                          "CartTitan: Bad WL [A: 02200000, D: 22222222]\n"
                          "CartTitan: Bad WB [A: 02200000, D: 33]\n");
    EXPECT_EQ(bus.rb(0x02200000), 0x5E);
    EXPECT_EQ(cart->peek(0x02200000), 0x5E);
}

TEST(CartTitan, RomWindowsOutsideTheDataAreRefused)
{
    CartTitan cart;
    LogCapture log;
    EXPECT_FALSE(cart.addRomWindow(0x2FF0000, 0x20000));
    EXPECT_FALSE(cart.addRomWindow(0x3000000, 0x10));
    EXPECT_FALSE(cart.addRomWindow(0x10, 0));
    EXPECT_FALSE(cart.addRomWindow(0x100, 0xFFFFFFF0u)) << "offset + size wraps";
    EXPECT_EQ(cart.getWindows().size(), 1u);
    EXPECT_TRUE(cart.addRomWindow(0x2FF0000, 0x10000));
    EXPECT_NE(log.text().find("CartTitan: ROM window outside the cartridge [O: 02FF0000, S: 00020000]"),
              std::string::npos);

    // A handler reached from a page beyond the data neither reads nor writes past it.
    const AccessHandlers& h = cart.getWindows()[0].handlers;
    h.writeLong(&cart, nullptr, 0x05000000, 0xFFFFFFFF);
    EXPECT_EQ(h.readLong(&cart, nullptr, 0x05000000), 0u);
    EXPECT_EQ(h.readByte(&cart, nullptr, 0x01FFFFFF), 0);
    EXPECT_EQ(cart.peek(0x05000000), 0xFF);
}
