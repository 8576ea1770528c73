#include "board/periph/peripheral.h"

#include <algorithm>

Controller::Controller(std::string name, u8 kind, u32 type, u32 size)
    : Peripheral(std::move(name), kind), m_type(type & 0xF), m_size(size & 0xF)
{
    setLayout(static_cast<u8>(m_type << 4 | m_size), m_size);
}

void Controller::release()
{
    static constexpr u8 kMouseId = kMegaDriveDevice << 4 | 3;
    static constexpr u8 kKeyboardId = kKeyboardDevice << 4 | 4;
    static constexpr u8 kAnalogId = kAnalogDevice << 4 | 5;
    static constexpr u8 kAxisCentre = 0x80;
    u8* d = getData();
    // Buttons are active low everywhere but on the mouse.
    std::fill_n(d, getDataSize(), u8{0xFF});
    switch (getId()) {
    case kMouseId: std::fill_n(d, getDataSize(), u8{0}); break;
    case kKeyboardId: d[2] = d[3] = 0; break;
    case kAnalogId: d[2] = d[3] = d[4] = kAxisCentre; break;
    default: break;
    }
}
