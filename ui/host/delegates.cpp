#include "ui/host/delegates.h"

namespace {

// Button order: Right, Left, Down, Up, Start, A, C, B, then R, X, Y, Z, L,
// so the index is the bit position counted from the top of the two bytes.
constexpr u8 kButtonCodes[PadButtons::kButtons] = {
    PadKey::kRight, PadKey::kLeft, PadKey::kDown, PadKey::kUp, PadKey::kStart, PadKey::kA, PadKey::kC,
    PadKey::kB,     PadKey::kR,    PadKey::kX,    PadKey::kY,  PadKey::kZ,     PadKey::kL,
};
bool isMd3Key(u8 code)
{
    for (u32 i = 0; i < 8; ++i) {
        if (kButtonCodes[i] == code)
            return true;
    }
    return false;
}

// Host keys of the joystick's axes.
constexpr u8 kArrowLeft = 0x86;
constexpr u8 kArrowRight = 0x8D;
constexpr u8 kArrowUp = 0x89;
constexpr u8 kArrowDown = 0x8A;
constexpr u8 kPageUp = 0x8B;
constexpr u8 kPageDown = 0x8C;

}  // namespace

bool PadButtons::apply(u8 code, bool isReleased)
{
    for (u32 i = 0; i < kButtons; ++i) {
        if (kButtonCodes[i] == code) {
            m_state[i] = isReleased ? 1 : 0;
            return true;
        }
    }
    return false;
}

bool PadButtons::released(u8 code) const
{
    for (u32 i = 0; i < kButtons; ++i) {
        if (kButtonCodes[i] == code)
            return m_state[i] != 0;
    }
    return true;
}

u8 PadButtons::firstByte() const
{
    u8 byte = 0;
    for (u32 i = 0; i < 8; ++i)
        byte = static_cast<u8>(byte << 1 | m_state[i]);
    return byte;
}

u8 PadButtons::secondByte() const
{
    u8 byte = 0;
    for (u32 i = 8; i < kButtons; ++i)
        byte = static_cast<u8>(byte << 1 | m_state[i]);
    return static_cast<u8>(byte << 3);
}

PadDelegate::PadDelegate(CDInput8* input) : Pad("Saturn Standard PAD"), m_input(input)
{
    initKeyCodeTable();
    getData()[0] = 0xFF;
    getData()[1] = 0xFF;
}

void PadDelegate::poll()
{
    readKeys(m_input, [this](u8 code, bool released) { m_buttons.apply(code, released); });
    getData()[0] = m_buttons.firstByte();
    getData()[1] = m_buttons.secondByte() | 0x07;
}

MDPad3BDelegate::MDPad3BDelegate(CDInput8* input) : MDPad3B("Mega Drive 3-Buttton PAD"), m_input(input)
{
    initKeyCodeTable();
    getData()[0] = 0xFF;
}

void MDPad3BDelegate::poll()
{
    readKeys(m_input, [this](u8 code, bool released) {
        if (isMd3Key(code))
            m_buttons.apply(code, released);
    });
    getData()[0] = m_buttons.firstByte();
}

MDPad6BDelegate::MDPad6BDelegate(CDInput8* input) : MDPad6B("Mega Drive 6-Buttton PAD"), m_input(input)
{
    initKeyCodeTable();
    getData()[0] = 0xFF;
    getData()[1] = 0xFF;
}

void MDPad6BDelegate::poll()
{
    // P (R) is not a button of this pad.
    readKeys(m_input, [this](u8 code, bool released) {
        if (code != PadKey::kR)
            m_buttons.apply(code, released);
    });
    getData()[0] = m_buttons.firstByte();
    getData()[1] = static_cast<u8>(m_buttons.released(PadKey::kL) << 7 | m_buttons.released(PadKey::kX) << 6 |
                                   m_buttons.released(PadKey::kY) << 5 | m_buttons.released(PadKey::kZ) << 4 | 0x0F);
}

JoystickDelegate::JoystickDelegate(CDInput8* input) : Joystick("Saturn Analog Joystick"), m_input(input)
{
    initKeyCodeTable();
    u8* data = getData();
    data[0] = data[1] = 0xFF;
    data[2] = data[3] = data[4] = kCentre;
}

void JoystickDelegate::poll()
{
    readKeys(m_input, [this](u8 code, bool released) {
        m_buttons.apply(code, released);
        const auto set = [&](u32 axis, u8 end) { m_axes[axis] = released ? kCentre : end; };
        switch (code) {
        case kArrowLeft: set(0, 0); break;
        case kArrowRight: set(0, 255); break;
        case kArrowUp: set(1, 0); break;
        case kArrowDown: set(1, 255); break;
        case kPageUp: set(2, 0); break;
        case kPageDown: set(2, 255); break;
        default: break;
        }
    });
    u8* data = getData();
    data[0] = m_buttons.firstByte();
    data[1] = m_buttons.secondByte() | 0x07;
    data[2] = m_axes[0];
    data[3] = m_axes[1];
    data[4] = m_axes[2];
}

KeyboardDelegate::KeyboardDelegate(CDInput8* input) : Keyboard("Keyboard"), m_input(input)
{
    initKeyCodeTable();
    u8* data = getData();
    data[0] = data[1] = 0xFF;
    data[2] = 0x06;
}

void KeyboardDelegate::poll()
{
    lastEvent = kNoEvent;
    keyEvent = 0;
    lastKey = 0;
    readKeys(m_input, [this](u8 code, bool released) {
        m_buttons.apply(code, released);
        // A key without an emulated code has nothing to report.
        if (code == 0)
            return;
        if (m_pending.size() == kPendingEvents)
            m_pending.pop_front();
        m_pending.push_back({released ? kBreak : kMake, code});
    });
    u8* data = getData();
    data[0] = m_buttons.firstByte();
    data[1] = m_buttons.secondByte() | status;
    data[2] = 0x06;
    data[3] = 0;
    if (m_pending.empty())
        return;
    const Pending event = m_pending.front();
    m_pending.pop_front();
    lastEvent = event.kind;
    keyEvent = 1;
    lastKey = event.code;
    // Make is bit 3, break bit 0; bits 2 and 1 are always set.
    data[2] = event.kind == kMake ? 0x0E : 0x07;
    data[3] = event.code;
}

MouseDelegate::MouseDelegate(CDInput8* input) : Mouse("Shuttle Mouse"), m_input(input) {}

void MouseDelegate::poll()
{
    if (!m_input)
        return;
    const CDInput8::MouseState s = m_input->readState();
    const auto& b = s.buttons;
    logDebug(2, "X: %08X, Y: %08X, Z: %08X, B0: %02X, B1: %02X, B2: %02X, B3: %02X, B4: %02X, B5: %02X, B6: %02X, "
                "B7: %02X", static_cast<u32>(s.x), static_cast<u32>(-s.y), static_cast<u32>(s.z), b[0], b[1], b[2],
             b[3], b[4], b[5], b[6], b[7]);
    const s32 dx = s.x;
    const s32 dy = -s.y;  // up is positive
    const auto overflow = [](s32 d) { return d < -256 || d > 255; };
    const auto pressed = [&](u32 i) { return (b[i] & CDInput8::kPressed) != 0; };
    // Bits 7-0: Y overflow, X overflow, Y sign, X sign, wheel towards the
    // user, middle, right, left.
    u8* data = getData();
    data[0] = static_cast<u8>(overflow(dy) << 7 | overflow(dx) << 6 | (dy < 0) << 5 | (dx < 0) << 4 | (s.z < 0) << 3 |
                              pressed(2) << 2 | pressed(1) << 1 | pressed(0));
    data[1] = static_cast<u8>(dx);
    data[2] = static_cast<u8>(dy);
}

std::shared_ptr<Peripheral> KestDelegate::createKeyboard() { return std::make_shared<KeyboardDelegate>(m_input); }
std::shared_ptr<Peripheral> KestDelegate::createMouse() { return std::make_shared<MouseDelegate>(m_input); }
std::shared_ptr<Peripheral> KestDelegate::createMDPad3B() { return std::make_shared<MDPad3BDelegate>(m_input); }
std::shared_ptr<Peripheral> KestDelegate::createMDPad6B() { return std::make_shared<MDPad6BDelegate>(m_input); }
std::shared_ptr<Peripheral> KestDelegate::createPad() { return std::make_shared<PadDelegate>(m_input); }
std::shared_ptr<Peripheral> KestDelegate::createJoystick() { return std::make_shared<JoystickDelegate>(m_input); }
