#include "board/cart/eeprom.h"

namespace {

// Bits clocked in by the end of a write: start bit, 8 command bits, 16 data bits.
constexpr u32 kCommandBits = 9;
constexpr u32 kWriteBits = 25;
constexpr u32 kDataBits = 16;
constexpr u16 kErased = 0xFFFF;

}  // namespace

EEPROM::EEPROM(std::string name) : Device(std::move(name))
{
    m_storage.fill(0xFF);
}

void EEPROM::reset()
{
    m_writeEnable = 0;
}

EEPROM::Edge EEPROM::edgeOf(u32 oldBit, u32 newBit)
{
    if (oldBit == newBit)
        return kNoEdge;
    return newBit ? kRising : kFalling;
}

u16 EEPROM::word(u32 address) const
{
    u32 offset = (address & (kWords - 1)) * 2;
    return static_cast<u16>(m_storage[offset] << 8 | m_storage[offset + 1]);
}

void EEPROM::setWord(u32 address, u16 value)
{
    u32 offset = (address & (kWords - 1)) * 2;
    m_storage[offset] = static_cast<u8>(value >> 8);
    m_storage[offset + 1] = static_cast<u8>(value);
    m_writeBack.touch();
}

void EEPROM::setCS(u32 bit)
{
    bit &= 1;
    Edge edge = edgeOf(m_chipSelect, bit);
    m_chipSelect = bit;
    if (edge != kRising)
        return;
    m_dataOut = kNotDriving;
    m_command = 0;
    m_address = 0;
    m_data = 0;
    m_bitCount = 0;
    m_bitsLeft = 0;
    m_state = kCommand;
    logInfo(2, "Chip select");
}

void EEPROM::setSK(u32 bit)
{
    bit &= 1;
    logInfo(2, "setSK [b: %d]", static_cast<int>(bit));
    m_clockEdge = edgeOf(m_clock, bit);
    m_clock = bit;
    if (m_clockEdge != kFalling || m_state != kRead)
        return;
    if (m_bitsLeft == 0) {
        m_dataOut = kNotDriving;
        return;
    }
    m_dataOut = (m_data >> 15) & 1;
    m_data = (m_data << 1) & 0xFFFF;
    --m_bitsLeft;
}

// A data-in bit counts only on the port write that raises the clock.
void EEPROM::setDI(u32 bit)
{
    if (!m_chipSelect || m_clockEdge != kRising)
        return;
    bit &= 1;
    logDebug(2, "setDI [b: %d]", static_cast<int>(bit));

    if (m_bitCount == 0) {
        if (bit) {
            m_bitCount = 1;
            m_dataOut = kNotDriving;
        }
        return;
    }
    switch (m_state) {
    case kRead:
        // The data goes out on falling clock edges; nothing more comes in.
        ++m_bitCount;
        break;
    case kWrite:
    case kWriteAll:
        shiftData(bit);
        break;
    default:
        m_command = ((m_command << 1) | bit) & 0xFF;
        ++m_bitCount;
        if (m_bitCount == kCommandBits)
            decode();
        break;
    }
}

void EEPROM::decode()
{
    m_address = m_command & (kWords - 1);
    switch (m_command >> 6) {
    case 2:
        m_state = kRead;
        m_data = word(m_address);
        m_bitsLeft = kDataBits;
        // The 93C46 answers the last address bit with a dummy 0 ahead of D15.
        m_dataOut = 0;
        logWarning(2, "READ [A: %02X, D: %04X]", m_address, m_data);
        break;
    case 1:
        m_state = kWrite;
        break;
    case 3:
        // Erased cells read as ones, as in a fresh chip.
        m_state = kErase;
        if (m_writeEnable)
            setWord(m_address, kErased);
        logWarning(2, "ERASE [A: %02X, EWEN: %d]", m_address, static_cast<int>(m_writeEnable));
        break;
    default:
        switch ((m_command >> 4) & 3) {
        case 3:
            m_state = kEnable;
            m_writeEnable = 1;
            logDebug(1, "EWEN");
            break;
        case 0:
            m_state = kDisable;
            m_writeEnable = 0;
            logDebug(1, "EWDS");
            break;
        case 2:
            m_state = kEraseAll;
            if (m_writeEnable) {
                m_storage.fill(0xFF);
                m_writeBack.touch();
            }
            logWarning(1, "ERAL [EWEN: %d]", static_cast<int>(m_writeEnable));
            break;
        default:
            m_state = kWriteAll;
            break;
        }
        break;
    }
}

void EEPROM::shiftData(u32 bit)
{
    m_data = ((m_data << 1) | bit) & 0xFFFF;
    if (++m_bitCount != kWriteBits)
        return;
    u16 value = static_cast<u16>(m_data);
    if (m_state == kWrite) {
        if (m_writeEnable)
            setWord(m_address, value);
        m_dataOut = 1;  // ready
        logWarning(2, "WRITE [A: %02X, D: %04X, EWEN: %d]", m_address, value, static_cast<int>(m_writeEnable));
    } else {
        if (m_writeEnable) {
            for (u32 address = 0; address < kWords; ++address)
                setWord(address, value);
        }
        logWarning(1, "WRAL [DATA: %04X, EWEN: %d]", value, static_cast<int>(m_writeEnable));
    }
    m_bitCount = 0;
}

u32 EEPROM::getDO() const
{
    logError(2, "getDO");
    return m_dataOut;
}

AK93C45AF& boardEeprom()
{
    static AK93C45AF chip;
    return chip;
}
