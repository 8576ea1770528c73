// A disc opened after another (open, run, File > Close, open the next) runs
// exactly as when opened first in a fresh emulator.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/base/helpers.h"
#include "core/base/shared_state.h"
#include "core/emulator/kest.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

constexpr u32 kCanvasSide = 1024;
// Work RAM-H offset of the file reader's script, past its program.
constexpr u32 kScriptOffset = 0x6C000;

u64 fnv(u64 hash, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const u8*>(data);
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash;
}

// A hash of what a run shows and plays, and of every memory without a battery after it.
struct Outputs {
    u64 hash = 0xCBF29CE484222325ull;
    std::string log;
};

class Reopen : public ::testing::Test {
protected:
    void SetUp() override
    {
        canvas.assign(kCanvasSide * kCanvasSide, 0);
        hostCanvas = {canvas.data(), kCanvasSide};
        const std::string ini = "[General]\r\nkest_bios = 1\r\ncartridge = 1\r\ndirect_1 = 1\r\n";
        ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
        const std::string testdata = std::string(KEST_BINARY_DIR) + "/testdata/";
        discs = {testdata + "volume.iso", fileReaderDisc(), testdata + "ckchg.iso"};
    }
    void TearDown() override
    {
        kest.reset();
        hostCanvas = {};
        scheduler().clear();
    }

    // A disc whose program reads a file with ChgDir and ReadFile, leaving the block's filter on it.
    std::string fileReaderDisc()
    {
        const u32 words[][8] = {
            {1, 0x7000, 0, 0x00FF, 0xFFFF, 0x0200, 0, 0},  // ChgDir to the root
            {1, 0x7400, 0, 0x0000, 4, 0, 0, 0},            // ReadFile README.TXT
            {3, 0x5100, 0, 0x0000, 0, 0, 1, 0},            // until partition 0 holds it
            {2, 0x6300, 0, 0x0000, 1, 0, 512, 0x06090000}, // GetdelSctData
            {0, 0, 0, 0, 0, 0, 0, 0},
        };
        std::vector<u8> script(sizeof words);
        for (std::size_t i = 0; i < sizeof words / 4; ++i)
            storeBe32(&script[4 * i], (&words[0][0])[i]);
        const std::string scriptPath = dir.file("script.bin");
        EXPECT_TRUE(saveFile(scriptPath, script.data(), static_cast<u32>(script.size())));
        const std::string iso = dir.file("files.iso");
        const std::string programs = KEST_PROGRAMS_DIR;
        const std::string command = "python3 " + std::string(KEST_SOURCE_DIR) + "/tests/tools/make_boot_disc.py " +
                                    iso + " " + programs + "/sh2/bios_ip.bin " + programs + "/sh2/cdb_runner.bin " +
                                    KEST_SOURCE_DIR + "/tests/board/bios/disc 'KEST FILES' KEST_FILES " +
                                    std::to_string(kScriptOffset) + " " + scriptPath + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return iso;
    }

    void open(const std::string& disc)
    {
        // The canvas is the host's: it shows nothing of a closed game.
        std::fill(canvas.begin(), canvas.end(), 0u);
        ASSERT_TRUE(kest->open(disc, 0)) << disc;
        // Per-field lines too, as --verbose shows them.
        kest->getSystem().setThreshold(2);
        kest->getSystem().smpc().setHostClock([]() -> s64 { return 1767225600; });  // 2026-01-01 UTC
        kest->start();
        kest->resume();
    }
    void runFields(int fields, Outputs* run)
    {
        for (int i = 0; i < fields; ++i) {
            kest->update();
            s16 pairs[2 * SampleBuffer::kPairs];
            const u32 n = kest->getSystem().takeSamples(pairs, SampleBuffer::kPairs);
            if (!run)
                continue;
            run->hash = fnv(run->hash, pairs, n * 4);
            const DisplaySize size = kest->getSystem().getDisplaySize();
            for (u32 y = 0; y < size.height && y < kCanvasSide; ++y)
                run->hash = fnv(run->hash, &canvas[y * kCanvasSide], 4 * std::min(size.width, kCanvasSide));
        }
    }
    // Disc b opened after disc a ran for some fields, or (a empty) first.
    Outputs runSecond(const std::string& a, int aFields, const std::string& b, int bFields)
    {
        kest.reset();
        scheduler().clear();
        hostPadState[0] = hostPadState[1] = 0xFF;
        kest = std::make_unique<Kest>();
        kest->setDataFolder(dir.path().string());
        kest->prepare(nullptr);
        if (!a.empty()) {
            open(a);
            runFields(aFields, nullptr);
            kest->pause();
            kest->stop();
        }
        LogCapture log;
        open(b);
        return follow(bFields, log);
    }
    // The next fields' outputs, then the memories.
    Outputs follow(int fields, const LogCapture& log)
    {
        Outputs run;
        runFields(fields, &run);
        run.log = log.text();
        SystemMemory& m = kest->getSystem().memory();
        using M = SystemMemory;
        for (const auto& [bytes, size] : {std::pair{&m.workRamLow, M::kWorkRamSize}, {&m.workRamHigh, M::kWorkRamSize},
                                          {&m.vdp1Memory, M::kVdp1Size}, {&m.vdp2Vram, M::kVdp2VramSize},
                                          {&m.vdp2ColorRam, M::kVdp2ColorRamSize}, {&m.soundRam, M::kSoundRamSize},
                                          {&m.backup, M::kBackupSize}})
            run.hash = fnv(run.hash, bytes->get(), size);
        return run;
    }

    TempDir dir;
    std::vector<u32> canvas;
    std::vector<std::string> discs;
    std::unique_ptr<Kest> kest;
};

TEST_F(Reopen, SecondDiscRunsAsIfOpenedFirst)
{
    constexpr int kFields = 110;
    const char* names[] = {"volume", "files", "clock change"};
    // Backup memory is the user's and outlives games: format it once, before every run.
    runSecond("", 0, discs[0], 10);
    const Outputs first[] = {runSecond("", 0, discs[0], kFields), runSecond("", 0, discs[1], kFields),
                             runSecond("", 0, discs[2], kFields)};
    ASSERT_NE(first[0].log.find("CdPlay<END>"), std::string::npos);
    ASSERT_NE(first[1].log.find("ReadFile<END>"), std::string::npos);  // both get as far as their reads
    ASSERT_NE(first[2].log.find("SYS_NMI after a clock change"), std::string::npos);
    // A closed while it reads, or after it switched to the 352-dot clock.
    for (std::size_t a = 0; a < 3; ++a) {
        const std::size_t b = (a + 1) % 3;
        const Outputs second = runSecond(discs[a], 60, discs[b], kFields);
        EXPECT_EQ(second.hash, first[b].hash) << names[a] << " first";
        EXPECT_EQ(second.log, first[b].log) << names[a] << " first";
    }
}

// A file that cannot start, of any kind, leaves the game that runs exactly
// as it was: still paused, and its next fields the same as without it.
TEST_F(Reopen, RefusedFilesLeaveTheRunningGameAsItWas)
{
    const std::string ini = "[Path]\r\nstv_bios = " KEST_ROMSET_DIR "/stv_bios.bin\r\n[General]\r\nkest_bios = 1\r\n"
                            "cartridge = 1\r\ndirect_1 = 1\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    std::filesystem::copy_file(KEST_DATA_DIR "/romset/data.json", dir.file("data.json"));
    ASSERT_TRUE(saveFile(dir.file("notes.txt"), "not a disc", 10));
    std::vector<u8> image = readBytes(discs[0]);
    storeBe32(&image[0xE0], 0x000FE001);  // an initial program larger than work RAM
    ASSERT_TRUE(saveFile(dir.file("big.iso"), image.data(), static_cast<u32>(image.size())));
    ASSERT_EQ(std::system(("cd '" + dir.path().string() + "' && zip -q notarcade.zip notes.txt").c_str()), 0);
    const std::vector<std::string> refused = {dir.file("notes.txt"), dir.file("big.iso"), dir.file("notarcade.zip"),
                                              KEST_ROMSET_DIR "/kestgame.zip"};
    const auto run = [&](bool refuse) {
        runSecond("", 0, discs[1], 60);
        kest->pause();
        for (const std::string& file : refuse ? refused : std::vector<std::string>{}) {
            EXPECT_FALSE(kest->open(file, 0)) << file;
            EXPECT_TRUE(kest->opened() && !kest->running()) << file;
        }
        kest->resume();
        LogCapture log;
        return follow(60, log);
    };
    run(false);  // formats the backup memory, as the first run of all does
    const Outputs plain = run(false);
    const Outputs refusing = run(true);
    EXPECT_EQ(refusing.hash, plain.hash);
    EXPECT_EQ(refusing.log, plain.log);
}

}  // namespace
