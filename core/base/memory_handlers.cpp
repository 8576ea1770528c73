#include "core/base/memory_handlers.h"

#include "core/base/cpu.h"

AccessHandlers loggedRegisterHandlers(Object* owner)
{
    return unmappedHandlers(owner);
}
