#pragma once

// Leaks inside the desktop's own libraries, which Qt loads and never
// frees; ours are still reported.
#define KEST_DESKTOP_LEAK_SUPPRESSIONS "leak:libdbus-1.so\nleak:libfontconfig.so\n"

extern "C" const char* __lsan_default_suppressions()
{
    return KEST_DESKTOP_LEAK_SUPPRESSIONS;
}
