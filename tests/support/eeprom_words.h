#pragma once

#include "board/cart/eeprom.h"

// One instruction into the chip as the SMPC's port writes clock it: chip
// select, then each bit taken on a rising clock, first bit first.
inline void clockIn(EEPROM& chip, u32 bits, int count)
{
    chip.setCS(0);
    for (int i = count - 1; i >= 0; --i) {
        const u32 bit = (bits >> i) & 1;
        chip.setCS(1), chip.setSK(0), chip.setDI(bit);
        chip.setCS(1), chip.setSK(1), chip.setDI(bit);
    }
}

// A word written as a game writes it: writes enabled, then WRITE.
inline void writeWord(EEPROM& chip, u32 address, u16 value)
{
    clockIn(chip, 0b100110000, 9);  // EWEN
    clockIn(chip, (0b101u << 6 | address) << 16 | value, 25);
}
