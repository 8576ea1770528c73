#include "core/base/shortcuts.h"

bool hostHasAvx2()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

Shortcuts Shortcuts::plain()
{
    Shortcuts s;
    s.waitLoops = s.idleUnits = s.vdp1Primitives = s.soundIdleLoops = s.silentSlots = false;
    s.vdp2 = {false, false, false, false, false};
    return s;
}
