#pragma once

#include <array>
#include <string>

#include "core/base/device.h"
#include "core/base/write_back.h"

// A three-wire (Microwire) serial EEPROM of 64 sixteen-bit words, in the
// command set of the 93C46 family: a start bit, two opcode bits and six
// address bits, then the data of a write.
class EEPROM : public Device {
public:
    static constexpr u32 kWords = 64;
    static constexpr u32 kBytes = kWords * 2;

    // DO when the chip is not driving the line; the SMPC reads it as all ones.
    static constexpr u32 kNotDriving = 2;

    explicit EEPROM(std::string name);

    // The storage is non-volatile: a reset clears only the write enable.
    void reset() override;

    void setCS(u32 bit);
    void setSK(u32 bit);
    void setDI(u32 bit);
    // 0, 1 or kNotDriving.
    u32 getDO() const;

    // Words are held high byte first, as the save file keeps them.
    u8* data() { return m_storage.data(); }
    u32 size() const { return kBytes; }

    u16 word(u32 address) const;

    // True once a write has changed the storage and a whole field has
    // passed without another; called once per field.
    bool pollWriteBack() { return m_writeBack.poll(); }
    // Written since its file last was.
    bool unsaved() const { return m_writeBack.unsaved(); }
    // The storage matches its file.
    void settle() { m_writeBack.settle(); }

private:
    enum State : u8 { kCommand, kRead, kWrite, kErase, kWriteAll, kEraseAll, kEnable, kDisable };
    enum Edge : u8 { kNoEdge, kRising, kFalling };

    static Edge edgeOf(u32 oldBit, u32 newBit);
    void setWord(u32 address, u16 value);
    void decode();
    void shiftData(u32 bit);

    std::array<u8, kBytes> m_storage;
    u32 m_writeEnable = 0;
    u32 m_chipSelect = 0;
    u32 m_clock = 0;
    Edge m_clockEdge = kNoEdge;
    u32 m_dataOut = kNotDriving;
    u32 m_command = 0;
    u32 m_address = 0;
    u32 m_data = 0;
    u32 m_bitCount = 0;
    u32 m_bitsLeft = 0;
    State m_state = kCommand;
    WriteBack m_writeBack;
};

// The arcade board's settings chip.
class AK93C45AF : public EEPROM {
public:
    AK93C45AF() : EEPROM("EEPROM") {}
};

// The board's one chip; it lives for the whole run of the program, so its
// contents survive from one arcade boot to the next.
AK93C45AF& boardEeprom();
