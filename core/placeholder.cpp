#include "core/placeholder.h"

#include "core/cpu.h"

AccessHandlers loggedRegisterHandlers(Object* owner)
{
    return unmappedHandlers(owner);
}
