#include "tools/headless_press.h"

#include <cstdio>

#include "core/base/host_pad.h"
#include "core/base/shared_state.h"

namespace {

u16 heldBit(const HostPadButton& button)
{
    return static_cast<u16>(1u << (button.bit + (button.byte == 0 ? 8 : 0)));
}

}  // namespace

u16 pressBit(const std::string& name)
{
    const HostPadButton* button = findHostPadButton(name);
    return button ? heldBit(*button) : 0;
}

std::string pressNames()
{
    std::string names;
    for (const HostPadButton& button : kHostPadButtons)
        names += std::string(names.empty() ? "" : " ") + button.name;
    for (const HostPadButton& button : kHostPadButtons) {
        if (button.arcadeName)
            names += std::string(" ") + button.arcadeName;
    }
    return names;
}

std::string pressHelp()
{
    std::string text = "                           name        key  arcade board input\n";
    for (const HostPadButton& button : kHostPadButtons) {
        std::string name = button.name;
        if (button.arcadeName)
            name += std::string(" ") + button.arcadeName;
        char line[128];
        std::snprintf(line, sizeof line, "                           %-11s %c    %s\n", name.c_str(), button.key,
                      button.arcadeInput);
        text += line;
    }
    return text;
}

void holdHostPad(u16 held)
{
    for (const HostPadButton& button : kHostPadButtons)
        setHostPadButton(button, (held & heldBit(button)) != 0);
}
