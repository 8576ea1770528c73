#include "core/emulator/media.h"

#include "core/machine/machine.h"

bool CMedia::init(void*)
{
    return true;
}

void CMedia::start()
{
    m_opened = 1;
    m_running = 0;
}

void CMedia::stop()
{
    m_opened = 0;
    m_running = 0;
}

bool CMedia::resume()
{
    if (!m_opened || m_running)
        return false;
    m_running = 1;
    return true;
}

bool CMedia::pause()
{
    if (!m_opened || !m_running)
        return false;
    m_running = 0;
    return true;
}

bool CMedia::update()
{
    return m_opened && m_running;
}

bool CEmuX::update()
{
    if (!CMedia::update())
        return false;
    if (m_machine)
        m_machine->runFrame();
    return true;
}

std::string CEmuX::getInfo(int)
{
    return "v0.0.0";
}
