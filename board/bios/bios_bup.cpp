// The backup-memory format: device access, blocks, the layout of a file's
// block list and data, search and free space.
#include "board/bios/bios_bup.h"

#include <algorithm>

namespace {

constexpr u8 kCartridgeFirstBackupId = 0x21;
constexpr u8 kCartridgeLastBackupId = 0x24;
constexpr u8 kCartridgeBigBlocksId = 0x24;
constexpr u32 kCartridgeBlockBytes = 512;
constexpr u32 kCartridgeBigBlockBytes = 1024;

}  // namespace

BIOS::BUP::BUP(BIOS& bios, int number, u32 base, u32 size, u32 blockSize, u8 connected)
    : Object("BIOS.BUP"), number(number), base(base), size(size), blockSize(blockSize),
      blockCount(size / blockSize), connected(connected), m_bios(bios)
{
}

void BIOS::BUP::configure(u8 cartridgeId, u32 cartridgeBytes)
{
    // The device is the cartridge's own memory, whatever its ID promises.
    if (cartridgeId >= kCartridgeFirstBackupId && cartridgeId <= kCartridgeLastBackupId && cartridgeBytes > 0) {
        blockSize = cartridgeId == kCartridgeBigBlocksId ? kCartridgeBigBlockBytes : kCartridgeBlockBytes;
        size = cartridgeBytes - cartridgeBytes % blockSize;
        blockCount = size / blockSize;
        connected = blockCount > kFirstFileBlock ? 1 : 0;
    } else {
        size = 0;
        blockCount = 0;
        connected = 0;
    }
}

u8 BIOS::BUP::byte(u32 i) const
{
    ++bytesRead;
    return i < size ? m_bios.read8(base + 2 * i + 1) : 0;
}

void BIOS::BUP::setByte(u32 i, u8 value)
{
    if (i < size)
        m_bios.write8(base + 2 * i + 1, value);
}

void BIOS::BUP::setLong(u32 i, u32 value)
{
    for (u32 k = 0; k < 4; ++k)
        setByte(i + k, static_cast<u8>(value >> (24 - 8 * k)));
}

bool BIOS::BUP::formatted() const
{
    if (blockCount <= kFirstFileBlock)
        return false;
    for (u32 i = 0; i < blockSize; ++i) {
        if (byte(i) != static_cast<u8>(kHeaderText[i % kHeaderTextBytes]) || byte(blockSize + i) != 0)
            return false;
    }
    return true;
}

void BIOS::BUP::format()
{
    for (u32 i = 0; i < blockSize; ++i) {
        setByte(i, static_cast<u8>(kHeaderText[i % kHeaderTextBytes]));
        setByte(blockSize + i, 0);
    }
    for (u32 n = kFirstFileBlock; n < blockCount; ++n)
        setLong(n * blockSize, 0);
}

BIOS::BUP::BlockType BIOS::BUP::blockType(u32 block) const
{
    const u32 offset = block * blockSize;
    const u32 mark = longAt(offset);
    switch (mark) {
    case kHeaderMark: return kHeaderBlock;
    case 0: return kFreeBlock;
    case kFileMark: return kFirstBlock;
    default:
        logError(1, "Invalid block type [BN: %08X, A: %08X, D: %08X]", block, offset, mark);
        return kInvalidBlock;
    }
}

BIOS::BUP::Layout BIOS::BUP::layoutOf(u64 dataBlocks) const
{
    const u64 perFirst = (blockSize - kListAt) / 2;
    const u64 perBlock = (blockSize - kBlockDataAt) / 2;
    const u64 entries = dataBlocks + 1;  // and the zero entry
    Layout l;
    l.a = dataBlocks;
    if (entries <= perFirst) {
        l.c = kListAt + 2 * entries;
    } else {
        const u64 rest = entries - perFirst;
        l.b = (rest + perBlock - 1) / perBlock;
        l.c = kBlockDataAt + 2 * (rest - (l.b - 1) * perBlock);
    }
    l.total = 1 + l.b + l.a;
    l.capacity = (blockSize - l.c) + l.a * (blockSize - kBlockDataAt);
    return l;
}

BIOS::BUP::Layout BIOS::BUP::blocksFor(u64 size) const
{
    // The console's own count, which saves made elsewhere follow: the first
    // block is taken to hold one entry less than it does, so the data may
    // start a little after the zero entry, or a block later.
    const u64 B = blockSize, P = B - kBlockDataAt, L = (B - (kListAt + 2)) / 2 * P;
    Layout l;
    if (size <= L) {
        u64 n = size / P;
        if (size % P > B - (2 * n + kListAt + 2))
            ++n;
        l.a = n;
        l.c = 2 * n + kListAt + 2;
    } else {
        u64 m = L / P;
        if (L % P > B - (2 * m + kListAt + 2))
            ++m;
        const u64 rest = size - L, h = P / 2;
        u64 q = rest / P, x = (h + q) / h, y = (q + 1) % h;
        const u64 z = y > 0 ? 2 * (h - y) : 0;
        if (rest % P > z) {
            ++q;
            if (y == 0) {
                y = 1;
                ++x;
            }
        }
        l.a = q + m;
        l.b = x;
        l.c = 2 * y + kBlockDataAt;
    }
    l.total = 1 + l.b + l.a;
    l.capacity = (l.c < B ? B - l.c : 0) + l.a * P;
    // Where that count would start the data inside the list (data sizes
    // L + (k * P / 2 - 1) * P, 2580, 4380, 6180 ... bytes in 64-byte
    // blocks), the smallest layout that holds the size instead.
    const Layout list = layoutOf(l.a);
    if ((list.b < l.b || (list.b == l.b && list.c <= l.c)) && l.capacity >= size)
        return l;
    return smallestFor(size);
}

BIOS::BUP::Layout BIOS::BUP::smallestFor(u64 size) const
{
    // Capacity grows with every data block, so the smallest count that
    // holds the size is found by bisection.
    u64 low = 0;
    u64 high = size + 1;
    while (low < high) {
        const u64 mid = low + (high - low) / 2;
        if (layoutOf(mid).capacity >= size)
            high = mid;
        else
            low = mid + 1;
    }
    return layoutOf(low);
}

u32 BIOS::BUP::findRecord(const BupName& name, u32 start, bool partial) const
{
    const u32 compared = partial ? name.length : BupName::kBytes;
    for (u32 n = std::max(start, kFirstFileBlock); n < blockCount; ++n) {
        if (blockType(n) != kFirstBlock)
            continue;
        const u32 at = n * blockSize + kNameAt;
        u32 k = 0;
        while (k < compared && byte(at + k) == name.bytes[k])
            ++k;
        if (k == compared)
            return n;
    }
    return 0;
}

bool BIOS::BUP::readList(u32 first, std::vector<u16>& entries) const
{
    entries.clear();
    u64 at = u64{first} * blockSize + kListAt;
    // Every entry needs two bytes of the device, so the walk ends. A list
    // never runs into another save's first block: stopping there keeps a
    // walk over every save linear in the device's size, whatever it holds.
    while (at + 2 <= size) {
        if (at % blockSize == 0) {
            if (longAt(static_cast<u32>(at)) == kFileMark)
                break;
            at += kBlockDataAt;
        }
        if (at + 2 > size)
            break;
        const u16 entry = word(static_cast<u32>(at));
        at += 2;
        if (entry == 0)
            return true;
        entries.push_back(entry);
    }
    return false;
}

void BIOS::BUP::buildUsedMap(std::vector<u8>& used, u32 skip) const
{
    used.assign(blockCount, 0);
    for (u32 n = 0; n < kFirstFileBlock && n < blockCount; ++n)
        used[n] = 1;
    std::vector<u16> entries;
    for (u32 n = kFirstFileBlock; n < blockCount; ++n) {
        if (n == skip || blockType(n) != kFirstBlock)
            continue;
        used[n] = 1;
        const bool ended = readList(n, entries);
        // A save holds its list blocks and the block its data starts in; a
        // list without an end holds every block up to the next save.
        u64 listEnd = n + layoutOf(entries.size()).b;
        if (!ended) {
            listEnd = n + 1;
            while (listEnd < blockCount && longAt(static_cast<u32>(listEnd * blockSize)) != kFileMark)
                ++listEnd;
            --listEnd;
        } else if (const Layout l = blocksFor(longAt(n * blockSize + kSizeAt)); l.a == entries.size()) {
            listEnd = std::max(listEnd, n + l.b);
        }
        for (u64 k = n + 1; k <= listEnd && k < blockCount; ++k)
            used[k] = 1;
        for (u16 block : entries) {
            if (block >= blockCount || blockType(block) != kFreeBlock) {
                m_bios.logError(1, "Mark record failed [BN: %04X]", block);
                break;
            }
            used[block] = 1;
        }
    }
}

u32 BIOS::BUP::countFree(const std::vector<u8>& used)
{
    return static_cast<u32>(std::count(used.begin(), used.end(), u8{0}));
}

u32 BIOS::BUP::findFreeRun(const std::vector<u8>& used, u64 k) const
{
    u64 run = 0;
    for (u32 n = kFirstFileBlock; n < blockCount; ++n) {
        run = used[n] ? 0 : run + 1;
        if (run >= k)
            return static_cast<u32>(n + 1 - run);
    }
    return 0;
}

u32 BIOS::BUP::freeBlocks() const
{
    std::vector<u8> used;
    buildUsedMap(used);
    return countFree(used);
}

u64 BIOS::BUP::freeSize() const
{
    // What the console reports: every free block but a first one holding
    // 6 bytes less than a block, less the directory data.
    const s64 bytes = s64{freeBlocks()} * (blockSize - 6) - 30;
    return bytes > 0 ? static_cast<u64>(bytes) : 0;
}

void BIOS::BUP::writeRecord(u32 first, const Layout& layout, const NewFile& file, std::vector<u8>& used)
{
    for (u64 k = 0; k <= layout.b; ++k) {
        setLong(static_cast<u32>((first + k) * blockSize), 0);
        used[first + k] = 1;
    }
    const u32 at = first * blockSize;
    setLong(at, kFileMark);
    for (u32 k = 0; k < BupName::kBytes; ++k)
        setByte(at + kNameAt + k, file.name.bytes[k]);
    setByte(at + kLanguageAt, file.language);
    for (u32 k = 0; k < kCommentBytes; ++k)
        setByte(at + kCommentAt + k, file.comment[k]);
    setLong(at + kDateAt, file.date);
    setLong(at + kSizeAt, file.size);

    std::vector<u16> blocks;
    for (u32 n = kFirstFileBlock; n < blockCount && blocks.size() < layout.a; ++n) {
        if (!used[n]) {
            used[n] = 1;
            blocks.push_back(static_cast<u16>(n));
        }
    }
    u32 list = at + kListAt;
    auto putEntry = [&](u16 entry) {
        if (list % blockSize == 0)
            list += kBlockDataAt;
        setByte(list, static_cast<u8>(entry >> 8));
        setByte(list + 1, static_cast<u8>(entry));
        list += 2;
    };
    for (u16 block : blocks)
        putEntry(block);
    putEntry(0);

    u32 left = file.size;
    u32 source = file.dataAddress;
    const u32 blockEnd = static_cast<u32>((first + layout.b + 1) * blockSize);
    for (u32 d = static_cast<u32>((first + layout.b) * blockSize + layout.c); d < blockEnd && left > 0; ++d, --left)
        setByte(d, m_bios.read8(source++));
    for (u16 block : blocks) {
        const u32 start = block * blockSize;
        setLong(start, 0);
        for (u32 k = kBlockDataAt; k < blockSize && left > 0; ++k, --left)
            setByte(start + k, m_bios.read8(source++));
    }
}

BIOS::Record::Record(const BUP& device, u32 first)
    : Object("BIOS.Record"), first(first), offset(first * device.blockSize), m_device(device)
{
    broken = first < BUP::kFirstFileBlock || first >= device.blockCount || device.longAt(offset) != BUP::kFileMark;
    for (u32 k = 0; k < BupName::kBytes; ++k)
        name.bytes[k] = device.byte(offset + BUP::kNameAt + k);
    // The printable test ends at the name's first zero byte.
    while (name.length < BupName::kBytes && name.bytes[name.length] != 0) {
        const u8 c = name.bytes[name.length++];
        if (c < 0x20 || c > 0x7E)
            broken = true;
    }
    language = device.byte(offset + BUP::kLanguageAt);
    for (u32 k = 0; k < BUP::kCommentBytes; ++k)
        comment[k] = device.byte(offset + BUP::kCommentAt + k);
    date = device.longAt(offset + BUP::kDateAt);
    size = device.longAt(offset + BUP::kSizeAt);
    layout = device.blocksFor(size);
    if (language > BUP::kLastLanguage || !device.readList(first, entries) || entries.size() != layout.a ||
        first + layout.b >= device.blockCount) {
        broken = true;
        return;
    }
    for (u16 block : entries) {
        if (block < BUP::kFirstFileBlock || block >= device.blockCount || (block >= first && block <= first + layout.b))
            broken = true;
    }
}
