#pragma once

#include "core/device.h"

class CMachine;
class M68K;
class SCU;

// Placeholder awaiting the sound chip issue: sound RAM is served as memory,
// the registers are logged and read 0, and no sample is made.
class SCSP : public Device {
public:
    static constexpr u32 kSoundRamSize = 0x80000;

    enum Area : int { kRegisters = 0, kSoundRam = 1 };

    SCSP(CMachine* machine, u8* soundRam, M68K* m68k, SCU* scu, Device* cdAudio);

    AccessHandlers getAccessHandlers(int area) override;

private:
    CMachine* m_machine;
    u8* m_soundRam;
    M68K* m_m68k;
    SCU* m_scu;
    Device* m_cdAudio;
};
