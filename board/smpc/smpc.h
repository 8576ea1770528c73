#pragma once

#include "core/device.h"

class CMachine;

// Placeholder awaiting the SMPC issue: its registers are logged and read 0;
// it runs no command and reads no controller.
class SMPC : public Device {
public:
    explicit SMPC(CMachine* machine);

    AccessHandlers getAccessHandlers(int area) override;
    // The system manager has no CD audio: silence.
    bool readExternalInput(void* out, int kind) override;

    void onVBlankIn() {}
    void onVBlankOut() {}
    void onHBlankOut(int) {}

private:
    CMachine* m_machine;
};
