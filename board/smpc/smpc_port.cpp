#include "board/smpc/smpc.h"

bool SMPC::Port::attach(std::shared_ptr<Peripheral> peripheral)
{
    if (!peripheral)
        return false;
    switch (peripheral->getKind()) {
    case 'A':
    case 'E':
    case 'G':
    case 'J':
    case 'K':
    case 'M':
    case 'Q':
    case 'S':
        m_peripheral = std::move(peripheral);
        status = kDirect;
        return true;
    case 'T':
        m_peripheral.reset();
        status = kMultitap;
        logError(1, "Multitap not implemented");
        return false;
    default:
        m_peripheral.reset();
        status = kEmpty;
        return false;
    }
}

void SMPC::Port::detach()
{
    m_peripheral.reset();
    status = kEmpty;
}

void SMPC::Port::poll()
{
    if (m_peripheral)
        m_peripheral->poll();
}

u8 SMPC::Port::readId() const
{
    return m_peripheral ? m_peripheral->getId() : 0xFF;
}

const u8* SMPC::Port::readData(u32& count) const
{
    if (!m_peripheral)
        return nullptr;
    count = m_peripheral->getDataSize();
    return m_peripheral->getData();
}
