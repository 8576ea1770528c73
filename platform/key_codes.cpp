#include "platform/key_codes.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace {

// X11 and Wayland key codes are Linux input codes plus 8.
constexpr u32 kXKeyCodeOffset = 8;
// Linux input codes up to here are the PC set-1 scan codes themselves.
constexpr u32 kLastPlainCode = 88;

u8 extendedFromEvdev(u32 code)
{
    switch (code) {
    case 96: return HostKey::kNumpadEnter;
    case 97: return HostKey::kRControl;
    case 98: return HostKey::kDivide;
    case 100: return HostKey::kRMenu;
    case 102: return HostKey::kHome;
    case 103: return HostKey::kUp;
    case 104: return HostKey::kPrior;
    case 105: return HostKey::kLeft;
    case 106: return HostKey::kRight;
    case 107: return HostKey::kEnd;
    case 108: return HostKey::kDown;
    case 109: return HostKey::kNext;
    case 110: return HostKey::kInsert;
    case 111: return HostKey::kDelete;
    case 119: return HostKey::kPause;
    case 124: return HostKey::kYen;
    default: return 0;
    }
}

}  // namespace

u8 hostKeyFromEvdev(u32 code)
{
    if (code >= 1 && code <= kLastPlainCode && code != 84 && code != 85 && code != 86)
        return static_cast<u8>(code);
    return extendedFromEvdev(code);
}

u8 hostKeyFromQt(int qtKey, bool keypad)
{
    using namespace HostKey;
    if (keypad) {
        switch (qtKey) {
        case Qt::Key_0: case Qt::Key_Insert: return kNumpad0;
        case Qt::Key_1: case Qt::Key_End: return kNumpad1;
        case Qt::Key_2: case Qt::Key_Down: return kNumpad2;
        case Qt::Key_3: case Qt::Key_PageDown: return kNumpad3;
        case Qt::Key_4: case Qt::Key_Left: return kNumpad4;
        case Qt::Key_5: case Qt::Key_Clear: return kNumpad5;
        case Qt::Key_6: case Qt::Key_Right: return kNumpad6;
        case Qt::Key_7: case Qt::Key_Home: return kNumpad7;
        case Qt::Key_8: case Qt::Key_Up: return kNumpad8;
        case Qt::Key_9: case Qt::Key_PageUp: return kNumpad9;
        case Qt::Key_Period: case Qt::Key_Delete: return kDecimal;
        case Qt::Key_Enter: return kNumpadEnter;
        case Qt::Key_Plus: return kAdd;
        case Qt::Key_Minus: return kSubtract;
        case Qt::Key_Asterisk: return kMultiply;
        case Qt::Key_Slash: return kDivide;
        default: break;
        }
    }
    static constexpr u8 kLetters[26] = {kA, kB, kC, kD, kE, kF, kG, kH, kI, kJ, kK, kL, kM,
                                        kN, kO, kP, kQ, kR, kS, kT, kU, kV, kW, kX, kY, kZ};
    static constexpr u8 kDigits[10] = {k0, k1, k2, k3, k4, k5, k6, k7, k8, k9};
    static constexpr u8 kFunctions[12] = {kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kF10, kF11, kF12};
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return kLetters[qtKey - Qt::Key_A];
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return kDigits[qtKey - Qt::Key_0];
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
        return kFunctions[qtKey - Qt::Key_F1];
    switch (qtKey) {
    case Qt::Key_Escape: return kEscape;
    case Qt::Key_Minus: return kMinus;
    case Qt::Key_Equal: return kEquals;
    case Qt::Key_Backspace: return kBack;
    case Qt::Key_Tab: case Qt::Key_Backtab: return kTab;
    case Qt::Key_BracketLeft: return kLBracket;
    case Qt::Key_BracketRight: return kRBracket;
    case Qt::Key_Return: return kReturn;
    case Qt::Key_Enter: return kNumpadEnter;
    case Qt::Key_Control: return kLControl;
    case Qt::Key_Semicolon: return kSemicolon;
    case Qt::Key_Apostrophe: return kApostrophe;
    case Qt::Key_QuoteLeft: return kGrave;
    case Qt::Key_Shift: return kLShift;
    case Qt::Key_Backslash: return kBackslash;
    case Qt::Key_Comma: return kComma;
    case Qt::Key_Period: return kPeriod;
    case Qt::Key_Slash: return kSlash;
    case Qt::Key_Asterisk: return kMultiply;
    case Qt::Key_Alt: return kLMenu;
    case Qt::Key_AltGr: return kRMenu;
    case Qt::Key_Space: return kSpace;
    case Qt::Key_CapsLock: return kCapital;
    case Qt::Key_NumLock: return kNumLock;
    case Qt::Key_ScrollLock: return kScroll;
    case Qt::Key_yen: return kYen;
    case Qt::Key_Pause: return kPause;
    case Qt::Key_Home: return kHome;
    case Qt::Key_Up: return kUp;
    case Qt::Key_PageUp: return kPrior;
    case Qt::Key_Left: return kLeft;
    case Qt::Key_Right: return kRight;
    case Qt::Key_End: return kEnd;
    case Qt::Key_Down: return kDown;
    case Qt::Key_PageDown: return kNext;
    case Qt::Key_Insert: return kInsert;
    case Qt::Key_Delete: return kDelete;
    default: return 0;
    }
}

u8 hostKeyOf(const QKeyEvent& event)
{
    // Synthetic events (tests, other platforms) carry no scan code.
    static const bool x11Codes = QGuiApplication::platformName() == QLatin1String("xcb") ||
                                 QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    const u32 scanCode = event.nativeScanCode();
    if (x11Codes && scanCode > kXKeyCodeOffset) {
        const u8 key = hostKeyFromEvdev(scanCode - kXKeyCodeOffset);
        if (key != 0)
            return key;
    }
    return hostKeyFromQt(event.key(), event.modifiers().testFlag(Qt::KeypadModifier));
}
