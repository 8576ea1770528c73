#include "core/placeholder.h"

namespace {

const Object& who(void* owner) { return *static_cast<Object*>(owner); }

u8 rb(void* o, CPU*, u32 a)
{
    who(o).logWarning(1, "Bad RB [A: %08X]", a);
    return 0;
}
u16 rw(void* o, CPU*, u32 a)
{
    who(o).logWarning(1, "Bad RW [A: %08X]", a);
    return 0;
}
u32 rl(void* o, CPU*, u32 a)
{
    who(o).logWarning(1, "Bad RL [A: %08X]", a);
    return 0;
}
void wb(void* o, CPU*, u32 a, u8 d) { who(o).logWarning(1, "Bad WB [A: %08X, D: %02X]", a, d); }
void ww(void* o, CPU*, u32 a, u16 d) { who(o).logWarning(1, "Bad WW [A: %08X, D: %04X]", a, d); }
void wl(void* o, CPU*, u32 a, u32 d) { who(o).logWarning(1, "Bad WL [A: %08X, D: %08X]", a, d); }

}  // namespace

AccessHandlers loggedRegisterHandlers(Object* owner)
{
    return {owner, rb, wb, rw, ww, rl, wl};
}
