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
#define KEST_SHORTCUT_OFF(index, field, name) s.field = false;
    KEST_SHORTCUT_FIELDS(KEST_SHORTCUT_OFF)
#undef KEST_SHORTCUT_OFF
    return s;
}

bool Shortcuts::on(ShortcutField which) const
{
    switch (which) {
#define KEST_SHORTCUT_CASE(index, field, name) \
    case index: return field;
        KEST_SHORTCUT_FIELDS(KEST_SHORTCUT_CASE)
#undef KEST_SHORTCUT_CASE
    case kShortcutFields: break;
    }
    return false;
}

ShortcutUses& ShortcutUses::operator+=(const ShortcutUses& other)
{
    for (u32 i = 0; i < kShortcutFields; ++i)
        count[i] += other.count[i];
    return *this;
}

const char* ShortcutUses::name(ShortcutField field)
{
#define KEST_SHORTCUT_NAME(index, field, name) name,
    static const char* const kNames[] = {KEST_SHORTCUT_FIELDS(KEST_SHORTCUT_NAME)};
#undef KEST_SHORTCUT_NAME
    return kNames[field % kShortcutFields];
}
