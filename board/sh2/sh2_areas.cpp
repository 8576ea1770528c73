#include "board/sh2/sh2.h"

namespace {

SH2& self(void* owner) { return *static_cast<SH2*>(owner); }

// The areas that only log: the text before the access kind, and the two
// reads that some reserved areas log at level 2 and answer with all ones.
struct LogArea {
    const char* prefix;
    int wordReadLevel;
    int longReadLevel;
    u32 longReadValue;
};

constexpr LogArea kLogAreas[SH2::kOnChip] = {
    {"CS0: cache area ", 1, 1, 0},          {"CS1: cache area ", 1, 1, 0},
    {"CS2: cache area ", 1, 1, 0},          {"CS3: cache area ", 1, 1, 0},
    {"RESERVED0: Bad ", 1, 1, 0},           {"CS0: cache-through area ", 1, 1, 0},
    {"CS1: cache-through area ", 1, 1, 0},  {"CS2: cache-through area ", 1, 1, 0},
    {"CS3: cache-through area ", 1, 1, 0},  {"RESERVED1: Bad ", 1, 1, 0},
    {"PURGE: Bad ", 1, 1, 0},               {"RESERVED2: Bad ", 1, 1, 0},
    {"CACHE(A): Bad ", 1, 1, 0},            {"RESERVED3: Bad ", 2, 2, 0xFFFFFFFF},
    {"", 1, 1, 0},  // the data array logs as RESERVED4
    {"RESERVED4: Bad ", 1, 2, 0xFFFFFFFF},
    {"UNDEFINED: Bad ", 1, 1, 0},           {"RESERVED5: Bad ", 1, 1, 0},
    {"SDMU: Bad ", 1, 1, 0},                {"RESERVED6: Bad ", 1, 1, 0},
};

template <int Id>
u8 logReadByte(void* owner, CPU*, u32 a)
{
    self(owner).logWarning(1, "%sRB [A: %08X]", kLogAreas[Id].prefix, a);
    return 0;
}

template <int Id>
u16 logReadWord(void* owner, CPU*, u32 a)
{
    self(owner).logWarning(kLogAreas[Id].wordReadLevel, "%sRW [A: %08X]", kLogAreas[Id].prefix, a);
    return 0;
}

template <int Id>
u32 logReadLong(void* owner, CPU*, u32 a)
{
    self(owner).logWarning(kLogAreas[Id].longReadLevel, "%sRL [A: %08X]", kLogAreas[Id].prefix, a);
    return kLogAreas[Id].longReadValue;
}

template <int Id>
void logWriteByte(void* owner, CPU*, u32 a, u8 d)
{
    self(owner).logWarning(1, "%sWB [A: %08X, D: %02X]", kLogAreas[Id].prefix, a, d);
}

template <int Id>
void logWriteWord(void* owner, CPU*, u32 a, u16 d)
{
    self(owner).logWarning(1, "%sWW [A: %08X, D: %04X]", kLogAreas[Id].prefix, a, d);
}

template <int Id>
void logWriteLong(void* owner, CPU*, u32 a, u32 d)
{
    self(owner).logWarning(1, "%sWL [A: %08X, D: %08X]", kLogAreas[Id].prefix, a, d);
}

template <int Id>
AccessHandlers logHandlers(void* owner)
{
    return {owner, logReadByte<Id>, logWriteByte<Id>, logReadWord<Id>, logWriteWord<Id>, logReadLong<Id>,
            logWriteLong<Id>};
}

// UNDEFINED: only its first 4 KB are its own.
constexpr u32 kUndefinedEnd = 0xE0001000;

u8 undefinedReadByte(void* o, CPU* c, u32 a)
{
    return a >= kUndefinedEnd ? logReadByte<SH2::kReserved5>(o, c, a) : logReadByte<SH2::kUndefinedArea>(o, c, a);
}
u16 undefinedReadWord(void* o, CPU* c, u32 a)
{
    return a >= kUndefinedEnd ? logReadWord<SH2::kReserved5>(o, c, a) : logReadWord<SH2::kUndefinedArea>(o, c, a);
}
u32 undefinedReadLong(void* o, CPU* c, u32 a)
{
    return a >= kUndefinedEnd ? logReadLong<SH2::kReserved5>(o, c, a) : logReadLong<SH2::kUndefinedArea>(o, c, a);
}
void undefinedWriteByte(void* o, CPU* c, u32 a, u8 d)
{
    a >= kUndefinedEnd ? logWriteByte<SH2::kReserved5>(o, c, a, d) : logWriteByte<SH2::kUndefinedArea>(o, c, a, d);
}
void undefinedWriteWord(void* o, CPU* c, u32 a, u16 d)
{
    a >= kUndefinedEnd ? logWriteWord<SH2::kReserved5>(o, c, a, d) : logWriteWord<SH2::kUndefinedArea>(o, c, a, d);
}
void undefinedWriteLong(void* o, CPU* c, u32 a, u32 d)
{
    a >= kUndefinedEnd ? logWriteLong<SH2::kReserved5>(o, c, a, d) : logWriteLong<SH2::kUndefinedArea>(o, c, a, d);
}

// Cache address array.
u32 addressReadLong(void* o, CPU*, u32 a) { return self(o).cache.readAddress(a); }
void addressWriteLong(void* o, CPU*, u32 a, u32 d) { self(o).cache.writeAddress(a, d); }

// Cache data array: its first 4 KB hold the lines, the rest is RESERVED4.
constexpr u32 kDataArrayEnd = 0xC0001000;

u8 dataReadByte(void* o, CPU* c, u32 a)
{
    if (a >= kDataArrayEnd)
        return logReadByte<SH2::kReserved4>(o, c, a);
    return self(o).cache.line(a)[a & 15];
}
u16 dataReadWord(void* o, CPU* c, u32 a)
{
    if (a >= kDataArrayEnd)
        return logReadWord<SH2::kReserved4>(o, c, a);
    return loadBe16(self(o).cache.line(a) + (a & 14));
}
u32 dataReadLong(void* o, CPU* c, u32 a)
{
    if (a >= kDataArrayEnd)
        return logReadLong<SH2::kReserved4>(o, c, a);
    return loadBe32(self(o).cache.line(a) + (a & 12));
}
void dataWriteByte(void* o, CPU* c, u32 a, u8 d)
{
    if (a >= kDataArrayEnd)
        return logWriteByte<SH2::kReserved4>(o, c, a, d);
    self(o).cache.line(a)[a & 15] = d;
}
void dataWriteWord(void* o, CPU* c, u32 a, u16 d)
{
    if (a >= kDataArrayEnd)
        return logWriteWord<SH2::kReserved4>(o, c, a, d);
    storeBe16(self(o).cache.line(a) + (a & 14), d);
}
void dataWriteLong(void* o, CPU* c, u32 a, u32 d)
{
    if (a >= kDataArrayEnd)
        return logWriteLong<SH2::kReserved4>(o, c, a, d);
    storeBe32(self(o).cache.line(a) + (a & 12), d);
}

// Associative purge: reads answer fixed patterns.
u8 purgeReadByte(void*, CPU*, u32 a) { return (a & 1) ? 0x12 : 0x23; }
u16 purgeReadWord(void*, CPU*, u32) { return 0x2312; }
u32 purgeReadLong(void*, CPU*, u32) { return 0x23122312; }
void purgeWriteLong(void* o, CPU*, u32 a, u32) { self(o).cache.purge(a); }

void sdmuWriteWord(void* o, CPU*, u32 a, u16 d)
{
    self(o).sdmu.writeMode(a, d);
}

}  // namespace

void SH2::Cache::writeCcr(u8 value)
{
    ccr = value & 0xDF;
    way = static_cast<u8>(value >> 6);
    std::memset(lru, 0, sizeof lru);
    std::memset(valid, 0, sizeof valid);
    if (!(value & 0x10)) {
        std::memset(tag, 0, sizeof tag);
        std::memset(data, 0, sizeof data);
    }
    ccr &= static_cast<u8>(~0x10);
}

u32 SH2::Cache::readAddress(u32 a) const
{
    const u32 entry = (a >> 4) & 63;
    return tag[way][entry] << 10 | u32{lru[entry]} << 4 | u32{valid[way][entry]} << 2;
}

void SH2::Cache::writeAddress(u32 a, u32 d)
{
    const u32 entry = (a >> 4) & 63;
    lru[entry] = static_cast<u8>((d >> 4) & 63);
    tag[way][entry] = (a >> 10) & 0x7FFFF;
    valid[way][entry] = static_cast<u8>((a >> 2) & 1);
}

void SH2::Cache::purge(u32 a)
{
    const u32 entry = (a >> 4) & 63;
    const u32 wanted = (a >> 10) & 0x7FFFF;
    for (int w = 0; w < kWays; ++w) {
        if (tag[w][entry] == wanted) {
            std::memset(data[w][entry], 0, kLineBytes);
            return;
        }
    }
}

AccessHandlers SH2::getAccessHandlers(int id)
{
    void* o = this;
    switch (id) {
    case kCs0Cache: return logHandlers<kCs0Cache>(o);
    case kCs1Cache: return logHandlers<kCs1Cache>(o);
    case kCs2Cache: return logHandlers<kCs2Cache>(o);
    case kCs3Cache: return logHandlers<kCs3Cache>(o);
    case kReserved0: return logHandlers<kReserved0>(o);
    case kCs0Through: return logHandlers<kCs0Through>(o);
    case kCs1Through: return logHandlers<kCs1Through>(o);
    case kCs2Through: return logHandlers<kCs2Through>(o);
    case kCs3Through: return logHandlers<kCs3Through>(o);
    case kReserved1: return logHandlers<kReserved1>(o);
    case kPurge:
        return {o, purgeReadByte, logWriteByte<kPurge>, purgeReadWord, logWriteWord<kPurge>, purgeReadLong,
                purgeWriteLong};
    case kReserved2: return logHandlers<kReserved2>(o);
    case kCacheAddress:
        return {o, logReadByte<kCacheAddress>, logWriteByte<kCacheAddress>, logReadWord<kCacheAddress>,
                logWriteWord<kCacheAddress>, addressReadLong, addressWriteLong};
    case kReserved3: return logHandlers<kReserved3>(o);
    case kCacheData:
        return {o, dataReadByte, dataWriteByte, dataReadWord, dataWriteWord, dataReadLong, dataWriteLong};
    case kReserved4: return logHandlers<kReserved4>(o);
    case kUndefinedArea:
        return {o, undefinedReadByte, undefinedWriteByte, undefinedReadWord, undefinedWriteWord, undefinedReadLong,
                undefinedWriteLong};
    case kReserved5: return logHandlers<kReserved5>(o);
    case kSdmuArea:
        return {o, logReadByte<kSdmuArea>, logWriteByte<kSdmuArea>, logReadWord<kSdmuArea>, sdmuWriteWord,
                logReadLong<kSdmuArea>, logWriteLong<kSdmuArea>};
    case kReserved6: return logHandlers<kReserved6>(o);
    case kOnChip: {
        AccessHandlers h{o, readOnChip8, writeOnChip8, readOnChip16, writeOnChip16, readOnChip32, writeOnChip32};
        h.steadyRead = steadyOnChip;
        return h;
    }
    default: return {};
    }
}
