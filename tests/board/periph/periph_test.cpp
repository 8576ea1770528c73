#include <gtest/gtest.h>

#include "board/periph/peripheral.h"
#include "board/smpc/smpc_harness.h"
#include "support/log_capture.h"

using namespace smpctest;

namespace {

// What a host delegate does: fills the data bytes at every poll, here with
// a pattern that tells the bytes apart.
template <class Base>
class Fed : public Base {
public:
    explicit Fed(u8 first = 0xA0) : Base("DEVICE"), m_first(first) {}
    void poll() override
    {
        ++polls;
        for (u32 k = 0; k < this->getDataSize(); ++k)
            this->getData()[k] = static_cast<u8>(m_first + k);
    }
    int polls = 0;

private:
    u8 m_first;
};

class Other : public Peripheral {
public:
    explicit Other(u8 kind) : Peripheral("OTHER", kind) {}
};

struct Kind {
    std::shared_ptr<Peripheral> device;
    char letter;
    u8 id;  // the peripheral ID table: type (high nibble), data bytes (low)
    u32 bytes;
};

std::vector<Kind> allKinds()
{
    return {
        {std::make_shared<Fed<Pad>>(), 'J', 0x02, 2},       // Saturn digital pad
        {std::make_shared<Fed<Joystick>>(), 'A', 0x15, 5},  // analog pad and mission stick
        {std::make_shared<Fed<Keyboard>>(), 'K', 0x34, 4},  // keyboard
        {std::make_shared<Fed<MDPad3B>>(), 'J', 0xE1, 1},   // Mega Drive 3-button pad
        {std::make_shared<Fed<MDPad6B>>(), 'J', 0xE2, 2},   // Mega Drive 6-button pad
        {std::make_shared<Fed<Mouse>>(), 'M', 0xE3, 3},     // Mega Drive mouse
    };
}

}  // namespace

TEST(Controllers, KindIdAndDataSize)
{
    for (const Kind& k : allKinds()) {
        EXPECT_EQ(k.device->getKind(), k.letter) << int(k.id);
        EXPECT_EQ(k.device->getId(), k.id);
        EXPECT_EQ(k.device->getDataSize(), k.bytes) << int(k.id);
        for (u32 b = 0; b < k.bytes; ++b)
            EXPECT_EQ(k.device->getData()[b], 0) << int(k.id);
    }
    Keyboard keyboard("KEYBOARD");
    EXPECT_EQ(keyboard.status, 0);
    EXPECT_EQ(keyboard.lastEvent, Keyboard::kNoEvent);
    EXPECT_EQ(keyboard.keyEvent, 0u);
    EXPECT_EQ(keyboard.lastKey, 0);
    EXPECT_EQ(keyboard.name(), "KEYBOARD");
    // A peripheral that is no controller reports nothing.
    Other other('S');
    EXPECT_EQ(other.getId(), 0xFF);
    EXPECT_EQ(other.getDataSize(), 0u);
}

TEST(Ports, AttachDetachAndRefusals)
{
    SMPC::Port port("SMPC.PORT1");
    u32 count = 0;
    EXPECT_FALSE(port.isConnected());
    EXPECT_EQ(port.readId(), 0xFF);
    EXPECT_EQ(port.readData(count), nullptr);
    EXPECT_EQ(count, 0u);

    EXPECT_FALSE(port.attach(nullptr));
    EXPECT_EQ(port.status, SMPC::Port::kEmpty);

    for (char kind : {'A', 'E', 'G', 'J', 'K', 'M', 'Q', 'S'}) {
        EXPECT_TRUE(port.attach(std::make_shared<Other>(static_cast<u8>(kind)))) << kind;
        EXPECT_EQ(port.status, SMPC::Port::kDirect);
    }

    // A second peripheral takes the place of the first.
    auto first = std::make_shared<Fed<Pad>>();
    auto second = std::make_shared<Fed<Mouse>>();
    ASSERT_TRUE(port.attach(first));
    EXPECT_EQ(first.use_count(), 2);
    ASSERT_TRUE(port.attach(second));
    EXPECT_EQ(first.use_count(), 1);
    EXPECT_EQ(port.readId(), 0xE3);
    EXPECT_EQ(port.readData(count), second->getData());
    EXPECT_EQ(count, 3u);

    // An empty pointer changes nothing.
    EXPECT_FALSE(port.attach(nullptr));
    EXPECT_EQ(port.peripheral(), second);

    {
        LogCapture log;
        EXPECT_FALSE(port.attach(std::make_shared<Other>('T')));
        EXPECT_EQ(log.text(), "SMPC.PORT1: Multitap not implemented\n");
    }
    EXPECT_EQ(port.status, SMPC::Port::kMultitap);
    EXPECT_FALSE(port.isConnected());
    EXPECT_EQ(second.use_count(), 1);

    ASSERT_TRUE(port.attach(second));
    LogCapture quiet;
    EXPECT_FALSE(port.attach(std::make_shared<Other>('Z')));
    EXPECT_EQ(port.status, SMPC::Port::kEmpty);
    EXPECT_FALSE(port.isConnected());
    EXPECT_EQ(quiet.text(), "");

    ASSERT_TRUE(port.attach(second));
    port.poll();
    EXPECT_EQ(second->polls, 1);
    port.detach();
    EXPECT_EQ(port.status, SMPC::Port::kEmpty);
    EXPECT_EQ(second.use_count(), 1);
    port.poll();
    EXPECT_EQ(second->polls, 1);
}

namespace {

class PeriphIntback : public TimedTest {
protected:
    // A peripheral-data INTBACK after a V-BLANK-OUT has polled the ports.
    std::vector<u8> intback()
    {
        smpc().onVBlankOut();
        run(kIntback, {0x00, 0x08});
        return oregs();
    }
};

std::vector<u8> reply(std::vector<u8> bytes)
{
    bytes.resize(32, 0);
    return bytes;
}

}  // namespace

TEST_F(PeriphIntback, EveryKindInTheReply)
{
    for (const Kind& k : allKinds()) {
        ASSERT_TRUE(smpc().getPort(0).attach(k.device));
        std::vector<u8> head = {0xF1, k.id};
        for (u32 b = 0; b < k.bytes; ++b)
            head.push_back(static_cast<u8>(0xA0 + b));
        head.insert(head.end(), {0xF0, 0xFF, 0xFF, 0xFF});
        EXPECT_EQ(intback(), reply(head)) << int(k.id);
        EXPECT_EQ(smpc().sr(), 0xC0);
    }
}

TEST_F(PeriphIntback, PowerOnStatusWhateverIsAttached)
{
    smpc().getPort(0).detach();
    smpc().getPort(1).attach(std::make_shared<Fed<Pad>>());
    smpc().switchOn();
    EXPECT_EQ(smpc().getPort(0).status, SMPC::Port::kDirect);
    EXPECT_EQ(smpc().getPort(1).status, SMPC::Port::kEmpty);
}

// Port 2 gives its status and ID and then two 0xFF, whatever it holds, so
// the reply keeps one layout with a second controller attached.
TEST_F(PeriphIntback, SecondPortAndAFullReply)
{
    smpc().getPort(0).attach(std::make_shared<Fed<Pad>>(0x10));
    smpc().getPort(1).attach(std::make_shared<Fed<Pad>>(0x20));
    EXPECT_EQ(intback(), reply({0xF1, 0x02, 0x10, 0x11, 0xF1, 0x02, 0xFF, 0xFF}));
    smpc().getPort(1).attach(std::make_shared<Fed<Joystick>>(0x20));
    EXPECT_EQ(intback(), reply({0xF1, 0x02, 0x10, 0x11, 0xF1, 0x15, 0xFF, 0xFF}));

    auto wide = std::make_shared<Controller>("WIDE", 'S', 0x0, 15);
    for (u32 k = 0; k < 15; ++k)
        wide->getData()[k] = static_cast<u8>(0x30 + k);
    smpc().getPort(0).attach(wide);
    std::vector<u8> full = {0xF1, 0x0F};
    for (u8 k = 0; k < 15; ++k)
        full.push_back(static_cast<u8>(0x30 + k));
    full.insert(full.end(), {0xF1, 0x15, 0xFF, 0xFF});
    EXPECT_EQ(intback(), reply(full));
}
