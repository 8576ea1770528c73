/* The helpers GCC calls for 32-bit multiply and divide on the 68000, and
 * the memory functions it may emit. Debian's m68k libgcc is built for later
 * processors, so these stand in for it. Only shifts, adds and 16-bit
 * products appear here, so nothing calls back into itself. */
#include "kest_c.h"

u32c __mulsi3(u32c a, u32c b)
{
    u32c r = 0;
    while (b) {
        if (b & 1)
            r += a;
        a <<= 1;
        b >>= 1;
    }
    return r;
}

static u32c divmod(u32c n, u32c d, u32c* remainder)
{
    u32c q = 0, r = 0;
    int i;
    if (d == 0) {
        *remainder = n;
        return 0xFFFFFFFFu;
    }
    for (i = 31; i >= 0; --i) {
        r = (r << 1) | ((n >> i) & 1);
        if (r >= d) {
            r -= d;
            q |= 1u << i;
        }
    }
    *remainder = r;
    return q;
}

u32c __udivsi3(u32c n, u32c d)
{
    u32c r;
    return divmod(n, d, &r);
}

u32c __umodsi3(u32c n, u32c d)
{
    u32c r;
    divmod(n, d, &r);
    return r;
}

s32c __divsi3(s32c n, s32c d)
{
    u32c r;
    const int negative = (n < 0) != (d < 0);
    const u32c q = divmod(n < 0 ? 0u - (u32c)n : (u32c)n, d < 0 ? 0u - (u32c)d : (u32c)d, &r);
    return negative ? (s32c)(0u - q) : (s32c)q;
}

s32c __modsi3(s32c n, s32c d)
{
    u32c r;
    divmod(n < 0 ? 0u - (u32c)n : (u32c)n, d < 0 ? 0u - (u32c)d : (u32c)d, &r);
    return n < 0 ? (s32c)(0u - r) : (s32c)r;
}

void* memset(void* p, int v, unsigned long n)
{
    u8c* b = (u8c*)p;
    while (n--)
        *b++ = (u8c)v;
    return p;
}

void* memcpy(void* to, const void* from, unsigned long n)
{
    u8c* d = (u8c*)to;
    const u8c* s = (const u8c*)from;
    while (n--)
        *d++ = *s++;
    return to;
}
