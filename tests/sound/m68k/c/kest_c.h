/* Shared by the 68000 build and the host build of the same programs. Each
 * program fills out[] with 32-bit results and answers how many. */
#ifndef KEST_C_H
#define KEST_C_H

typedef unsigned int u32c;
typedef int s32c;
typedef unsigned short u16c;
typedef unsigned char u8c;

#ifdef KEST_HOST
#define KEST_ENTRY(name) name##_main
#else
#define KEST_ENTRY(name) program_main
#endif

#endif
