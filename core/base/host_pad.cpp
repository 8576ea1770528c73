#include "core/base/host_pad.h"

#include "core/base/shared_state.h"

const HostPadButton* findHostPadButton(std::string_view name)
{
    for (const HostPadButton& button : kHostPadButtons) {
        if (name == button.name || (button.arcadeName && name == button.arcadeName))
            return &button;
    }
    return nullptr;
}

const HostPadButton* hostPadButtonOfKey(int key)
{
    for (const HostPadButton& button : kHostPadButtons) {
        if (key == button.key)
            return &button;
    }
    return nullptr;
}

void setHostPadButton(const HostPadButton& button, bool pressed)
{
    const u8 mask = static_cast<u8>(1u << button.bit);
    u8& byte = hostPadState[button.byte];
    byte = pressed ? static_cast<u8>(byte & ~mask) : static_cast<u8>(byte | mask);
}

u8 arcadeInputPort(u8 port)
{
    u8 value = 0xFF;
    for (const HostPadButton& button : kHostPadButtons) {
        if (button.arcadePort == port && !((hostPadState[button.byte] >> button.bit) & 1))
            value = static_cast<u8>(value & ~(1u << button.arcadeBit));
    }
    return value;
}
