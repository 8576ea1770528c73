#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

#include "board/cart/eeprom.h"
#include "core/helpers.h"
#include "core/kest.h"
#include "core/shared_state.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

// What stands at a save file's path before the run.
enum class Found { kWhole, kShort, kLong, kFolder, kFifo, kForeign };

struct SaveKind {
    const char* name;
    const char* file;  // under the data folder
    u32 size;
    // Changes the memory as a game would and makes the machine save it.
    std::function<void(Kest&)> write;
    // The byte the write puts at offset 0 of the file, or -1 when the file
    // is written as it was loaded.
    int written;
};

void busWrite(Kest& kest, u32 address, u8 value)
{
    CSystem& sys = kest.getSystem();
    sys.master().pageMap()->writeByte(nullptr, address, value);
}

const SaveKind kKinds[] = {
    {"backup memory", "saves/bup.bup", 0x8000,
     [](Kest& k) {
         busWrite(k, 0x00180001, 0x21);
         for (int i = 0; i < 3; ++i)
             k.update();
     },
     0x21},
    {"backup cartridge", "saves/card.bup", 0x80000, [](Kest& k) { busWrite(k, 0x04000001, 0x77); }, 0x77},
    {"EEPROM", "saves/stv_eeprom.sav", EEPROM::kBytes,
     [](Kest& k) {
         k.loadEeprom();
         boardEeprom().data()[0] = 0x5E;
     },
     0x5E},
    {"battery", "saves/sat_battery.sav", 32, [](Kest& k) { k.getSystem().smpc().saveBattery(); }, -1},
};

std::vector<u8> contentsOf(const SaveKind& kind, Found found)
{
    std::vector<u8> bytes(found == Found::kShort ? kind.size / 2 : found == Found::kLong ? kind.size * 2 : kind.size);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<u8>(i * 7 + 1);
    // A battery record starts with its magic, a foreign file with anything else.
    // A whole battery record holds only the values the machine writes back.
    if (std::string(kind.file).ends_with("battery.sav") && found != Found::kForeign) {
        std::copy_n("KEST BATTERY\0\0\0\0\1\0\0\0", std::min<std::size_t>(20, bytes.size()), bytes.begin());
    }
    return bytes;
}

class SaveFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        savedEeprom.assign(boardEeprom().data(), boardEeprom().data() + boardEeprom().size());
    }
    void TearDown() override
    {
        scheduler().clear();
        std::copy(savedEeprom.begin(), savedEeprom.end(), boardEeprom().data());
    }

    // A console run of a BIOS that spins, with a 512 KB backup cartridge,
    // in which the kind's memory is written and the machine stopped.
    void runWriting(const TempDir& dir, const SaveKind& kind)
    {
        std::vector<u8> bios(SystemMemory::kBiosSize, 0);
        const u8 spin[] = {0, 0, 1, 0, 6, 0x10, 0, 0};  // PC 0x100, SP 0x06100000; "bra ." there
        std::copy(std::begin(spin), std::end(spin), bios.begin());
        bios[0x100] = 0xAF, bios[0x101] = 0xFE, bios[0x102] = 0x00, bios[0x103] = 0x09;
        ASSERT_TRUE(saveFile(dir.file("bios.bin"), bios.data(), SystemMemory::kBiosSize));
        const std::string settings = "[Path]\r\nsat_bios = bios.bin\r\nsat_bup = saves/bup.bup\r\n"
                                     "sat_memcard = saves/card.bup\r\n[General]\r\ncartridge = 4\r\n";
        ASSERT_TRUE(saveFile(dir.file("kest.ini"), settings.data(), static_cast<u32>(settings.size())));
        auto kest = std::make_unique<Kest>();
        kest->setDataFolder(dir.path().string());
        ASSERT_TRUE(kest->prepare(nullptr));
        ASSERT_TRUE(kest->open("", 0));
        kest->start();
        ASSERT_TRUE(kest->resume());
        kest->update();
        kind.write(*kest);
        kest->stop();
    }

    std::vector<u8> savedEeprom;
};

}  // namespace

// Whatever stands at a save file's path and is not a whole file of that
// kind is left byte for byte as it was after a run that writes the memory.
TEST_F(SaveFiles, OnlyWholeFilesAreWrittenBack)
{
    for (const SaveKind& kind : kKinds) {
        for (Found found : {Found::kWhole, Found::kShort, Found::kLong, Found::kFolder, Found::kFifo, Found::kForeign}) {
            if (found == Found::kForeign && kind.written != -1)
                continue;  // only the battery recognises its contents
            SCOPED_TRACE(std::string(kind.name) + " case " + std::to_string(static_cast<int>(found)));
            TempDir dir;
            std::filesystem::create_directories(dir.file("saves"));
            const std::string path = dir.file(kind.file);
            const std::vector<u8> before = contentsOf(kind, found);
            if (found == Found::kFolder)
                std::filesystem::create_directory(path);
            else if (found == Found::kFifo)
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            else
                ASSERT_TRUE(saveFile(path, before.data(), static_cast<u32>(before.size())));

            LogCapture log;
            runWriting(dir, kind);
            if (found == Found::kFolder) {
                EXPECT_TRUE(std::filesystem::is_directory(path));
                EXPECT_TRUE(std::filesystem::is_empty(path));
            } else if (found == Found::kFifo) {
                EXPECT_TRUE(std::filesystem::is_fifo(path));
            } else if (found == Found::kWhole) {
                std::vector<u8> after = before;
                if (kind.written >= 0)
                    after[0] = static_cast<u8>(kind.written);
                EXPECT_EQ(readBytes(path), after);
            } else {
                EXPECT_EQ(readBytes(path), before);
            }
            const bool refused = found != Found::kWhole;
            EXPECT_EQ(log.contains("Save file " + path + " left untouched") || log.contains("Not a Kest battery file!"),
                      refused)
                << log.text();
            EXPECT_EQ(log.contains("Save SMPC information to disk"), kind.written == -1 && !refused) << log.text();
            for (const auto& entry : std::filesystem::directory_iterator(dir.file("saves")))
                EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << "left behind: " << entry.path();
        }
    }
}
