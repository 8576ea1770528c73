// The backup-memory services, called by an assembled program booted through
// the built-in BIOS. The saved backup file is read back by a checker written
// from the format's description alone.
#include "bios_fixture.h"

#include <chrono>
#include <map>
#include <random>
#include <set>

#include "board/bios/bios_bup.h"
#include "board/cart/cartridge.h"
#include "support/files.h"
#include "support/time_zone.h"

namespace {

constexpr u32 kInternalBlock = 64;

// ---- The checker ---------------------------------------------------------

struct SavedFile {
    std::string name;
    std::string comment;
    u32 date = 0;
    std::vector<u8> data;
    std::vector<u32> blocks;  // every block the file holds
};

u32 be32(const std::vector<u8>& m, u32 at) { return loadBe32(&m[at]); }
u16 be16(const std::vector<u8>& m, u32 at) { return loadBe16(&m[at]); }

// Where a save's data goes: a data blocks, and the data from byte c of block
// first + b. The console's count; where it would start the data inside the
// list, the smallest count whose list and data fit.
struct Place {
    u32 a, b, c;
};

Place listEnd(u32 a, u32 block)
{
    u32 b = 0, at = 34;
    for (u32 e = 0; e <= a; ++e) {
        if (at == block) {
            ++b;
            at = 4;
        }
        at += 2;
    }
    return {a, b, at};
}

u32 capacity(const Place& p, u32 block)
{
    return (p.c < block ? block - p.c : 0) + p.a * (block - 4);
}

Place placeOf(u32 size, u32 block)
{
    const u32 p = block - 4, full = (block - 36) / 2 * p;
    Place console{};
    if (size <= full) {
        u32 n = size / p;
        if (size % p > block - (2 * n + 36))
            ++n;
        console = {n, 0, 2 * n + 36};
    } else {
        u32 m = full / p;
        if (full % p > block - (2 * m + 36))
            ++m;
        const u32 rest = size - full, h = p / 2;
        u32 q = rest / p, x = (h + q) / h, y = (q + 1) % h;
        const u32 z = y > 0 ? 2 * (h - y) : 0;
        if (rest % p > z) {
            ++q;
            if (y == 0) {
                y = 1;
                ++x;
            }
        }
        console = {q + m, x, 2 * y + 4};
    }
    const Place list = listEnd(console.a, block);
    if ((list.b < console.b || (list.b == console.b && list.c <= console.c)) && capacity(console, block) >= size)
        return console;
    for (u32 a = 0;; ++a) {
        if (capacity(listEnd(a, block), block) >= size)
            return listEnd(a, block);
    }
}

// Reads a device image: block 0 the header text, block 1 zero, files from
// block 2, each with its list of data blocks from byte 34 running on at
// byte 4 of the next blocks, its data from byte c of block first + b (see
// placeOf) and then from byte 4 of each listed block. Fails the test where
// the image breaks the format, including a block held twice.
std::map<std::string, SavedFile> readDevice(const std::vector<u8>& image, u32 block)
{
    std::map<std::string, SavedFile> files;
    const u32 count = static_cast<u32>(image.size()) / block;
    for (u32 i = 0; i < block; ++i) {
        EXPECT_EQ(image[i], "BackUpRam Format"[i % 16]) << i;
        EXPECT_EQ(image[block + i], 0) << i;
    }
    std::set<u32> held = {0, 1};
    auto hold = [&](u32 n) {
        EXPECT_TRUE(n >= 2 && n < count) << n;
        EXPECT_TRUE(held.insert(n).second) << "block " << n << " held twice";
    };
    for (u32 n = 2; n < count; ++n) {
        if (be32(image, n * block) != 0x80000000)
            continue;
        SavedFile f;
        const u32 at = n * block;
        for (u32 k = 0; k < 11 && image[at + 4 + k]; ++k)
            f.name += static_cast<char>(image[at + 4 + k]);
        for (u32 k = 0; k < 10 && image[at + 16 + k]; ++k)
            f.comment += static_cast<char>(image[at + 16 + k]);
        f.date = be32(image, at + 26);
        const u32 size = be32(image, at + 30);
        hold(n);
        f.blocks.push_back(n);
        u32 p = at + 34;
        std::vector<u32> list;
        for (;;) {
            if (p % block == 0) {
                EXPECT_EQ(be32(image, p), 0u) << "list block of " << f.name;
                hold(p / block);
                f.blocks.push_back(p / block);
                p += 4;
            }
            if (p + 2 > image.size()) {
                ADD_FAILURE() << "list of " << f.name << " runs off the device";
                return files;
            }
            const u16 entry = be16(image, p);
            p += 2;
            if (entry == 0)
                break;
            list.push_back(entry);
        }
        const Place place = placeOf(size, block);
        EXPECT_EQ(list.size(), place.a) << f.name;
        // A data start a block past the list's end holds that block too.
        for (u32 extra = (p - 1) / block + 1; extra <= n + place.b; ++extra) {
            hold(extra);
            f.blocks.push_back(extra);
        }
        p = (n + place.b) * block + place.c;
        const u32 end = (n + place.b + 1) * block;
        for (; p < end && f.data.size() < size; ++p)
            f.data.push_back(image[p]);
        for (u32 b : list) {
            hold(b);
            if (b >= count)
                return files;
            f.blocks.push_back(b);
            EXPECT_EQ(be32(image, b * block), 0u) << "data block " << b;
            for (u32 k = 4; k < block && f.data.size() < size; ++k)
                f.data.push_back(image[b * block + k]);
        }
        EXPECT_EQ(f.data.size(), size) << f.name;
        files[f.name] = f;
    }
    return files;
}

// Blocks a save of size bytes takes.
u32 blocksNeeded(u32 size, u32 block)
{
    const Place p = placeOf(size, block);
    return 1 + p.b + p.a;
}

u32 largestFitting(u32 freeBlocks, u32 block)
{
    u32 low = 0;
    u32 high = freeBlocks * block;
    while (low < high) {
        const u32 mid = (low + high + 1) / 2;
        if (blocksNeeded(mid, block) <= freeBlocks)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

}  // namespace

// ---- The runner ----------------------------------------------------------

class BupTest : public BiosTest {
protected:
    static constexpr u32 kCalls = 0x06030000;
    static constexpr u32 kResults = 0x06031000;
    static constexpr u32 kDone = 0x0603FFF0;
    static constexpr u32 kInitLong = 0x06000358;  // the service table's BUP_Init
    static constexpr u32 kWork = 0x06011000;      // the library table BUP_Init fills
    static constexpr u32 kConfig = 0x06011100;
    static constexpr u32 kStat = 0x06011200;
    static constexpr u32 kDate = 0x06011300;
    static constexpr u32 kNames = 0x06012000;
    static constexpr u32 kDir = 0x06014000;
    static constexpr u32 kSource = 0x06040000;
    static constexpr u32 kReadBack = 0x06080000;
    static constexpr u32 kSourceBytes = 0x10000;

    enum Slot : u32 { kSelPart = 1, kFormat, kStatus, kWrite, kRead, kDelete, kDirectory, kVerify, kGetDate, kSetDate };
    struct Call {
        u32 entryLong;
        u32 r4 = 0, r5 = 0, r6 = 0, r7 = 0;
    };

    void SetUp() override
    {
        BiosTest::SetUp();
        const std::vector<u8> runner = loadProgram("sh2", "bup_runner");
        ASSERT_FALSE(runner.empty());
        std::memcpy(ram() + (BIOS::kProgramEntry & 0xFFFFF), runner.data(), runner.size());
        std::mt19937 random(2026);
        for (u32 k = 0; k < kSourceBytes; ++k)
            ram()[(kSource & 0xFFFFF) + k] = static_cast<u8>(random());
    }

    static Call init() { return {kInitLong, 0x06000000, kWork, kConfig, 0}; }
    static Call lib(Slot slot, u32 r4 = 0, u32 r5 = 0, u32 r6 = 0, u32 r7 = 0)
    {
        return {kWork + 4 * slot, r4, r5, r6, r7};
    }

    // The program starts from the reset entry the first time, through
    // SYS_INIT, and at the program entry afterwards; `frames` runs the whole machine.
    std::vector<u32> runCalls(const std::vector<Call>& calls, bool frames = false)
    {
        u32 at = kCalls;
        for (const Call& c : calls) {
            for (u32 v : {c.entryLong, c.r4, c.r5, c.r6, c.r7}) {
                setRamLong(at, v);
                at += 4;
            }
        }
        setRamLong(at, 0);
        setRamLong(kDone, 0);
        if (m_booted)
            master().setPC(BIOS::kProgramEntry);
        m_booted = true;
        for (int i = 0; i < 400 && ramLong(kDone) == 0; ++i) {
            if (frames)
                sys->runFrame();
            else
                run(master(), 100000);
        }
        EXPECT_EQ(ramLong(kDone), 1u);
        std::vector<u32> results;
        for (u32 k = 0; k < calls.size(); ++k)
            results.push_back(ramLong(kResults + 4 * k));
        return results;
    }

    // A directory entry (or a bare name) at slot n of the names area.
    u32 entry(u32 n, const std::string& name, u32 size = 0, u32 date = 0)
    {
        const u32 address = kNames + 64 * n;
        u8* p = ram() + (address & 0xFFFFF);
        std::memset(p, 0, 64);
        std::memcpy(p, name.data(), name.size());
        std::memcpy(p + 12, "COMMENT", 7);
        p[23] = 1;
        storeBe32(p + 24, date);
        storeBe32(p + 28, size);
        return address;
    }
    std::vector<u8> source(u32 offset, u32 size) const
    {
        const u8* p = sys->memory().workRamHigh.get() + (kSource & 0xFFFFF) + offset;
        return {p, p + size};
    }
    std::vector<u8> readBack(u32 offset, u32 size)
    {
        const u8* p = ram() + (kReadBack & 0xFFFFF) + offset;
        return {p, p + size};
    }
    u32 stat(int k) { return ramLong(kStat + 4 * static_cast<u32>(k)); }

    // The backup file the machine writes once the memory has been left
    // alone for a field.
    std::vector<u8> savedBackup()
    {
        TempDir dir;
        const std::string path = dir.file("sat.bup");
        std::vector<u8> scratch(SystemMemory::kBackupSize);
        sys->backupFile().load("TEST", path, scratch.data(), SystemMemory::kBackupSize);
        sys->saveBackupRam();
        sys->saveBackupRam();
        return readBytes(path);
    }

    bool m_booted = false;
};

TEST_F(BupTest, SavesAreWrittenListedReadDeletedAndFillTheMemory)
{
    // Cleared memory is formatted at boot; formatting again changes nothing.
    // No cartridge: the configuration shows no cartridge unit.
    EXPECT_EQ(runCalls({init(), lib(kStatus, 0, 0, kStat), lib(kFormat, 0), lib(kStatus, 0, 28, kStat),
                        lib(kStatus, 1, 0, kStat), lib(kStatus, 3, 0, kStat)}),
              (std::vector<u32>{0, 0, 0, 0, 1, 1}));
    EXPECT_TRUE(log.contains("BIOS: Format internal backup memory\n"));
    for (u32 k = 0; k < 11; ++k)
        EXPECT_EQ(ramLong(kWork + 4 * k), 0x06000760 + 4 * k);
    EXPECT_EQ(ramLong(kConfig), 0x00010001u);
    EXPECT_EQ(ramLong(kConfig + 4), 0u);
    EXPECT_EQ(ramLong(kConfig + 8), 0u);
    EXPECT_EQ((std::vector<u32>{stat(0), stat(1), stat(2), stat(3), stat(4), stat(5)}),
              (std::vector<u32>{32768, 512, 64, 29550, 510, 510}));
    EXPECT_TRUE(log.contains("BIOS: Device number is invalid [device: 3]\n"));

    // Sizes on both sides of the first block's room and of its list.
    const std::vector<std::pair<std::string, u32>> saves = {
        {"S28", 28}, {"S29", 29}, {"S840", 840}, {"S841", 841}, {"S2580", 2580}};
    std::vector<Call> calls;
    for (u32 k = 0; k < saves.size(); ++k)
        calls.push_back(lib(kWrite, 0, entry(k, saves[k].first, saves[k].second, 1000 + k), kSource + 0x100 * k, 1));
    calls.push_back(lib(kDirectory, 0, entry(8, "S"), 8, kDir));
    for (u32 k = 0; k < saves.size(); ++k)
        calls.push_back(lib(kRead, 0, entry(10 + k, saves[k].first), kReadBack + 0x1000 * k));
    calls.push_back(lib(kVerify, 0, entry(16, "S2580"), kSource + 0x400));
    calls.push_back(lib(kVerify, 0, entry(17, "S29"), kSource));
    calls.push_back(lib(kWrite, 0, entry(18, "S28", 28), kSource, 1));
    EXPECT_EQ(runCalls(calls), (std::vector<u32>{0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 7, 6}));
    const u16 expectedBlocks[] = {1, 2, 15, 16, 45};
    for (u32 k = 0; k < saves.size(); ++k) {
        const u8* d = ram() + (kDir & 0xFFFFF) + 36 * k;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(d)), saves[k].first);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(d + 12)), "COMMENT");
        EXPECT_EQ(d[23], 1);
        EXPECT_EQ(loadBe32(d + 24), 1000 + k);
        EXPECT_EQ(loadBe32(d + 28), saves[k].second);
        EXPECT_EQ(loadBe16(d + 32), expectedBlocks[k]) << saves[k].first;
        EXPECT_EQ(readBack(0x1000 * k, saves[k].second), source(0x100 * k, saves[k].second)) << saves[k].first;
    }

    // Delete one; the rest lists past the capacity as a negative count.
    EXPECT_EQ(runCalls({lib(kDelete, 0, entry(0, "S840")), lib(kRead, 0, entry(0, "S840"), kReadBack),
                        lib(kDirectory, 0, entry(1, "S"), 2, kDir), lib(kStatus, 0, 0, kStat)}),
              (std::vector<u32>{0, 5, static_cast<u32>(-4), 0}));
    const u32 freeBlocks = 510 - (1 + 2 + 16 + 45);
    EXPECT_EQ(stat(4), freeBlocks);

    // The largest save that fits, then nothing more: a full memory has
    // nothing free.
    const u32 largest = largestFitting(freeBlocks, kInternalBlock);
    EXPECT_EQ(runCalls({lib(kWrite, 0, entry(0, "BIG", largest + 1), kSource, 1),
                        lib(kWrite, 0, entry(1, "BIG", largest), kSource, 1), lib(kStatus, 0, 1, kStat),
                        lib(kWrite, 0, entry(2, "ONE", 1), kSource, 1)}),
              (std::vector<u32>{4, 0, 0, 4}));
    EXPECT_EQ(stat(3), 0u) << "free size";
    EXPECT_EQ(stat(4), 0u) << "free blocks";
    EXPECT_EQ(stat(5), 0u);

    const std::map<std::string, SavedFile> files = readDevice(savedBackup(), kInternalBlock);
    ASSERT_EQ(files.size(), 5u);
    for (u32 k : {0u, 1u, 3u, 4u}) {
        const SavedFile& f = files.at(saves[k].first);
        EXPECT_EQ(f.data, source(0x100 * k, saves[k].second)) << f.name;
        EXPECT_EQ(f.blocks.size(), expectedBlocks[k]) << f.name;
        EXPECT_EQ(f.comment, "COMMENT");
        EXPECT_EQ(f.date, 1000 + k);
    }
    EXPECT_EQ(files.at("BIG").data, source(0, largest));
    EXPECT_EQ(files.at("BIG").blocks.size(), freeBlocks);
}

// SYS_CHGSYSCK switches the clock both ways through the SMPC, takes its NMI,
// restores the program's SCU mask, records the clock and returns.
TEST_F(BupTest, ClockChangeServiceSwitchesBothWaysAndReturns)
{
    runCalls({init(), {0x06000340, 0xBFFE}}, true);  // SYS_SETSCUIM
    const u32 mask = sys->scu().mask();
    for (u32 fast : {1u, 0u}) {
        runCalls({{0x06000320, fast}}, true);
        EXPECT_EQ(sys->period(), fast ? 17u : 18u);
        EXPECT_EQ(sys->smpc().clock352(), fast == 1);
        EXPECT_EQ(ramLong(0x06000324), fast);
        EXPECT_EQ(sys->scu().mask(), mask) << "the program's mask is back";
    }
}

// A save replaced by one that does not fit stays as it was.
TEST_F(BupTest, ReplacingChecksTheNewSaveFitsFirst)
{
    const u32 filler = largestFitting(510 - 1 - 3, kInternalBlock);
    EXPECT_EQ(runCalls({init(), lib(kFormat, 0), lib(kWrite, 0, entry(0, "A", 28), kSource, 1),
                        lib(kWrite, 0, entry(1, "FILL", filler), kSource, 1),
                        lib(kWrite, 0, entry(2, "A", 250), kSource + 0x100, 0),
                        lib(kRead, 0, entry(3, "A"), kReadBack), lib(kStatus, 0, 0, kStat)}),
              (std::vector<u32>{0, 0, 0, 0, 4, 0, 0}));
    EXPECT_EQ(stat(4), 3u);
    EXPECT_EQ(readBack(0, 28), source(0, 28));

    EXPECT_EQ(runCalls({lib(kWrite, 0, entry(0, "A", 100), kSource + 0x100, 0),
                        lib(kRead, 0, entry(1, "A"), kReadBack), lib(kStatus, 0, 0, kStat),
                        lib(kDelete, 0, entry(2, "A")), lib(kRead, 0, entry(3, "A"), kReadBack)}),
              (std::vector<u32>{0, 0, 0, 0, 5}));
    EXPECT_EQ(readBack(0, 100), source(0x100, 100));
    EXPECT_EQ(stat(4), 1u);
    EXPECT_EQ(readDevice(savedBackup(), kInternalBlock).count("FILL"), 1u);
}

// The cartridge device is the cartridge's own memory: a save beyond it is
// refused, and what is written lands in the cartridge's data.
TEST_F(BupTest, CartridgeDeviceHasTheCartridgesSize)
{
    auto card = std::make_shared<CartBUP512K>();
    sys->insertCartridge(card);
    sys->cartridgeId = card->getId();
    // The boot leaves the cartridge as it found it.
    EXPECT_EQ(runCalls({init(), lib(kStatus, 1, 0, kStat), lib(kFormat, 1), lib(kStatus, 1, 1000, kStat),
                        lib(kWrite, 1, entry(0, "HUGE", 0x80000), kSource, 1),
                        lib(kWrite, 1, entry(1, "CART", 1000), kSource, 1), lib(kRead, 1, entry(2, "CART"), kReadBack),
                        lib(kSelPart, 1), lib(kSelPart, 2)}),
              (std::vector<u32>{0, 2, 0, 0, 4, 0, 0, 0, 1}));
    EXPECT_EQ(ramLong(kConfig + 4), 0x00020001u);
    EXPECT_EQ((std::vector<u32>{stat(0), stat(1), stat(2), stat(3), stat(4), stat(5)}),
              (std::vector<u32>{0x80000, 1024, 512, 1022 * 506 - 30, 1022, 1022 / blocksNeeded(1000, 512)}));
    EXPECT_EQ(readBack(0, 1000), source(0, 1000));
    std::vector<u8> image(card->data(), card->data() + card->size());
    const std::map<std::string, SavedFile> files = readDevice(image, 512);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.at("CART").data, source(0, 1000));
}

// Damaged records answer BROKEN and never lead outside the device.
TEST_F(BupTest, DamagedRecordsAnswerBroken)
{
    EXPECT_EQ(runCalls({init(), lib(kFormat, 0), lib(kWrite, 0, entry(0, "A", 100), kSource, 1),
                        lib(kWrite, 0, entry(1, "B", 100), kSource, 1)}),
              (std::vector<u32>{0, 0, 0, 0}));
    u8* cells = sys->memory().backup.get();
    storeBe16(cells + 2 * kInternalBlock + 34, 0x7FFF);   // A's first data block, past the device
    storeBe32(cells + 5 * kInternalBlock + 30, 0xFFFFFFF0);  // B's size; A holds blocks 2 to 4
    EXPECT_EQ(runCalls({lib(kRead, 0, entry(0, "A"), kReadBack), lib(kVerify, 0, entry(1, "A"), kSource),
                        lib(kRead, 0, entry(2, "B"), kReadBack), lib(kStatus, 0, 0xFFFFFFFF, kStat),
                        lib(kDirectory, 0, entry(3, "A"), 4, kDir), lib(kDelete, 0, entry(4, "A")),
                        lib(kDelete, 0, entry(5, "B")), lib(kStatus, 0, 0, kStat)}),
              (std::vector<u32>{8, 8, 8, 0, 1, 8, 8, 0}));
    EXPECT_TRUE(log.contains("BIOS: Mark record failed [BN: 7FFF]\n"));
    EXPECT_EQ(stat(4), 510u) << "deleted records free their blocks";
}

// Saves written by an independent script in the console's layout load,
// list with the console's block counts and read back; a save written
// beside them takes none of their blocks.
TEST_F(BupTest, SavesMadeElsewhereReadBack)
{
    const std::vector<u8> image = readBytes(KEST_BUP_IMAGE);
    ASSERT_EQ(image.size(), SystemMemory::kBackupSize);
    std::memcpy(sys->memory().backup.get(), image.data(), image.size());
    const u32 sizes[] = {28, 840, 841, 898, 2000, 2580};
    const u16 blocks[] = {1, 15, 16, 16, 35, 45};
    std::vector<Call> calls = {init(), lib(kDirectory, 0, entry(0, "S"), 8, kDir)};
    for (u32 k = 0; k < 6; ++k)
        calls.push_back(lib(kRead, 0, entry(1 + k, "S" + std::to_string(sizes[k])), kReadBack + 0x1000 * k));
    calls.insert(calls.end(), {lib(kStatus, 0, 0, kStat), lib(kWrite, 0, entry(8, "NEW", 900), kSource, 1),
                               lib(kWrite, 0, entry(9, "NEW", 900), kSource, 1),
                               lib(kWrite, 0, entry(10, "NEW", 1000), kSource, 0),
                               lib(kDirectory, 0, entry(11, ""), 8, kDir + 0x400)});
    // The boot left the formatted memory alone; an empty name lists every save.
    EXPECT_EQ(runCalls(calls), (std::vector<u32>{0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 6, 0, 7}));
    u32 held = 0;
    for (u32 k = 0; k < 6; ++k) {
        std::vector<u8> data(sizes[k]);
        for (u32 i = 0; i < sizes[k]; ++i)
            data[i] = static_cast<u8>(i * 7 + sizes[k]);
        EXPECT_EQ(readBack(0x1000 * k, sizes[k]), data) << sizes[k];
        EXPECT_EQ(loadBe16(ram() + (kDir & 0xFFFFF) + 36 * k + 32), blocks[k]) << sizes[k];
        held += blocks[k];
    }
    EXPECT_EQ(stat(4), 510 - held);
    EXPECT_TRUE(log.contains("owsw: ON, status: FOUND]\n"));
    EXPECT_TRUE(log.contains("owsw: OFF, status: SUCCESS]\n"));
    std::set<std::string> listed;
    for (u32 k = 0; k < 7; ++k)
        listed.insert(reinterpret_cast<const char*>(ram() + ((kDir + 0x400) & 0xFFFFF) + 36 * k));
    EXPECT_EQ(listed, (std::set<std::string>{"NEW", "S28", "S840", "S841", "S898", "S2000", "S2580"}));
    EXPECT_FALSE(log.contains("Format internal backup memory"));

    const std::map<std::string, SavedFile> files = readDevice(savedBackup(), kInternalBlock);
    ASSERT_EQ(files.size(), 7u);
    EXPECT_EQ(files.at("NEW").data, source(0, 1000));
    EXPECT_EQ(files.at("S898").data.size(), 898u);
}

// A damaged memory where every block starts a save and no list ends costs
// each service one walk over the device, not one per save.
TEST_F(BupTest, DamagedMemoryIsWalkedOncePerService)
{
    EXPECT_EQ(runCalls({init(), lib(kFormat, 0)}), (std::vector<u32>{0, 0}));
    u8* cells = sys->memory().backup.get();
    // Read as list entries from byte 4, no two bytes of a block make a zero
    // entry: every list runs on to the device's end.
    for (u32 n = 2; n < 512; ++n) {
        u8* b = cells + n * kInternalBlock;
        storeBe32(b, 0x80000000);
        std::memcpy(b + 4, "SAVE_000000", 11);
        b[15] = 1;  // language
        std::memcpy(b + 16, "COMMENT___", 10);
        storeBe32(b + 26, 0x01010101);
        storeBe32(b + 30, 0x01010101);
        for (u32 k = 34; k < kInternalBlock; k += 2)
            storeBe16(b + k, 0x0003);
    }
    const BIOS::BUP& device = bios().bup(0);
    for (const Call& c : {lib(kStatus, 0, 100, kStat), lib(kDirectory, 0, entry(0, "SAVE"), 600, kDir),
                          lib(kRead, 0, entry(1, "SAVE_000000"), kReadBack)}) {
        const u64 before = device.bytesRead;
        runCalls({c});
        EXPECT_LT(device.bytesRead - before, 16u * SystemMemory::kBackupSize) << std::hex << c.entryLong;
    }
    EXPECT_EQ(ramLong(kResults), 8u) << "a list without an end is broken";
}

namespace {

using namespace std::chrono;

// A local time given by its fields and the zone's offset at that moment.
struct LocalDate {
    year_month_day day;
    int hour, minute;
    int offsetMinutes;
    sys_seconds utc() const { return sys_days{day} + hours{hour} + minutes{minute - offsetMinutes}; }
};

}  // namespace

// Minutes since 1980-01-01 00:00 local time both ways, against calendar
// arithmetic with the zone's offsets written out.
TEST_F(BupTest, DatesInUtcAndInASummerTimeZone)
{
    const struct {
        const char* zone;
        int winter, summer;  // offsets in minutes
    } zones[] = {{"UTC0", 0, 0}, {"CET-1CEST,M3.5.0,M10.5.0/3", 60, 120}};
    for (const auto& z : zones) {
        ScopedTimeZone scope(z.zone);
        const LocalDate epoch{1980y / January / 1, 0, 0, z.winter};
        const LocalDate dates[] = {
            epoch,
            {1980y / July / 1, 12, 34, z.summer},
            {1999y / December / 31, 23, 59, z.winter},
            {2026y / August / 15, 8, 0, z.summer},
            {2100y / February / 28, 6, 7, z.winter},
        };
        for (const LocalDate& d : dates) {
            const u32 m = static_cast<u32>(duration_cast<minutes>(d.utc() - epoch.utc()).count());
            std::vector<Call> calls = {lib(kGetDate, m, kDate)};
            if (!m_booted)
                calls.insert(calls.begin(), init());
            runCalls(calls);
            const u8* r = ram() + (kDate & 0xFFFFF);
            const int year = static_cast<int>(d.day.year());
            EXPECT_EQ((std::vector<u8>(r, r + 6)),
                      (std::vector<u8>{static_cast<u8>(year - 1980), static_cast<u8>(unsigned(d.day.month())),
                                       static_cast<u8>(unsigned(d.day.day())), static_cast<u8>(d.hour),
                                       static_cast<u8>(d.minute),
                                       static_cast<u8>(weekday{sys_days{d.day}}.c_encoding())}))
                << z.zone << " " << year;
            EXPECT_EQ(runCalls({lib(kSetDate, kDate)}), std::vector<u32>{m}) << z.zone << " " << year;
        }
        EXPECT_TRUE(log.contains("M: 00000000(Tue Jan  1 00:00:00 1980)]\n"));
    }
    // Far past four-digit years the text keeps its width.
    log.clear();
    runCalls({lib(kGetDate, 0xFFFFFFFF, kDate)});
    EXPECT_TRUE(log.contains(" 9999)]\n")) << log.text();
}
