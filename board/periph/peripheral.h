#pragma once

#include <array>
#include <string>

#include "core/base/device.h"

// Something plugged into an SMPC port. It holds the bytes the SMPC copies
// into its INTBACK reply: a peripheral ID and up to 15 data bytes, which a
// host subclass refreshes in poll once per frame.
class Peripheral : public Device {
public:
    static constexpr u32 kMaxDataBytes = 15;  // the ID's size nibble

    Peripheral(std::string name, u8 kind) : Device(std::move(name)), m_kind(kind) {}

    // Refreshes the data bytes from the host; called at every V-BLANK-OUT.
    virtual void poll() {}

    u8 getKind() const { return m_kind; }
    u8 getId() const { return m_id; }
    u8* getData() { return m_data.data(); }
    const u8* getData() const { return m_data.data(); }
    u32 getDataSize() const { return m_dataSize; }

protected:
    void setLayout(u8 id, u32 dataSize) { m_id = id; m_dataSize = dataSize; }

private:
    u8 m_kind;
    u8 m_id = 0xFF;
    u32 m_dataSize = 0;
    std::array<u8, kMaxDataBytes> m_data{};
};

// A peripheral that reports itself with a type and a data size, both
// nibbles of its ID byte.
class Controller : public Peripheral {
public:
    Controller(std::string name, u8 kind, u32 type, u32 size);

    // Sets the data bytes to the controller at rest: every button released,
    // no motion, no key event, the analog axes centred. A host-less
    // controller keeps them so.
    void release();

    u32 type() const { return m_type; }
    u32 size() const { return m_size; }

private:
    u32 m_type;
    u32 m_size;
};

// Type codes of the peripheral ID's high nibble.
enum PeripheralType : u32 {
    kDigitalDevice = 0x0,
    kAnalogDevice = 0x1,
    kPointingDevice = 0x2,
    kKeyboardDevice = 0x3,
    kMegaDriveDevice = 0xE,
};

// Standard pad: Right Left Down Up Start A C B, then R X Y Z L and three
// ones; active low.
class Pad : public Controller {
public:
    explicit Pad(std::string name) : Controller(std::move(name), 'J', kDigitalDevice, 2) {}
};

class MDPad3B : public Controller {
public:
    explicit MDPad3B(std::string name) : Controller(std::move(name), 'J', kMegaDriveDevice, 1) {}
};

class MDPad6B : public Controller {
public:
    explicit MDPad6B(std::string name) : Controller(std::move(name), 'J', kMegaDriveDevice, 2) {}
};

class Mouse : public Controller {
public:
    explicit Mouse(std::string name) : Controller(std::move(name), 'M', kMegaDriveDevice, 3) {}
};

// The analog pad and mission stick family.
class Joystick : public Controller {
public:
    explicit Joystick(std::string name) : Controller(std::move(name), 'A', kAnalogDevice, 5) {}
};

class Keyboard : public Controller {
public:
    enum Event : u8 { kNoEvent = 0, kMake = 1, kBreak = 2 };

    explicit Keyboard(std::string name) : Controller(std::move(name), 'K', kKeyboardDevice, 4) {}

    // Kept for the host subclass, which tracks key make and break here.
    u8 status = 0;  // ORed into data byte 2
    u8 lastEvent = kNoEvent;
    u32 keyEvent = 0;
    u8 lastKey = 0;
};
