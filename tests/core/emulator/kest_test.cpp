#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "board/cart/cart_titan.h"
#include "board/cart/cartridge.h"
#include "board/cart/eeprom.h"
#include "core/base/helpers.h"
#include "core/emulator/kest.h"
#include "core/base/shared_state.h"
#include "support/eeprom_writer.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "video/color_tables.h"

namespace {

// Power-on PC 0x100, SP 0x06100000, and "bra ." there.
const std::vector<u8> kSpin = [] {
    std::vector<u8> image(0x104, 0);
    const u8 vectors[] = {0x00, 0x00, 0x01, 0x00, 0x06, 0x10, 0x00, 0x00};
    std::copy(std::begin(vectors), std::end(vectors), image.begin());
    image[0x100] = 0xAF;
    image[0x101] = 0xFE;
    image[0x102] = 0x00;
    image[0x103] = 0x09;
    return image;
}();

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class KestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        hostPadState[0] = hostPadState[1] = 0xFF;
        savedEeprom.assign(boardEeprom().data(), boardEeprom().data() + boardEeprom().size());
        kest = std::make_unique<Kest>();
        kest->setDataFolder(dir.path().string());
    }
    void TearDown() override
    {
        kest.reset();
        scheduler().clear();
        hostPadState[0] = hostPadState[1] = 0xFF;
        std::copy(savedEeprom.begin(), savedEeprom.end(), boardEeprom().data());
    }

    CSystem& sys() { return kest->getSystem(); }

    // Prepared, with the program as its BIOS image, started and running.
    void boot(const std::vector<u8>& program)
    {
        ASSERT_FALSE(program.empty());
        ASSERT_TRUE(kest->prepare(nullptr));
        std::copy(program.begin(), program.end(), sys().memory().bios.get());
        kest->start();
        ASSERT_TRUE(kest->resume());
    }

    // Opened through the console road with the program as the BIOS file and
    // a 4 MB backup cartridge from card, then started and running.
    void bootWithCard(const std::vector<u8>& program, const std::vector<u8>& card)
    {
        ASSERT_TRUE(kest->prepare(nullptr));
        std::vector<u8> bios(SystemMemory::kBiosSize, 0);
        std::copy(program.begin(), program.end(), bios.begin());
        ASSERT_TRUE(saveFile(dir.file("bios/program.bin"), bios.data(), SystemMemory::kBiosSize));
        ASSERT_TRUE(saveFile(dir.file("saves/card.bup"), card.data(), static_cast<u32>(card.size())));
        writeText(dir.file("kest.ini"), "[Path]\r\nsat_memcard = saves/card.bup\r\nsat_bios = bios/program.bin\r\n"
                                         "[General]\r\ncartridge = 7\r\n");
        ASSERT_TRUE(kest->open("", 0));
        ASSERT_EQ(sys().cartridgeId, 0x24);
        kest->start();
        ASSERT_TRUE(kest->resume());
    }

    void run(int fields)
    {
        for (int i = 0; i < fields; ++i)
            ASSERT_TRUE(kest->update());
    }

    u32 workLong(u32 offset) { return loadBe32(sys().memory().workRamHigh.get() + offset); }

    TempDir dir;
    std::unique_ptr<Kest> kest;
    std::vector<u8> savedEeprom;
};

}  // namespace

TEST_F(KestTest, ConstructionAndPrepare)
{
    opaqueTable[5] = 0;
    auto fresh = std::make_unique<Kest>();
    EXPECT_EQ(opaqueTable[5], 1) << "the colour tables are built with the emulator object";
    EXPECT_EQ(fresh->name(), "KEST");
    EXPECT_EQ(fresh->machine(), &fresh->getSystem());
    EXPECT_EQ(fresh->getSystem().cartridgeId, 0xFF);
    EXPECT_EQ(fresh->cartridge(), nullptr);
    // The data folder defaults to the executable's.
    EXPECT_EQ(std::filesystem::path(fresh->dataFolder()),
              std::filesystem::canonical(std::filesystem::path(KEST_BINARY_DIR) / "tests/core/emulator"));
    fresh.reset();

    std::filesystem::create_directory(dir.path() / "saves");
    writeText(dir.file("saves/keep.bin"), "x");
    EXPECT_TRUE(kest->prepare(nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "bios"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "saves"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "saves/keep.bin")) << "an existing folder is kept";
    EXPECT_EQ(kest->softResetCounter(), 0);
    // Set-up ran: the SH-2s have their names and periods.
    EXPECT_EQ(sys().master().name(), "SH2(M)");
    EXPECT_EQ(sys().master().period(), 36u);

    EXPECT_EQ(kest->dataPath("saves/a.bup"), (dir.path() / "saves/a.bup").string());
    EXPECT_EQ(kest->dataPath("/abs/file"), "/abs/file");
    EXPECT_EQ(kest->dataPath(""), "");
}

TEST_F(KestTest, InfoAndParts)
{
    EXPECT_EQ(kest->getInfo(0), "v0.5");
    EXPECT_FALSE(kest->getInfo(1).empty());
    EXPECT_NE(kest->getInfo(1), kest->getInfo(2));
    EXPECT_EQ(kest->getInfo(3), "getInfo: null");
    EXPECT_EQ(kest->getInfo(-1), "getInfo: null");

    EXPECT_EQ(kest->getPart(0), static_cast<void*>(&sys().master()));
    EXPECT_EQ(kest->getPart(1), static_cast<void*>(&sys().slave()));
    EXPECT_EQ(kest->getPart(2), static_cast<void*>(&sys().m68k()));
    EXPECT_EQ(kest->getPart(3), nullptr);
}

TEST_F(KestTest, LifeCycle)
{
    boot(kSpin);
    EXPECT_EQ(kest->opened(), 1);
    EXPECT_EQ(kest->running(), 1);
    EXPECT_EQ(sys().runState(), kRunning);
    EXPECT_EQ(sys().master().runState(), kRunning);
    EXPECT_TRUE(kest->resume()) << "answers true even when already running";

    const u32 before = sys().frameCounter();
    run(2);
    EXPECT_EQ(sys().frameCounter(), before + 2);

    EXPECT_TRUE(kest->pause());
    EXPECT_EQ(kest->running(), 0);
    EXPECT_FALSE(kest->update()) << "a paused machine runs no field";
    EXPECT_EQ(sys().frameCounter(), before + 2);
    EXPECT_TRUE(kest->pause());

    kest->stop();
    EXPECT_EQ(kest->opened(), 0);
    EXPECT_EQ(sys().runState(), kOff);
    EXPECT_EQ(sys().master().runState(), kOff);
    EXPECT_FALSE(kest->update());
}

TEST_F(KestTest, SoftResetHoldsTheButtonsForFourFields)
{
    boot(kSpin);
    run(1);  // the first update only starts field 0
    hostPadState[0] = 0x7F;  // Right held by the player
    hostPadState[1] = 0xA7;
    LogCapture log;
    kest->softReset();
    kest->softReset();  // a second request inside the sequence starts nothing
    EXPECT_EQ(kest->softResetCounter(), 60);

    std::vector<u8> seen;
    for (int field = 0; field < 7; ++field) {
        run(1);
        seen.push_back(hostPadState[0]);
    }
    EXPECT_EQ(seen, (std::vector<u8>{0x70, 0x70, 0x70, 0x70, 0x7F, 0x7F, 0x7F}));
    EXPECT_EQ(hostPadState[1], 0xA7);
    EXPECT_EQ(kest->softResetCounter(), 53);
    EXPECT_EQ(log.text(), "KEST: Software Reset\n");

    // The rest of the sequence counts down without touching the pad.
    for (int i = 0; i < 53; ++i)
        kest->onHook(&sys());
    EXPECT_EQ(kest->softResetCounter(), 0);
    EXPECT_EQ(hostPadState[0], 0x7F);
    kest->onHook(&sys());
    EXPECT_EQ(kest->softResetCounter(), 0);
    kest->softReset();
    EXPECT_EQ(kest->softResetCounter(), 60) << "a new sequence once the last has ended";
}

TEST_F(KestTest, ResetDuringTheSoftResetReleasesTheButtons)
{
    ASSERT_TRUE(kest->prepare(nullptr));
    kest->softReset();
    kest->onHook(&sys());
    kest->onHook(&sys());
    ASSERT_EQ(hostPadState[0], 0xF0);
    kest->reset();
    EXPECT_EQ(hostPadState[0], 0xFF);
    EXPECT_EQ(kest->softResetCounter(), 0);
    for (int i = 0; i < 5; ++i)
        kest->onHook(&sys());
    EXPECT_EQ(hostPadState[0], 0xFF);

    // Before the first field nothing is pressed yet, so the player's own
    // buttons stay as they are.
    hostPadState[0] = 0xFE;
    kest->softReset();
    kest->reset();
    EXPECT_EQ(hostPadState[0], 0xFE);
}

TEST_F(KestTest, StopWritesTheEepromOnlyAfterAnArcadeLoad)
{
    ASSERT_TRUE(kest->prepare(nullptr));
    const std::string file = dir.file("saves/stv_eeprom.sav");
    std::vector<u8> settings(EEPROM::kBytes);
    for (u32 i = 0; i < settings.size(); ++i)
        settings[i] = static_cast<u8>(i * 3);
    ASSERT_TRUE(saveFile(file, settings.data(), static_cast<u32>(settings.size())));

    // A console session leaves the arcade board's file alone.
    std::fill_n(boardEeprom().data(), boardEeprom().size(), 0xFF);
    kest->start();
    kest->stop();
    EXPECT_FALSE(kest->saveEeprom());
    EXPECT_EQ(readBytes(file), settings);

    // An arcade session loads it and writes back what the chip holds.
    ASSERT_TRUE(kest->loadEeprom());
    EXPECT_TRUE(std::equal(settings.begin(), settings.end(), boardEeprom().data()));
    writeEepromWord(boardEeprom(), 0, 0x5A03);
    kest->start();
    kest->stop();
    std::vector<u8> expected = settings;
    expected[0] = 0x5A;
    EXPECT_EQ(readBytes(file), expected);

    // The next session that does not load it writes nothing.
    boardEeprom().data()[1] = 0xA5;
    kest->start();
    kest->stop();
    EXPECT_EQ(readBytes(file), expected);

    // A missing file is created from the chip's contents at load.
    std::filesystem::remove(file);
    ASSERT_TRUE(kest->loadEeprom());
    EXPECT_EQ(readBytes(file).size(), EEPROM::kBytes);
    EXPECT_EQ(readBytes(file)[1], 0xA5);
}

namespace {

// One instruction into the chip as the SMPC's port writes clock it: chip
// select, then each bit taken on a rising clock, first bit first.
void clockIn(EEPROM& chip, u32 bits, int count)
{
    chip.setCS(0);
    for (int i = count - 1; i >= 0; --i) {
        const u32 bit = (bits >> i) & 1;
        chip.setCS(1), chip.setSK(0), chip.setDI(bit);
        chip.setCS(1), chip.setSK(1), chip.setDI(bit);
    }
}

void writeWord(EEPROM& chip, u32 address, u16 value)
{
    clockIn(chip, 0b100110000, 9);  // EWEN
    clockIn(chip, (0b101u << 6 | address) << 16 | value, 25);
}

}  // namespace

// The EEPROM reaches its file as the backup memory does, a field after the
// game leaves it alone, so a run that is killed keeps what the game wrote.
TEST_F(KestTest, EepromWrittenBackOnceTheGameStopsWriting)
{
    boot(kSpin);
    const std::string file = dir.file("saves/stv_eeprom.sav");
    AK93C45AF& chip = boardEeprom();
    const std::vector<u8> blank(EEPROM::kBytes, 0xFF);
    ASSERT_TRUE(saveFile(file, blank.data(), EEPROM::kBytes));
    writeWord(chip, 0, 0x1234);  // before the load: the file's contents win
    ASSERT_TRUE(kest->loadEeprom());
    run(3);
    EXPECT_EQ(readBytes(file), blank);

    LogCapture log;
    writeWord(chip, 5, 0xC35A);
    run(1);
    EXPECT_EQ(readBytes(file)[10], 0xFF) << "written while the game may still be writing";
    run(1);
    std::vector<u8> expected = blank;
    expected[10] = 0xC3;
    expected[11] = 0x5A;
    EXPECT_EQ(readBytes(file), expected);
    EXPECT_EQ(log.text(), "EEPROM: EWEN\nKEST: Save EEPROM to disk\n");
    // Quiet data is not written again.
    std::filesystem::remove(file);
    run(3);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(KestTest, StopWritesTheBackupCartridgeAndEjectsIt)
{
    std::vector<u8> card(0x400000, 0);
    card[0] = 0x4B;
    bootWithCard(kSpin, card);
    auto* backup = dynamic_cast<CartBUP*>(kest->cartridge());
    ASSERT_NE(backup, nullptr);
    EXPECT_EQ(sys().cartridge(), kest->cartridge());
    sys().master().pageMap()->writeByte(nullptr, 0x047FFFFF, 0x54);

    kest->stop();
    const std::vector<u8> saved = readBytes(dir.file("saves/card.bup"));
    ASSERT_EQ(saved.size(), 0x400000u);
    EXPECT_EQ(saved[0], 0x4B);
    EXPECT_EQ(saved[0x3FFFFF], 0x54);
    EXPECT_EQ(kest->cartridge(), nullptr);
    EXPECT_EQ(sys().cartridge(), nullptr);

    // Only a backup cartridge made from its file has one.
    std::filesystem::remove(dir.file("saves/card.bup"));
    kest->insertCartridge(std::make_shared<CartRAM1M>());
    EXPECT_FALSE(kest->saveBackupCartridge());
    kest->insertCartridge(std::make_shared<CartBUP1M>());
    EXPECT_FALSE(kest->saveBackupCartridge());
    EXPECT_FALSE(std::filesystem::exists(dir.file("saves/card.bup")));
}

TEST_F(KestTest, BackupCartridgeWrittenBackOnceTheGameStopsWriting)
{
    bootWithCard(loadProgram("sh2", "cart_backup"), std::vector<u8>(0x400000, 0));
    const std::string file = dir.file("saves/card.bup");
    auto* raw = dynamic_cast<CartBUP*>(kest->cartridge());
    ASSERT_NE(raw, nullptr);

    LogCapture log;
    int fields = 0;
    while (readBytes(file)[0] != 'K' && fields < 6) {
        run(1);
        ++fields;
    }
    EXPECT_EQ(workLong(0), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw->data()), 4), "KEST");
    // Written at the second V-BLANK-IN after the writes, not at the first.
    EXPECT_GE(fields, 2);
    const std::vector<u8> saved = readBytes(file);
    ASSERT_EQ(saved.size(), 0x400000u);
    EXPECT_EQ(std::string(saved.begin(), saved.begin() + 4), "KEST");
    EXPECT_EQ(log.text().find("KEST: Save CartBUP4M to disk\n"), log.text().rfind("KEST: Save CartBUP4M to disk\n"));
    EXPECT_NE(log.text().find("KEST: Save CartBUP4M to disk\n"), std::string::npos);

    // Quiet data is not written again.
    std::filesystem::remove(file);
    run(3);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(KestTest, WriteBackNeedsABackupCartridgeId)
{
    writeText(dir.file("kest.ini"), "[Path]\r\nsat_memcard = saves/card.bup\r\n");
    kest->insertCartridge(std::make_shared<CartBUP512K>());
    sys().cartridgeId = 0xFF;  // e.g. left by the ROM-cartridge rule
    boot(loadProgram("sh2", "cart_backup"));
    run(4);
    EXPECT_EQ(workLong(0), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("saves/card.bup")));

    // A backup ID with another kind of cartridge held saves nothing either.
    sys().cartridgeId = 0x22;
    kest->insertCartridge(std::make_shared<CartROM>());
    run(3);
    EXPECT_FALSE(std::filesystem::exists(dir.file("saves/card.bup")));
}

TEST_F(KestTest, RamCartridgeThroughTheBusAndInstructionFetch)
{
    auto card = std::make_shared<CartRAM1M>();
    CartRAM1M* raw = card.get();
    kest->insertCartridge(std::move(card));
    LogCapture log;
    boot(loadProgram("sh2", "cart_ram"));
    run(2);
    EXPECT_EQ(workLong(0), 0x12345678u) << "0x02480000 repeats 0x02400000";
    EXPECT_EQ(raw->data()[0x80000], 0x5A) << "0x02600000 is the second bank";
    EXPECT_EQ(workLong(4), 0x6Bu) << "the routine ran from cartridge RAM";
    EXPECT_EQ(workLong(8), 1u);
    EXPECT_NE(log.text().find("CartRAM1M: Initialize RAM cartridge\n"), std::string::npos);

    // The debugger sees and changes the same bytes.
    EXPECT_EQ(sys().peekByte(0x22480001), 0x34);
    sys().pokeByte(0x02680002, 0x99);
    EXPECT_EQ(raw->data()[0x80002], 0x99);
}

TEST_F(KestTest, EjectPutsTheBaseWindowsAndFetchPagesBack)
{
    ASSERT_TRUE(kest->prepare(nullptr));
    PageMap& bus = *sys().master().pageMap();
    PageMap& slaveBus = *sys().slave().pageMap();
    auto dummyOf = [](const SH2& cpu, u32 address) {
        return cpu.directBase(address) + address == reinterpret_cast<uintptr_t>(cpu.dummyPage());
    };
    const AccessHandlers cs0 = bus.page(0x02400000);
    const AccessHandlers dummy3 = bus.page(0x057E0000);

    auto card = std::make_shared<CartRAM4M>();
    std::weak_ptr<Cartridge> watch = card;
    kest->insertCartridge(card);
    card->data()[0x10000] = 0x3C;
    EXPECT_EQ(bus.readByte(nullptr, 0x02410000), 0x3C);
    EXPECT_EQ(slaveBus.readByte(nullptr, 0x22410000), 0x3C);
    EXPECT_EQ(sys().master().directBase(0x02410000) + 0x02410000, reinterpret_cast<uintptr_t>(card->data() + 0x10000));
    EXPECT_EQ(sys().slave().directBase(0x227F0000) + 0x227F0000, reinterpret_cast<uintptr_t>(card->data() + 0x3F0000));
    card.reset();

    // A ROM cartridge in its place: nothing of the RAM cartridge stays mapped.
    auto rom = std::make_shared<CartROM>();
    rom->data()[0] = 0x5E;
    kest->insertCartridge(rom);
    EXPECT_TRUE(watch.expired());
    for (const PageMap* map : {&bus, &slaveBus}) {
        for (u32 a : {0x02400000u, 0x027F0000u, 0x22400000u, 0x057E0000u, 0x257E0000u}) {
            const AccessHandlers& h = map->page(a);
            const AccessHandlers& base = (a & 0x0FFFFFFF) >= 0x05000000 ? dummy3 : cs0;
            EXPECT_EQ(h.owner, base.owner) << std::hex << a;
            EXPECT_EQ(h.readByte, base.readByte) << std::hex << a;
            EXPECT_EQ(h.writeLong, base.writeLong) << std::hex << a;
        }
    }
    EXPECT_TRUE(dummyOf(sys().master(), 0x02400000));
    EXPECT_TRUE(dummyOf(sys().slave(), 0x227F0000));
    EXPECT_EQ(bus.readByte(nullptr, 0x22000000), 0x5E);
    EXPECT_EQ(sys().peekByte(0x02000000), 0x5E);
    EXPECT_EQ(sys().peekByte(0x02400000), 0xFF);

    // The machine keeps what it maps, whoever else lets go of it.
    std::weak_ptr<Cartridge> watchRom = rom;
    kest->insertCartridge(nullptr);
    sys().insertCartridge(rom);
    rom.reset();
    ASSERT_FALSE(watchRom.expired());
    EXPECT_EQ(bus.readByte(nullptr, 0x02000000), 0x5E);

    LogCapture log;
    sys().ejectCartridge();
    EXPECT_TRUE(watchRom.expired());
    EXPECT_EQ(bus.readByte(nullptr, 0x02000000), 0);
    EXPECT_EQ(log.text(), "SYSTEM: CS0: Bad RB [A: 02000000]\n");
    EXPECT_TRUE(dummyOf(sys().master(), 0x02000000));
    EXPECT_TRUE(dummyOf(sys().slave(), 0x221F0000));
    EXPECT_EQ(sys().peekByte(0x02000000), 0xFF);
}

TEST_F(KestTest, AWindowLaidOverTheCartridgeSurvivesItsEjection)
{
    ASSERT_TRUE(kest->prepare(nullptr));
    PageMap& bus = *sys().master().pageMap();
    auto titan = std::make_shared<CartTitan>();
    titan->data()[0x2FFFFFF] = 0x11;
    kest->insertCartridge(titan);
    EXPECT_EQ(bus.readByte(nullptr, 0x04FFFFFF), 0x11);
    sys().applyMemoryMap({sys().cartridgeIdWindow()});
    sys().cartridgeId = 0x5C;
    EXPECT_EQ(bus.readByte(nullptr, 0x04FFFFFF), 0x5C);

    kest->insertCartridge(nullptr);
    EXPECT_EQ(bus.readByte(nullptr, 0x04FFFFFF), 0x5C);
    EXPECT_EQ(sys().slave().pageMap()->readByte(nullptr, 0x24FFFFFF), 0x5C);
    LogCapture log;
    EXPECT_EQ(bus.readByte(nullptr, 0x04FEFFFF), 0);
    EXPECT_EQ(log.text(), "SYSTEM: CS1: Bad RB [A: 04FEFFFF]\n");
}

TEST_F(KestTest, DebuggerReachesTheBackupCartridge)
{
    ASSERT_TRUE(kest->prepare(nullptr));
    EXPECT_EQ(sys().peekByte(0x04000001), 0xFF) << "no cartridge";
    sys().pokeByte(0x04000001, 0x12);

    auto card = std::make_shared<CartBUP1M>();
    card->data()[0] = 0x42;
    kest->insertCartridge(card);
    EXPECT_EQ(sys().peekByte(0x04000001), 0x42);
    EXPECT_EQ(sys().peekByte(0x24000001), 0x42);
    EXPECT_EQ(sys().peekByte(0x04000000), 0xFF);
    sys().pokeByte(0x04000003, 0x77);
    sys().pokeByte(0x04000004, 0x66);
    EXPECT_EQ(card->data()[1], 0x77);
    EXPECT_EQ(card->data()[2], 0x00);
}

TEST_F(KestTest, BackupMemoryIsClearedBeforeItIsLoaded)
{
    ASSERT_TRUE(kest->prepare(nullptr));
    u8* backup = sys().memory().backup.get();
    std::fill_n(backup, SystemMemory::kBackupSize, 0xAA);

    // Neither file exists: the default file is made from an empty memory.
    EXPECT_TRUE(kest->loadBackupMemory("saves/missing.bup", "saves/stv_primary_01.bup", 8192, 0x3FFF));
    const std::vector<u8> created = readBytes(dir.file("saves/stv_primary_01.bup"));
    ASSERT_EQ(created.size(), 8192u);
    EXPECT_TRUE(std::all_of(created.begin(), created.end(), [](u8 b) { return b == 0; }));
    EXPECT_EQ(backup[0x7FFF], 0) << "the part past the arcade size is cleared too";

    // The machine writes back to the file that was read.
    std::vector<u8> image(32768, 0);
    image[1] = 'U';
    ASSERT_TRUE(saveFile(dir.file("saves/game.bup"), image.data(), 32768));
    std::fill_n(backup, SystemMemory::kBackupSize, 0xAA);
    EXPECT_TRUE(kest->loadBackupMemory("saves/game.bup", "saves/sat_primary_01.bup", 32768, 0xFFFF));
    EXPECT_EQ(backup[1], 'U');
    EXPECT_FALSE(std::filesystem::exists(dir.file("saves/sat_primary_01.bup")));
    sys().master().pageMap()->writeByte(nullptr, 0x00180001, 0x21);
    sys().saveBackupRam();
    sys().saveBackupRam();
    const std::vector<u8> saved = readBytes(dir.file("saves/game.bup"));
    ASSERT_EQ(saved.size(), 32768u);
    EXPECT_EQ(saved[0], 0x21);
    EXPECT_EQ(saved[1], 'U');
}
