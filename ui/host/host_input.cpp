#include "ui/host/host_input.h"

#include "platform/key_codes.h"

u8 KeyCodeTable[256];

void CDInput8::start()
{
    CInput::start();
    m_head = 0;
    m_count = 0;
    m_overflow = false;
    m_mouse = MouseState{};
}

void CDInput8::keyEvent(u8 key, bool pressed)
{
    if (m_count == kBufferedEvents) {
        m_overflow = true;
        return;
    }
    m_queue[(m_head + m_count) % kBufferedEvents] = {key, pressed ? kPressed : u8{0}};
    ++m_count;
}

void CDInput8::mouseMove(s32 dx, s32 dy)
{
    m_mouse.x += dx;
    m_mouse.y += dy;
}

void CDInput8::mouseWheel(s32 dz)
{
    m_mouse.z += dz;
}

void CDInput8::mouseButton(int index, bool pressed)
{
    if (index >= 0 && index < kMouseButtons)
        m_mouse.buttons[static_cast<u32>(index)] = pressed ? kPressed : 0;
}

u32 CDInput8::readEvents(const KeyEvent*& events)
{
    events = m_read.data();
    if (m_overflow) {
        m_overflow = false;
        m_head = 0;
        m_count = 0;
        return 0;
    }
    const u32 n = m_count < kEventsPerRead ? m_count : kEventsPerRead;
    for (u32 i = 0; i < n; ++i)
        m_read[i] = m_queue[(m_head + i) % kBufferedEvents];
    m_head = (m_head + n) % kBufferedEvents;
    m_count -= n;
    return n;
}

CDInput8::MouseState CDInput8::readState()
{
    MouseState state = m_mouse;
    m_mouse.x = m_mouse.y = m_mouse.z = 0;
    return state;
}

void initKeyCodeTable()
{
    using namespace HostKey;
    static constexpr struct { u8 key; u8 code; } kCodes[] = {
        {kEscape, 0x76}, {k1, 0x16}, {k2, 0x1E}, {k3, 0x26}, {k4, 0x25}, {k5, 0x2E}, {k6, 0x36}, {k7, 0x3D},
        {k8, 0x3E}, {k9, 0x46}, {k0, 0x45}, {kMinus, 0x4E}, {kEquals, 0x55}, {kBack, 0x66}, {kTab, 0x0D},
        {kQ, 0x15}, {kW, 0x1D}, {kE, 0x24}, {kR, 0x2D}, {kT, 0x2C}, {kY, 0x35}, {kU, 0x3C}, {kI, 0x43},
        {kO, 0x44}, {kP, 0x4D}, {kLBracket, 0x54}, {kRBracket, 0x5B}, {kReturn, 0x5A}, {kLControl, 0x14},
        {kA, 0x1C}, {kS, 0x1B}, {kD, 0x23}, {kF, 0x28}, {kG, 0x34}, {kH, 0x33}, {kJ, 0x3B}, {kK, 0x42},
        {kL, 0x4B}, {kSemicolon, 0x4C}, {kApostrophe, 0x52}, {kGrave, 0x0E}, {kLShift, 0x12},
        {kBackslash, 0x5D}, {kZ, 0x1A}, {kX, 0x22}, {kC, 0x21}, {kV, 0x2A}, {kB, 0x32}, {kN, 0x31}, {kM, 0x3A},
        {kComma, 0x41}, {kPeriod, 0x49}, {kSlash, 0x4A}, {kRShift, 0x59}, {kMultiply, 0x7C}, {kLMenu, 0x17},
        {kSpace, 0x29}, {kCapital, 0x58}, {kF1, 0x05}, {kF2, 0x06}, {kF3, 0x04}, {kF4, 0x0C}, {kF5, 0x03},
        {kF6, 0x0B}, {kF7, 0x83}, {kF8, 0x0A}, {kF9, 0x01}, {kF10, 0x09}, {kNumLock, 0x77}, {kScroll, 0x7E},
        {kNumpad7, 0x6C}, {kNumpad8, 0x75}, {kNumpad9, 0x7D}, {kSubtract, 0x7B}, {kNumpad4, 0x6B},
        {kNumpad5, 0x73}, {kNumpad6, 0x74}, {kAdd, 0x79}, {kNumpad1, 0x69}, {kNumpad2, 0x72}, {kNumpad3, 0x7A},
        {kNumpad0, 0x70}, {kDecimal, 0x71}, {kF11, 0x78}, {kF12, 0x07}, {kYen, 0x6A}, {kNumpadEnter, 0x5A},
        {kRControl, 0x18}, {kRMenu, 0x17}, {kPause, 0x82}, {kHome, 0x87}, {kUp, 0x89}, {kPrior, 0x8B},
        {kLeft, 0x86}, {kRight, 0x8D}, {kEnd, 0x88}, {kDown, 0x8A}, {kNext, 0x8C}, {kInsert, 0x81},
        {kDelete, 0x85},
    };
    static_assert(sizeof kCodes / sizeof kCodes[0] == 100);
    for (u8& code : KeyCodeTable)
        code = 0;
    for (const auto& entry : kCodes)
        KeyCodeTable[entry.key] = entry.code;
}
