#pragma once

#include "core/base/types.h"

class QKeyEvent;

// Host keys by PC set-1 scan code, extended keys with bit 7 set: the key
// numbering the input delegates' code table is indexed by.
namespace HostKey {
enum : u8 {
    kEscape = 0x01, k1 = 0x02, k2 = 0x03, k3 = 0x04, k4 = 0x05, k5 = 0x06, k6 = 0x07, k7 = 0x08, k8 = 0x09,
    k9 = 0x0A, k0 = 0x0B, kMinus = 0x0C, kEquals = 0x0D, kBack = 0x0E, kTab = 0x0F,
    kQ = 0x10, kW = 0x11, kE = 0x12, kR = 0x13, kT = 0x14, kY = 0x15, kU = 0x16, kI = 0x17, kO = 0x18, kP = 0x19,
    kLBracket = 0x1A, kRBracket = 0x1B, kReturn = 0x1C, kLControl = 0x1D,
    kA = 0x1E, kS = 0x1F, kD = 0x20, kF = 0x21, kG = 0x22, kH = 0x23, kJ = 0x24, kK = 0x25, kL = 0x26,
    kSemicolon = 0x27, kApostrophe = 0x28, kGrave = 0x29, kLShift = 0x2A, kBackslash = 0x2B,
    kZ = 0x2C, kX = 0x2D, kC = 0x2E, kV = 0x2F, kB = 0x30, kN = 0x31, kM = 0x32,
    kComma = 0x33, kPeriod = 0x34, kSlash = 0x35, kRShift = 0x36, kMultiply = 0x37, kLMenu = 0x38, kSpace = 0x39,
    kCapital = 0x3A, kF1 = 0x3B, kF2 = 0x3C, kF3 = 0x3D, kF4 = 0x3E, kF5 = 0x3F, kF6 = 0x40, kF7 = 0x41,
    kF8 = 0x42, kF9 = 0x43, kF10 = 0x44, kNumLock = 0x45, kScroll = 0x46,
    kNumpad7 = 0x47, kNumpad8 = 0x48, kNumpad9 = 0x49, kSubtract = 0x4A, kNumpad4 = 0x4B, kNumpad5 = 0x4C,
    kNumpad6 = 0x4D, kAdd = 0x4E, kNumpad1 = 0x4F, kNumpad2 = 0x50, kNumpad3 = 0x51, kNumpad0 = 0x52,
    kDecimal = 0x53, kF11 = 0x57, kF12 = 0x58, kYen = 0x7D,
    kNumpadEnter = 0x9C, kRControl = 0x9D, kDivide = 0xB5, kRMenu = 0xB8, kPause = 0xC5, kHome = 0xC7,
    kUp = 0xC8, kPrior = 0xC9, kLeft = 0xCB, kRight = 0xCD, kEnd = 0xCF, kDown = 0xD0, kNext = 0xD1,
    kInsert = 0xD2, kDelete = 0xD3,
};
}

// The host key of a Linux input event code (an X11 or Wayland key code
// less 8); 0 for keys without one.
u8 hostKeyFromEvdev(u32 code);
// The host key of a Qt key code, for platforms without native scan codes.
u8 hostKeyFromQt(int qtKey, bool keypad);
// The host key of a key event: its native scan code where the platform
// gives X11-style key codes, else its Qt key code.
u8 hostKeyOf(const QKeyEvent& event);
