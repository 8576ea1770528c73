/* Packed BCD: conversion both ways by division and remainder, and addition
 * digit by digit, checked against binary arithmetic. */
#include "kest_c.h"

static u32c to_bcd(u32c v)
{
    u32c r = 0;
    int shift = 0;
    while (v && shift < 32) {
        r |= (v % 10u) << shift;
        v /= 10u;
        shift += 4;
    }
    return r;
}

static u32c from_bcd(u32c b)
{
    u32c r = 0, scale = 1;
    while (b) {
        r += (b & 15u) * scale;
        scale *= 10u;
        b >>= 4;
    }
    return r;
}

static u32c add_bcd(u32c x, u32c y)
{
    u32c r = 0, carry = 0;
    int shift;
    for (shift = 0; shift < 32; shift += 4) {
        u32c d = ((x >> shift) & 15u) + ((y >> shift) & 15u) + carry;
        carry = d > 9;
        if (carry)
            d -= 10;
        r |= d << shift;
    }
    return r;
}

u32c KEST_ENTRY(bcd)(u32c* out)
{
    u32c n = 0, i, seed = 7, errors = 0, acc = 0;
    out[n++] = to_bcd(12345678u);
    out[n++] = from_bcd(0x87654321u);
    for (i = 0; i < 200; ++i) {
        u32c x, y;
        seed = seed * 1664525u + 1013904223u;
        x = (seed >> 8) % 5000000u;
        seed = seed * 1664525u + 1013904223u;
        y = (seed >> 8) % 5000000u;
        if (from_bcd(add_bcd(to_bcd(x), to_bcd(y))) != x + y)
            ++errors;
        acc = add_bcd(acc, to_bcd(x % 1000u));
    }
    out[n++] = errors;
    out[n++] = acc;
    out[n++] = (u32c)(-7 / 2);
    out[n++] = (u32c)((s32c)seed % -1000);
    out[n++] = (u32c)((s32c)seed / -37);
    return n;
}
