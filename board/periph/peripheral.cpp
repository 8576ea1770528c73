#include "board/periph/peripheral.h"

Controller::Controller(std::string name, u8 kind, u32 type, u32 size)
    : Peripheral(std::move(name), kind), m_type(type & 0xF), m_size(size & 0xF)
{
    setLayout(static_cast<u8>(m_type << 4 | m_size), m_size);
}
