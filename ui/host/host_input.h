#pragma once

#include <array>

#include "core/emulator/media.h"
#include "core/base/types.h"

// The host keyboard and mouse as the controller delegates read them: the
// keyboard as a buffer of key events, the mouse as its movement since the
// last read and its buttons. The window feeds both from its key and mouse
// events; delegates read them inside the emulated frame. All of it runs on
// the user-interface thread.
class CDInput8 : public CInput {
public:
    static constexpr u32 kBufferedEvents = 5120;
    static constexpr u32 kEventsPerRead = 256;
    static constexpr u8 kPressed = 0x80;
    static constexpr int kMouseButtons = 8;

    // One key event: the host key (see platform/key_codes.h) and its data,
    // bit 7 set while pressed.
    struct KeyEvent {
        u8 key = 0;
        u8 data = 0;
    };
    // Movement since the last read (y grows downwards, z away from the
    // user) and the buttons, bit 7 set while pressed: left, right, middle.
    struct MouseState {
        s32 x = 0;
        s32 y = 0;
        s32 z = 0;
        std::array<u8, kMouseButtons> buttons{};
    };

    // A game starts with nothing buffered: keys typed before it (into a
    // menu or a dialog) are not its input.
    void start() override;

    // Auto-repeated presses are the window's to filter out.
    void keyEvent(u8 key, bool pressed);
    void mouseMove(s32 dx, s32 dy);
    void mouseWheel(s32 dz);
    void mouseButton(int index, bool pressed);

    // Up to 256 buffered events, oldest first; 0 after the buffer
    // overflowed, whose events are then dropped.
    u32 readEvents(const KeyEvent*& events);
    MouseState readState();

private:
    std::array<KeyEvent, kBufferedEvents> m_queue{};
    u32 m_head = 0;
    u32 m_count = 0;
    bool m_overflow = false;
    std::array<KeyEvent, kEventsPerRead> m_read{};
    MouseState m_mouse;
};

// Emulated keyboard codes by host key; 0 for keys without one.
extern u8 KeyCodeTable[256];
void initKeyCodeTable();
