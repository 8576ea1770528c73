#pragma once

#include <string_view>

#include "core/base/types.h"

// The buttons of the host pad word (hostPadState), one row each: the key the
// window reads for it, the name kest-headless's --press takes, and where the
// arcade board's I/O ports show it. The window, the headless driver and the
// arcade I/O area all read this table.
struct HostPadButton {
    const char* name;        // press name, the standard pad's button
    const char* arcadeName;  // a second press name for an arcade-only input, or null
    char key;                // the window's key: a capital letter (Qt's code of that key)
    u8 byte;                 // hostPadState byte, active low
    u8 bit;
    u8 arcadePort;           // low address byte of the arcade I/O port that shows it
    u8 arcadeBit;            // its bit there, active low
    const char* arcadeInput; // what the arcade board's input is
};

// Low address bytes of the arcade I/O area's input ports; port 3 repeats
// port 1.
constexpr u8 kArcadePlayerPort = 1;
constexpr u8 kArcadeSystemPort = 5;

inline constexpr HostPadButton kHostPadButtons[] = {
    {"right", nullptr, 'D', 0, 7, kArcadePlayerPort, 6, "player 1 right"},
    {"left", nullptr, 'A', 0, 6, kArcadePlayerPort, 7, "player 1 left"},
    {"down", nullptr, 'S', 0, 5, kArcadePlayerPort, 4, "player 1 down"},
    {"up", nullptr, 'W', 0, 4, kArcadePlayerPort, 5, "player 1 up"},
    {"start", nullptr, 'H', 0, 3, kArcadeSystemPort, 4, "start"},
    {"a", nullptr, 'J', 0, 2, kArcadePlayerPort, 0, "player 1 button 1"},
    {"c", nullptr, 'L', 0, 1, kArcadePlayerPort, 2, "player 1 button 3"},
    {"b", nullptr, 'K', 0, 0, kArcadePlayerPort, 1, "player 1 button 2"},
    {"r", nullptr, 'P', 1, 7, kArcadeSystemPort, 6, "system bit 6"},
    {"x", nullptr, 'U', 1, 6, kArcadePlayerPort, 3, "player 1 button 4"},
    {"y", "test", 'I', 1, 5, kArcadeSystemPort, 2, "test"},
    {"z", "service", 'O', 1, 4, kArcadeSystemPort, 3, "service"},
    {"l", "coin", 'Y', 1, 3, kArcadeSystemPort, 0, "coin"},
};

// The row a press name (pad or arcade) names; null when none does.
const HostPadButton* findHostPadButton(std::string_view name);
// The row of the window's key; null when the key is no button.
const HostPadButton* hostPadButtonOfKey(int key);
// Presses or lets go of a button in hostPadState.
void setHostPadButton(const HostPadButton& button, bool pressed);
// An arcade input port's byte from hostPadState: the buttons it shows,
// active low, and 1 in every other bit.
u8 arcadeInputPort(u8 port);
