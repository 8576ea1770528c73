#include "board/smpc/smpc.h"

#include <cstring>

#include "core/placeholder.h"

SMPC::SMPC(CMachine* machine) : Device("SMPC"), m_machine(machine) {}

AccessHandlers SMPC::getAccessHandlers(int area)
{
    return area == 0 ? loggedRegisterHandlers(this) : AccessHandlers{};
}

bool SMPC::readExternalInput(void* out, int kind)
{
    if (kind != 0 || !out)
        return false;
    std::memset(out, 0, 2 * sizeof(u16));
    return true;
}
