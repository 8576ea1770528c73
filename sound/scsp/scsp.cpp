#include "sound/scsp/scsp.h"

#include "core/placeholder.h"

SCSP::SCSP(CMachine* machine, u8* soundRam, M68K* m68k, SCU* scu, Device* cdAudio)
    : Device("SCSP"), m_machine(machine), m_soundRam(soundRam), m_m68k(m68k), m_scu(scu), m_cdAudio(cdAudio)
{
}

AccessHandlers SCSP::getAccessHandlers(int area)
{
    switch (area) {
    case kRegisters:
        return loggedRegisterHandlers(this);
    case kSoundRam:
        return MemoryHandlers<kSoundRamSize - 1>::of(m_soundRam);
    default:
        return {};
    }
}
