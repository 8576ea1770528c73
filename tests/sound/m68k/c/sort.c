/* Sorting: a quicksort and an insertion sort of the same pseudo-random
 * signed numbers, with checksums that use division and remainder. */
#include "kest_c.h"

#define COUNT 300

static s32c a[COUNT];
static s32c b[COUNT];

static void quicksort(s32c* v, int lo, int hi)
{
    while (lo < hi) {
        const s32c pivot = v[lo + (hi - lo) / 2];
        int i = lo, j = hi;
        while (i <= j) {
            while (v[i] < pivot)
                ++i;
            while (v[j] > pivot)
                --j;
            if (i <= j) {
                const s32c t = v[i];
                v[i] = v[j];
                v[j] = t;
                ++i;
                --j;
            }
        }
        if (j - lo < hi - i) {
            quicksort(v, lo, j);
            lo = i;
        } else {
            quicksort(v, i, hi);
            hi = j;
        }
    }
}

static void insertion(s32c* v, int n)
{
    int i, j;
    for (i = 1; i < n; ++i) {
        const s32c x = v[i];
        for (j = i - 1; j >= 0 && v[j] > x; --j)
            v[j + 1] = v[j];
        v[j + 1] = x;
    }
}

u32c KEST_ENTRY(sort)(u32c* out)
{
    u32c seed = 2024, n = 0, sum = 0, mix = 0;
    int i, ordered = 1, same = 1;
    for (i = 0; i < COUNT; ++i) {
        seed = seed * 69069u + 1u;
        a[i] = b[i] = (s32c)seed / 1000;
    }
    quicksort(a, 0, COUNT - 1);
    insertion(b, COUNT);
    for (i = 0; i < COUNT; ++i) {
        if (i && a[i - 1] > a[i])
            ordered = 0;
        if (a[i] != b[i])
            same = 0;
        sum += (u32c)a[i];
        mix = mix * 31u + (u32c)(a[i] % 977) + (u32c)a[i] / 13u;
    }
    out[n++] = (u32c)ordered;
    out[n++] = (u32c)same;
    out[n++] = (u32c)a[0];
    out[n++] = (u32c)a[COUNT / 2];
    out[n++] = (u32c)a[COUNT - 1];
    out[n++] = sum;
    out[n++] = mix;
    return n;
}
