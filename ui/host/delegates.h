#pragma once

#include <array>
#include <deque>
#include <memory>

#include "board/periph/peripheral.h"
#include "core/emulator/kest.h"
#include "ui/host/host_input.h"

// Emulated keyboard codes of the pad buttons' host keys: W Up, S Down,
// A Left, D Right, H Start, J A, K B, L C, P R, U X, I Y, O Z, Y L.
namespace PadKey {
enum : u8 {
    kUp = 0x1D, kDown = 0x1B, kLeft = 0x1C, kRight = 0x23, kStart = 0x33, kA = 0x3B, kB = 0x42, kC = 0x4B,
    kR = 0x4D, kX = 0x3C, kY = 0x43, kZ = 0x44, kL = 0x35,
};
}

// The 13 buttons of the standard pad, 1 = released, tracked from key
// events of the host keyboard.
class PadButtons {
public:
    static constexpr u32 kButtons = 13;

    // Applies one event; answers whether its key is one of the buttons.
    bool apply(u8 code, bool released);
    // Right, Left, Down, Up, Start, A, C, B in bits 7-0.
    u8 firstByte() const;
    // R, X, Y, Z, L in bits 7-3, bits 2-0 clear.
    u8 secondByte() const;
    bool released(u8 code) const;

private:
    std::array<u8, kButtons> m_state{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
};

// Reads the host keyboard's buffered events and hands each (emulated key
// code, released) to the visitor.
template <typename Visit>
void readKeys(CDInput8* input, Visit&& visit)
{
    if (!input)
        return;
    const CDInput8::KeyEvent* events = nullptr;
    const u32 n = input->readEvents(events);
    for (u32 i = 0; i < n; ++i)
        visit(KeyCodeTable[events[i].key], (events[i].data & CDInput8::kPressed) == 0);
}

class PadDelegate : public Pad {
public:
    explicit PadDelegate(CDInput8* input);
    void poll() override;

private:
    CDInput8* m_input;
    PadButtons m_buttons;
};

class MDPad3BDelegate : public MDPad3B {
public:
    explicit MDPad3BDelegate(CDInput8* input);
    void poll() override;

private:
    CDInput8* m_input;
    PadButtons m_buttons;
};

class MDPad6BDelegate : public MDPad6B {
public:
    explicit MDPad6BDelegate(CDInput8* input);
    void poll() override;

private:
    CDInput8* m_input;
    PadButtons m_buttons;
};

// The arrow keys drive axes 1 and 2, Page Up and Page Down axis 3; an
// axis rests centred and returns there when its key is let go.
class JoystickDelegate : public Joystick {
public:
    static constexpr u8 kCentre = 0x80;

    explicit JoystickDelegate(CDInput8* input);
    void poll() override;
    u8 axis(int index) const { return m_axes[static_cast<u32>(index)]; }

private:
    CDInput8* m_input;
    PadButtons m_buttons;
    std::array<u8, 3> m_axes{kCentre, kCentre, kCentre};
};

// Reports one key make or break per poll, oldest first, so a key pressed
// and let go within one frame still reaches the game as both.
class KeyboardDelegate : public Keyboard {
public:
    static constexpr std::size_t kPendingEvents = 256;

    explicit KeyboardDelegate(CDInput8* input);
    void poll() override;

private:
    struct Pending {
        u8 kind;
        u8 code;
    };
    CDInput8* m_input;
    PadButtons m_buttons;
    std::deque<Pending> m_pending;
};

class MouseDelegate : public Mouse {
public:
    explicit MouseDelegate(CDInput8* input);
    void poll() override;

private:
    CDInput8* m_input;
};

// The emulator object of the window: its controller factories build the
// delegates above on the window's input.
class KestDelegate : public Kest {
public:
    explicit KestDelegate(CDInput8* input) : m_input(input) {}

    std::shared_ptr<Peripheral> createKeyboard() override;
    std::shared_ptr<Peripheral> createMouse() override;
    std::shared_ptr<Peripheral> createMDPad3B() override;
    std::shared_ptr<Peripheral> createMDPad6B() override;
    std::shared_ptr<Peripheral> createPad() override;
    std::shared_ptr<Peripheral> createJoystick() override;

private:
    CDInput8* m_input;
};
