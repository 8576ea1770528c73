#pragma once

#include <string>
#include <vector>

#include "board/bios/bios.h"

// A save's name as the services compare it: up to 11 characters, padded
// with zero bytes.
struct BupName {
    static constexpr u32 kBytes = 11;
    u8 bytes[kBytes] = {};
    u32 length = 0;

    std::string text() const { return std::string(reinterpret_cast<const char*>(bytes), length); }
};

// One backup device. Byte i of the device sits on the odd bus address
// base + 2i + 1 and is reached through the BIOS's accessors, so the writes
// mark the memory for write-back like a program's own. Block 0 holds the
// header text, block 1 is zero, files start at block 2.
//
// A file's first block holds its directory data and, from byte 34, the
// numbers of its data blocks ended by a zero entry; a list that outgrows
// the block runs on from byte 4 of the following blocks. Its data follows
// the zero entry to the end of that block, then fills bytes 4 onwards of
// each listed block.
class BIOS::BUP : public Object {
public:
    static constexpr u32 kFileMark = 0x80000000;
    static constexpr u32 kHeaderMark = 0x4261636B;  // "Back"
    static constexpr const char* kHeaderText = "BackUpRam Format";
    static constexpr u32 kHeaderTextBytes = 16;
    static constexpr u32 kFirstFileBlock = 2;
    static constexpr u32 kNameAt = 4;
    static constexpr u32 kLanguageAt = 15;
    static constexpr u32 kCommentAt = 16;
    static constexpr u32 kCommentBytes = 10;
    static constexpr u32 kDateAt = 26;
    static constexpr u32 kSizeAt = 30;
    static constexpr u32 kListAt = 34;
    static constexpr u32 kBlockDataAt = 4;
    static constexpr u8 kLastLanguage = 5;

    enum BlockType { kHeaderBlock, kFreeBlock, kFirstBlock, kInvalidBlock };

    // Where a file with a data blocks keeps its list and its data.
    struct Layout {
        u64 total = 0;  // first block, list blocks and data blocks
        u64 a = 0;      // data blocks, one list entry each
        u64 b = 0;      // list blocks after the first block
        u64 c = 0;      // byte of block first + b where the data starts; B when none does
        u64 capacity = 0;
    };

    // A save as the services write it.
    struct NewFile {
        BupName name;
        u8 comment[kCommentBytes] = {};
        u8 language = 0;
        u32 date = 0;
        u32 size = 0;
        u32 dataAddress = 0;
    };

    BUP(BIOS& bios, int number, u32 base, u32 size, u32 blockSize, u8 connected);
    // Device 1 follows the inserted cartridge: a backup cartridge of
    // cartridgeBytes, or nothing.
    void configure(u8 cartridgeId, u32 cartridgeBytes);

    u8 byte(u32 i) const;
    void setByte(u32 i, u8 value);
    u16 word(u32 i) const { return static_cast<u16>(byte(i) << 8 | byte(i + 1)); }
    u32 longAt(u32 i) const { return u32{word(i)} << 16 | word(i + 2); }
    void setLong(u32 i, u32 value);

    bool formatted() const;
    void format();
    BlockType blockType(u32 block) const;

    // The layout with the list running on entry by entry and the data right
    // after its zero entry.
    Layout layoutOf(u64 dataBlocks) const;
    // The layout a save of size bytes takes.
    Layout blocksFor(u64 size) const;
    // The smallest layout whose capacity holds size bytes.
    Layout smallestFor(u64 size) const;

    // The lowest first block at or after max(start, 2) whose name matches:
    // all 11 bytes when partial is false, the name's own bytes when it is
    // true (so an empty name matches every save). 0 when none does.
    u32 findRecord(const BupName& name, u32 start, bool partial) const;
    // The stored list of the file at first, up to its zero entry; false when
    // it runs off the device, or into another file's first block, without one.
    bool readList(u32 first, std::vector<u16>& entries) const;
    // Blocks 0 and 1 and every block each file holds, except the file whose
    // first block is skip.
    void buildUsedMap(std::vector<u8>& used, u32 skip = 0) const;
    static u32 countFree(const std::vector<u8>& used);
    // The lowest block n >= 2 with blocks n .. n + k - 1 all free; 0 when none.
    u32 findFreeRun(const std::vector<u8>& used, u64 k) const;
    u32 freeBlocks() const;
    u64 freeSize() const;
    // Writes the file with its first block at first, taking its data blocks
    // from the lowest free ones in used.
    void writeRecord(u32 first, const Layout& layout, const NewFile& file, std::vector<u8>& used);

    int number;
    u32 base;
    u32 size;
    u32 blockSize;
    u32 blockCount;
    u8 connected;
    u8 writeProtect = 0;
    // Device bytes read so far: what a walk over the device costs.
    mutable u64 bytesRead = 0;

private:
    BIOS& m_bios;
};

// A saved file as found on a device. A record is broken when its block
// does not carry the file mark, its name or language is out of range, or
// its stored list does not match the blocks its data size needs (wrong
// count, a block outside the device or inside its own list run).
class BIOS::Record : public Object {
public:
    Record(const BUP& device, u32 first);

    // The data bytes, in layout order, one at a time.
    template <class F>
    void forEachDataByte(F&& f) const;

    u32 first;
    u32 offset;
    BupName name;
    u8 language = 0;
    u8 comment[BUP::kCommentBytes + 1] = {};
    u32 date = 0;
    u32 size = 0;
    BUP::Layout layout;
    std::vector<u16> entries;
    bool broken = false;

private:
    const BUP& m_device;
};

template <class F>
void BIOS::Record::forEachDataByte(F&& f) const
{
    const u32 b = m_device.blockSize;
    u32 left = size;
    u32 at = static_cast<u32>((first + layout.b) * b + layout.c);
    const u32 end = static_cast<u32>((first + layout.b + 1) * b);
    for (; at < end && left > 0; ++at, --left)
        f(m_device.byte(at));
    for (u16 block : entries) {
        for (u32 k = BUP::kBlockDataAt; k < b && left > 0; ++k, --left)
            f(m_device.byte(block * b + k));
    }
}
