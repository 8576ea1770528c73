#pragma once

#include "board/cart/eeprom.h"

// Writes a word of the EEPROM as a game does, through its serial port (a
// data bit counts as the clock rises): write enable, then the write.
inline void writeEepromWord(EEPROM& chip, u32 address, u16 value)
{
    const auto instruction = [&](u32 bits, int count) {
        chip.setCS(0), chip.setSK(0), chip.setCS(1);
        for (int i = count - 1; i >= 0; --i)
            chip.setSK(0), chip.setSK(1), chip.setDI((bits >> i) & 1);
        chip.setCS(0);
    };
    instruction(0b100110000, 9);
    instruction((0b101000000u | (address & 0x3F)) << 16 | value, 25);
}
