/* CRC-32 (the IEEE polynomial) by table and bit by bit over generated data. */
#include "kest_c.h"

static u32c table[256];

static void build_table(void)
{
    u32c i, k;
    for (i = 0; i < 256; ++i) {
        u32c c = i;
        for (k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
}

static u32c crc_table(const u8c* p, u32c n)
{
    u32c c = 0xFFFFFFFFu;
    while (n--)
        c = table[(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

static u32c crc_bitwise(const u8c* p, u32c n)
{
    u32c c = 0xFFFFFFFFu;
    int k;
    while (n--) {
        c ^= *p++;
        for (k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

static u8c data[1024];

u32c KEST_ENTRY(crc32)(u32c* out)
{
    static const char check[] = "123456789";
    u32c i, seed = 12345;
    u32c n = 0;
    build_table();
    out[n++] = crc_table((const u8c*)check, 9); /* 0xCBF43926 */
    for (i = 0; i < sizeof(data); ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = (u8c)(seed >> 16);
    }
    out[n++] = crc_table(data, sizeof(data));
    out[n++] = crc_bitwise(data, sizeof(data));
    out[n++] = crc_table(data + 3, 517);
    out[n++] = table[1];
    out[n++] = table[255];
    return n;
}
