#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/base/bus.h"
#include "core/base/helpers.h"
#include "core/base/shortcuts.h"
#include "support/files.h"
#include "support/png_reader.h"
#include "headless_run.h"

namespace {

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

}  // namespace

TEST(Headless, HelpAndBadArguments)
{
    HeadlessRun help = runHeadless("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--fields N"), std::string::npos);
    HeadlessRun bad = runHeadless("--fields x");
    EXPECT_NE(bad.status, 0);
    HeadlessRun two = runHeadless("a.iso b.iso");
    EXPECT_NE(two.status, 0);
}

// The window's refusals, with the same reason: a file of no kind that
// opens, and a disc cut short inside its system area.
TEST(Headless, FilesThatCannotStartEndTheRunWithTheReason)
{
    TempDir dir;
    std::vector<u8> disc = readBytes(KEST_BINARY_DIR "/testdata/boot.iso");
    ASSERT_GT(disc.size(), 20u * 1024);
    ASSERT_TRUE(saveFile(dir.file("cut.iso"), disc.data(), 20 * 1024));
    const struct {
        std::string file, reason;
    } cases[] = {
        {"game.chd", "KEST: Not a disc image or ROM set [path: game.chd]: Kest opens disc images (cue, bin, mdf, "
                     "img, iso, mds, ccd), arcade ROM sets (zip) and CD drives\n"},
        {dir.file("cut.iso"), "KEST: Disc system area cannot be read [path: " + dir.file("cut.iso") + ", FAD: 160]"},
    };
    for (const auto& c : cases) {
        HeadlessRun run = runHeadless("--data " + dir.path().string() + " --fields 1 " + c.file);
        EXPECT_EQ(WEXITSTATUS(run.status), 3) << run.output;
        EXPECT_NE(run.output.find("kest-headless: cannot start: " + c.reason), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("Mode:"), std::string::npos) << run.output;
    }
}

// A BIOS image that unmasks the SCU's V-BLANK-IN and timer 0 interrupts and
// counts them in work RAM. Field k's V-BLANK-IN starts pass k + 1, and timer 0
// matches on visible line 5 of every field, so 13 passes count 13 of each;
// the first V-BLANK-IN arrives before the program has opened its mask and
// is held until it does. kest.ini names it as the console BIOS and no disc
// is configured, so Boot starts it alone.
TEST(Headless, BiosImageCountsScuInterruptsAndSavesBackupMemory)
{
    TempDir dir;
    const std::string bios = std::string(KEST_PROGRAMS_DIR) + "/sh2/board_interrupts.bin";
    const std::string ini = "[Path]\r\nsat_bios = " + bios + "\r\nsat_bup = saves/mine.bup\r\n[General]\r\n" +
                            "kest_bios = 0\r\ncartridge = 1\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string dump = dir.file("counters.bin");
    HeadlessRun run = runHeadless("--data " + dir.path().string() + " --fields 13 --dump 0x06000000:12:" + dump);
    ASSERT_EQ(run.status, 0) << run.output;

    const std::vector<u8> counters = readBytes(dump);
    ASSERT_EQ(counters.size(), 12u);
    EXPECT_EQ(loadBe32(&counters[0]), 13u) << "V-BLANK-IN";
    EXPECT_EQ(loadBe32(&counters[4]), 13u) << "timer 0";
    EXPECT_EQ(loadBe32(&counters[8]), 1u) << "backup written";

    // Neither backup file existed, so the default one was made and is the
    // one written back: at the tenth V-BLANK-IN, on disk two later.
    const std::vector<u8> image = readBytes(dir.file("saves/sat_primary_01.bup"));
    ASSERT_EQ(image.size(), 0x8000u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "KEST");
    EXPECT_EQ(occurrences(run.output, "SYSTEM: Save backup RAM to disk\n"), 1u) << run.output;
    EXPECT_EQ(occurrences(run.output, "SH2(M): reset [PC: 00000100, SP: 06100000]\n"), 1u);
    EXPECT_NE(run.output.find("KEST: Mode: <SATURN> [A: J, V: NTSC]\n"), std::string::npos);
    EXPECT_EQ(run.output.find("Address error"), std::string::npos) << run.output.substr(0, 2000);
    EXPECT_EQ(run.output.find("Bad "), std::string::npos) << run.output.substr(0, 2000);
    EXPECT_NE(run.output.find("SYSTEM: Ran 13 fields [T: NTSC, NS: 216666450]"), std::string::npos);
}

// A program that polls its controllers through INTBACK finds the devices
// kest.ini names, at rest: a standard pad on port 1, nothing on port 2.
TEST(Headless, ProgramReadsItsPadThroughIntback)
{
    const struct { const char* direct; std::vector<u8> reply; } cases[] = {
        {"1", {0xF1, 0x02, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF}},
        {"4", {0xF1, 0xE3, 0x00, 0x00, 0x00, 0xF0, 0xFF, 0xFF}},
        // Power-on reports port 1 connected whatever it holds.
        {"0", {0xF1, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string ini = "[Path]\r\nsat_bios = " + std::string(KEST_PROGRAMS_DIR) +
                                "/sh2/smpc_pad.bin\r\n[General]\r\nkest_bios = 0\r\ncartridge = 1\r\ndirect_1 = " +
                                c.direct + "\r\n";
        ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
        const std::string dump = dir.file("pad.bin");
        HeadlessRun run = runHeadless("--data " + dir.path().string() + " --fields 3 --dump 0x06000000:24:" + dump);
        ASSERT_EQ(run.status, 0) << run.output;
        const std::vector<u8> result = readBytes(dump);
        ASSERT_EQ(result.size(), 24u);
        EXPECT_GT(loadBe32(&result[0]), 10u) << "replies";
        EXPECT_EQ(std::vector<u8>(result.begin() + 16, result.end()), c.reply) << "direct_1 = " << c.direct;
    }
}

namespace {

// The test disc's initial program installs a V-BLANK-IN handler through the
// BIOS services; its first file waits for ten interrupts and writes a result
// block at 0x06080000 ("KEST", the count, what the handler saw).
void expectBootedDisc(const std::string& settingsText, const std::string& expectedLine)
{
    TempDir dir;
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), settingsText.data(), static_cast<u32>(settingsText.size())));
    const std::string dump = dir.file("result.bin");
    HeadlessRun run = runHeadless("--data " + dir.path().string() + " --fields 20 --dump 0x06080000:36:" + dump +
                                  " " + KEST_BOOT_DISC);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<u8> result = readBytes(dump);
    ASSERT_EQ(result.size(), 36u);
    EXPECT_EQ(std::string(result.begin(), result.begin() + 4), "KEST") << run.output.substr(0, 3000);
    EXPECT_GE(loadBe32(&result[4]), 10u);
    EXPECT_EQ(loadBe32(&result[8]), 0x100u) << "R0 in the handler";
    EXPECT_EQ(loadBe32(&result[20]), 0x06004100u) << "SYS_GETUINT";

    const std::vector<u8> disc = readBytes(KEST_BOOT_DISC);
    ASSERT_GT(disc.size(), 0x100u);
    char start[160];
    std::snprintf(start, sizeof start,
                  "KEST: Start (KEST BIOS BOOT TEST) [ID: T-99901G, D: 20261207, A: JTUE, P: J, IPS: %08X, "
                  "RA: 06004000]\n",
                  loadBe32(&disc[0xE0]));
    EXPECT_NE(run.output.find(start), std::string::npos) << run.output.substr(0, 3000);
    EXPECT_NE(run.output.find("KEST: Mode: <SATURN> [A: J, V: NTSC]\n"), std::string::npos);
    if (!expectedLine.empty()) {
        EXPECT_NE(run.output.find(expectedLine), std::string::npos);
    }
    EXPECT_EQ(run.output.find("Address error"), std::string::npos);
}

}  // namespace

TEST(Headless, BootsTheTestDiscThroughTheBuiltInBios)
{
    expectBootedDisc("[General]\r\nkest_bios = 1\r\ncartridge = 1\r\n", "BIOS: SYS_INIT\n");
}

TEST(Headless, MissingBiosImageBootsTheSameThroughTheBuiltInBios)
{
    expectBootedDisc("[Path]\r\nsat_bios = bios/missing.bin\r\n[General]\r\nkest_bios = 0\r\ncartridge = 1\r\n",
                     "KEST: Failed to load BIOS file, use Kest BIOS instead [path: bios/missing.bin, reason: "
                     "no such file]\n");
}

// The demo disc the README names boots through the built-in BIOS and shows
// NBG0's cells under VDP1's polygons, polyline, half-luminance scaled
// sprite and the pad's sprite, which stays where it starts while the pad
// rests.
TEST(Headless, DemoDiscShowsBothVideoProcessors)
{
    TempDir dir;
    const std::string ini = "[General]\r\nkest_bios = 1\r\ncartridge = 1\r\ndirect_1 = 1\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string dump = dir.file("state.bin");
    const std::string png = dir.file("demo.png");
    HeadlessRun run = runHeadless("--data " + dir.path().string() + " --fields 30 --dump 0x06080000:24:" + dump +
                                  " --png " + png + " " + KEST_DEMO_DISC);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("KEST: Start (KEST DEMO) [ID: T-99901G"), std::string::npos) << run.output;
    const std::vector<u8> state = readBytes(dump);
    ASSERT_EQ(state.size(), 24u);
    EXPECT_EQ(std::string(state.begin(), state.begin() + 4), "DEMO") << run.output.substr(0, 3000);
    EXPECT_EQ(loadBe32(&state[8]), 152u);
    EXPECT_EQ(loadBe32(&state[12]), 104u);
    EXPECT_EQ(loadBe32(&state[16]), 0xFFFFu) << "pad 1 at rest";
    EXPECT_GT(loadBe32(&state[20]), 10u) << "INTBACK replies";

    u32 width = 0, height = 0;
    std::vector<u32> pixels;
    ASSERT_TRUE(readPng(png, width, height, pixels));
    ASSERT_EQ(width, 320u);
    ASSERT_EQ(height, 224u);
    const struct {
        u32 x, y, rgb;
        const char* what;
    } dots[] = {
        {50, 40, 0xF80000, "red polygon"},
        {255, 70, 0x00F800, "green polygon"},
        {4, 100, 0xF8F8F8, "polyline"},
        {160, 112, 0xF800F8, "the pad's sprite"},
        {63, 143, 0x780078, "half-luminance scaled sprite"},
        {160, 16, 0x000060, "NBG0 palette 0 colour 1"},
        {161, 17, 0x181090, "NBG0 palette 0 colour 2"},
        {200, 180, 0x208030, "NBG0 palette 1 colour 3"},
    };
    for (const auto& d : dots)
        EXPECT_EQ(pixels[d.y * width + d.x], d.rgb) << d.what;
}

// The game disc boots clean and keeps every processor at work: the slave
// answers every field the master asks for, the 68000's timer ticks, and
// the picture moves from one field to the next.
TEST(Headless, GameDiscRunsBothProcessorsTheSoundDriverAndMoves)
{
    TempDir dir;
    const std::string ini = "[General]\r\nkest_bios = 1\r\ncartridge = 1\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    HeadlessRun run;
    for (const int fields : {40, 41}) {
        const std::string name = dir.file(std::to_string(fields));
        run = runHeadless("--data " + dir.path().string() + " --fields " + std::to_string(fields) +
                          " --dump 0x06080000:24:" + name + ".state --dump 0x25A07000:8:" + name + ".sound --png " +
                          name + ".png " + KEST_GAME_DISC);
        ASSERT_EQ(run.status, 0) << run.output;
    }
    EXPECT_NE(run.output.find("KEST: Start (KEST GAME) [ID: T-99901G"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("SH2(S): reset [PC: 0600"), std::string::npos) << run.output;
    for (const char* bad : {"Bad ", "Illegal", "error", "Error", "rror:"})
        EXPECT_EQ(run.output.find(bad), std::string::npos) << bad << "\n" << run.output;

    const std::vector<u8> state = readBytes(dir.file("40.state"));
    ASSERT_EQ(state.size(), 24u);
    EXPECT_EQ(std::string(state.begin(), state.begin() + 4), "GAME");
    const u32 asked = loadBe32(&state[8]);
    EXPECT_GE(asked, 35u) << "fields the master finished";
    EXPECT_EQ(loadBe32(&state[12]), asked) << "the slave's answer";
    EXPECT_EQ(loadBe32(&state[16]), asked) << "angle";
    EXPECT_EQ(loadBe32(&state[20]), 1u) << "slave started";
    const std::vector<u8> sound = readBytes(dir.file("40.sound"));
    ASSERT_EQ(sound.size(), 8u);
    EXPECT_GT(loadBe32(&sound[0]), 80u) << "timer A ticks in 40 fields";
    EXPECT_GT(loadBe32(&sound[4]), 10u) << "notes";
    const std::vector<u8> a = readBytes(dir.file("40.png"));
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, readBytes(dir.file("41.png"))) << "the picture moves";
}

// A disc that is missing or a FIFO, or a cue sheet one of whose files is
// missing, ends the run at once with the reason and a failure status.
TEST(Headless, DiscThatCannotBeOpenedFails)
{
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe.iso").c_str(), 0600), 0);
    std::filesystem::copy_file(KEST_BOOT_DISC, dir.file("boot.iso"));
    const std::string sheet = "FILE \"boot.iso\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
                              "FILE \"gone.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n";
    ASSERT_TRUE(saveFile(dir.file("gone.cue"), sheet.data(), static_cast<u32>(sheet.size())));
    const struct {
        const char* name;
        const char* reason;
    } cases[] = {{"missing.iso", "no such file"},
                 {"pipe.iso", "not a usable disc image (see the log)"},
                 {"gone.cue", "not a usable disc image (see the log)"}};
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        HeadlessRun run = runHeadless("--data " + dir.path().string() + " --fields 1 " + path);
        EXPECT_EQ(WEXITSTATUS(run.status), 3) << run.output;
        EXPECT_NE(run.output.find("kest-headless: cannot open disc '" + path + "': " + c.reason + "\n"),
                  std::string::npos)
            << run.output;
    }
}

// A European region runs PAL: the field length, the display height and
// VDP2's PAL status bit all follow.
TEST(Headless, PalRegionShowsInTheFieldLengthAndVdp2State)
{
    TempDir dir;
    const std::string ini = "[General]\r\nkest_bios = 1\r\nregion = 7\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string state = dir.file("vdp2.txt");
    HeadlessRun run = runHeadless("--data " + dir.path().string() + " --fields 3 --vdp2 " + state + " " +
                                  KEST_BINARY_DIR "/testdata/boot.iso");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("KEST: Mode: <SATURN> [A: E, V: PAL]\n"), std::string::npos);
    EXPECT_NE(run.output.find("SYSTEM: Ran 3 fields [T: PAL, NS: 59940000]"), std::string::npos);
    const std::vector<u8> text = readBytes(state);
    const std::string s(text.begin(), text.end());
    EXPECT_NE(s.find("DISPLAY: 320x256\n"), std::string::npos) << s;
    const std::size_t at = s.find("TVSTAT: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(std::stoul(s.substr(at + 8, 4), nullptr, 16) & 1u, 1u) << s;
}

namespace {

const std::string kBuiltInBios = "[General]\r\nkest_bios = 1\r\ncartridge = 1\r\ndirect_1 = 1\r\n";

// A data folder of its own that boots through the built-in BIOS.
struct DiscRun {
    TempDir dir;

    explicit DiscRun(const std::string& ini = kBuiltInBios)
    {
        saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size()));
    }
    std::string arguments(const std::string& rest) const { return "--data " + dir.path().string() + " " + rest; }
    std::string volumeRun(const std::string& outputs) const
    {
        return arguments("--fields 110 --dump 0x06080000:0x4A0:" + dir.file("state.bin") + " " + outputs + " " +
                         KEST_VOLUME_DISC);
    }
};

}  // namespace

// The volume disc's program, on the CD block as the BIOS leaves it (no
// CdInit, no SetFiltCon), asks GetSes(1), takes its start + 166 as the
// volume descriptor's FAD and reads that sector with CdPlay through
// partition 0: once through the 32-bit data port, once through the 16-bit
// transfer register. Both give the descriptor xorriso wrote.
TEST(Headless, LibraryStyleReadFindsTheVolumeDescriptorThroughBothPorts)
{
    DiscRun r;
    const std::string sectors = r.dir.file("sectors.bin");
    HeadlessRun run = runHeadless(r.volumeRun("--dump 0x06060000:0x1800:" + sectors));
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<u8> s = readBytes(r.dir.file("state.bin"));
    ASSERT_EQ(s.size(), 0x4A0u);
    ASSERT_EQ(std::string(s.begin(), s.begin() + 4), "KEST") << run.output.substr(0, 4000);
    EXPECT_EQ(loadBe32(&s[8]), 0x0100u) << "GetSes(1): first track 1, start bits 16-23 zero";
    EXPECT_EQ(loadBe32(&s[12]), 0u) << "an image's session starts at 0";
    EXPECT_EQ(loadBe32(&s[16]), 166u);
    // The table of contents through the 16-bit register, up to the lead-out.
    const std::vector<u8> disc = readBytes(KEST_VOLUME_DISC);
    ASSERT_GE(disc.size(), 17u * 2048);
    EXPECT_EQ(loadBe32(&s[0x100]), 0x41000000u | 150);
    EXPECT_EQ(loadBe32(&s[0x100 + 4 * 101]), 0x41000000u | static_cast<u32>(disc.size() / 2048 + 150));

    const std::vector<u8> descriptor(disc.begin() + 16 * 2048, disc.begin() + 17 * 2048);
    ASSERT_EQ(std::string(descriptor.begin(), descriptor.begin() + 6), std::string("\x01" "CD001"));
    const std::vector<u8> got = readBytes(sectors);
    ASSERT_EQ(got.size(), 0x1800u);
    EXPECT_TRUE(std::equal(descriptor.begin(), descriptor.end(), got.begin())) << "through the 32-bit port";
    EXPECT_TRUE(std::equal(descriptor.begin(), descriptor.end(), got.begin() + 0x1000))
        << "through the 16-bit register";

    // The 100-sector play reaches partition 0 at the double-speed drive's
    // pace: 2 or 3 more sectors at every field once it runs.
    u32 previous = 0;
    for (u32 i = 0; i < 40; ++i) {
        const u32 count = loadBe32(&s[0x400 + 4 * i]);
        EXPECT_TRUE(previous ? count == previous + 2 || count == previous + 3 : count <= 3) << i << ": " << count;
        previous = count;
    }
    EXPECT_GT(previous, 90u);
    for (const char* bad : {"Bad R", "disconnected", "Address error"})
        EXPECT_EQ(run.output.find(bad), std::string::npos) << run.output.substr(0, 4000);
}

// Four runs of the volume disc side by side (the CD block's drive thread
// racing the emulation in each) give the same picture, sound, memory and
// log, byte for byte.
TEST(Headless, RunsOfOneDiscAtOnceRepeatBitForBit)
{
    constexpr int kRuns = 4;
    std::vector<std::unique_ptr<DiscRun>> runs;
    std::vector<FILE*> pipes;
    for (int i = 0; i < kRuns; ++i) {
        const DiscRun& r = *runs.emplace_back(std::make_unique<DiscRun>());
        const std::string command = std::string(KEST_BINARY_DIR) + "/tools/kest-headless " +
                                    r.volumeRun("--png " + r.dir.file("out.png") + " --wav " + r.dir.file("out.wav") +
                                                " --press 20-40:start") +
                                    " 2>&1";
        pipes.push_back(popen(command.c_str(), "r"));
        ASSERT_NE(pipes.back(), nullptr);
    }
    std::vector<std::string> logs(kRuns);
    for (int i = 0; i < kRuns; ++i) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipes[i])) > 0)
            logs[i].append(buffer, n);
        EXPECT_EQ(pclose(pipes[i]), 0) << logs[i];
        const std::string folder = runs[i]->dir.path().string();  // each run's own
        for (std::size_t at = logs[i].find(folder); at != std::string::npos; at = logs[i].find(folder))
            logs[i].replace(at, folder.size(), "DATA");
        EXPECT_EQ(logs[i], logs[0]) << "log of run " << i;
    }
    for (const char* file : {"out.png", "out.wav", "state.bin"}) {
        const std::vector<u8> first = readBytes(runs[0]->dir.file(file));
        EXPECT_GT(first.size(), 40u) << file;
        for (int i = 1; i < kRuns; ++i)
            EXPECT_TRUE(readBytes(runs[i]->dir.file(file)) == first) << file << " of run " << i;
    }
}

// --plain takes no shortcut, and the game disc (both SH-2s waiting on each
// other, VDP1 over a rotation layer, the sound driver), the register-waits disc
// (SCU DMA, a polygon cut by the clip, layers never seen), an arcade set (a
// bitmap layer) and a picture program (VDP1 in double interlace), which take
// every path of every shortcut between them, come out the same.
TEST(Headless, PlainRunGivesWhatTheShortcutsGiveAndTakesNone)
{
    std::string bios = readText(KEST_PROGRAMS_DIR "/sh2/vdp2_scene.bin");
    bios.resize(0x1000);
    (bios += readText(KEST_BINARY_DIR "/testdata/vdp2/additive.scene")).resize(0x80000);
    const struct { std::string ini, disc; } cases[] = {
        {kBuiltInBios, "--fields 60 " KEST_GAME_DISC},
        {kBuiltInBios, "--fields 8 " KEST_BINARY_DIR "/testdata/waits.iso"},
        {"[Path]\r\nstv_bios = " KEST_ARCADE_DIR "/stv_bios.bin\r\n", "--fields 12 " KEST_ARCADE_DIR "/kestarc.zip"},
        {"[Path]\r\nsat_bios = scene.bin\r\n[General]\r\nkest_bios = 0\r\n", "--fields 6"},
    };
    std::string taken;  // every default run's counts
    for (const auto& [ini, disc] : cases) {
        std::vector<std::string> runs;
        for (const char* plain : {"", "--plain "}) {
            DiscRun r(ini);
            std::filesystem::copy_file(KEST_ARCADE_DIR "/data.json", r.dir.file("data.json"));
            ASSERT_TRUE(saveFile(r.dir.file("scene.bin"), bios.data(), static_cast<u32>(bios.size())));
            HeadlessRun run = runHeadless(r.arguments(plain + ("--png " + r.dir.file("out.png")) + " --wav " +
                                                      r.dir.file("out.wav") + " --dump 0x06000000:0x100000:" +
                                                      r.dir.file("ram.bin") + " --shortcut-uses " +
                                                      r.dir.file("uses.txt") + " " + disc));
            ASSERT_EQ(run.status, 0) << run.output;
            for (std::size_t at; (at = run.output.find(r.dir.path().string())) != std::string::npos;)
                run.output.replace(at, r.dir.path().string().size(), "DATA");
            for (const char* file : {"out.png", "out.wav", "ram.bin"}) {
                const std::vector<u8> bytes = readBytes(r.dir.file(file));
                EXPECT_GT(bytes.size(), 40u) << file;
                run.output.append(bytes.begin(), bytes.end());
            }
            runs.push_back(run.output);
            const std::string uses = readText(r.dir.file("uses.txt"));  // "name: count", a line a field
            EXPECT_TRUE(!*plain || occurrences(uses, ": 0\n") == kShortcutFields) << disc << ":\n" << uses;
            taken += *plain ? "" : uses;
        }
        EXPECT_TRUE(runs[1] == runs[0]) << disc;
    }
    // Each path taken by some program; those of AVX2 (the sprite's hidden
    // colours are skipped only in its loop) where the host has it.
    for (u32 i = 0; i < kShortcutFields; ++i) {
        const auto field = static_cast<ShortcutField>(i);
        const bool avx2 = !Shortcuts{}.on(field) || field == kHiddenSpriteColors;
        EXPECT_LT(occurrences(taken, ShortcutUses::name(field) + std::string(": 0\n")),
                  std::size(cases) + (avx2 && !hostHasAvx2()))
            << ShortcutUses::name(field);
    }
}

// --press holds pad 1's buttons over a range of fields: the demo disc's
// sprite moves two dots a field while a direction is held.
TEST(Headless, PressDrivesTheDemoSprite)
{
    DiscRun r;
    const std::string state = r.dir.file("state.bin");
    HeadlessRun run = runHeadless(r.arguments("--fields 40 --press 20-29:right --press 25-29:down+b --dump "
                                              "0x06080000:24:" + state + " " + KEST_DEMO_DISC));
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<u8> s = readBytes(state);
    ASSERT_EQ(s.size(), 24u);
    ASSERT_EQ(std::string(s.begin(), s.begin() + 4), "DEMO") << run.output.substr(0, 3000);
    EXPECT_EQ(loadBe32(&s[8]), 152u + 2 * 10) << "ten fields of Right";
    EXPECT_EQ(loadBe32(&s[12]), 104u + 2 * 5) << "five fields of Down";
    EXPECT_EQ(loadBe32(&s[16]), 0xFFFFu) << "released after field 29";

    for (const char* bad : {"5-3:a", "1-2:q", "x-2:a", "1-2:", "12:a", "1-2:a+", "-1-2:a", "1-2:A"}) {
        HeadlessRun refused = runHeadless("--fields 1 --press " + std::string(bad));
        EXPECT_EQ(WEXITSTATUS(refused.status), 2) << bad;
        EXPECT_NE(refused.output.find("kest-headless: bad press '" + std::string(bad) + "': "), std::string::npos)
            << refused.output;
    }
}

// The system manager's clock follows the emulated time, not the host's: a
// program that sets it and lets 300 fields pass reads 4 or 5 s more.
TEST(Headless, ClockFollowsTheEmulatedTime)
{
    DiscRun r;
    const std::string state = r.dir.file("state.bin");
    HeadlessRun run =
        runHeadless(r.arguments("--fields 330 --dump 0x06080000:16:" + state + " " + KEST_CLOCK_DISC));
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<u8> s = readBytes(state);
    ASSERT_EQ(s.size(), 16u);
    ASSERT_EQ(std::string(s.begin(), s.begin() + 4), "CLOK") << run.output.substr(0, 3000);
    const std::vector<u8> date(s.begin() + 9, s.end() - 1);
    EXPECT_EQ(date, (std::vector<u8>{0x20, 0x26, 0x41, 0x01, 0x00, 0x00})) << "OREG1-6";
    EXPECT_TRUE(s[15] == 4 || s[15] == 5) << "seconds " << int{s[15]};
}

// A program that sends CKCHG352 to the SMPC itself comes back from the
// change's NMI through the built-in BIOS with V-BLANK-IN open again, the
// clock recorded, and its loop faster by the ratio of the two clocks.
TEST(Headless, ProgramsOwnClockChangeGoesOn)
{
    DiscRun r;
    const std::string state = r.dir.file("state.bin");
    HeadlessRun run = runHeadless(r.arguments("--fields 8 --dump 0x06080000:20:" + state + " " + KEST_CKCHG_DISC));
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<u8> s = readBytes(state);
    ASSERT_EQ(s.size(), 20u);
    EXPECT_EQ(std::string(s.begin(), s.begin() + 4), "CKCH") << run.output.substr(0, 3000);
    EXPECT_EQ(loadBe32(&s[16]), 1u) << "the clock at 0x06000324";
    EXPECT_NEAR(static_cast<double>(loadBe32(&s[12])) / loadBe32(&s[8]), 36.0 / 34.0, 0.002);
    EXPECT_EQ(occurrences(run.output, "BIOS: SH2(M): SYS_NMI after a clock change [PC: "), 1u);
    EXPECT_EQ(occurrences(run.output, "not implemented"), 0u) << run.output;
}

// A data folder without kest.ini runs with the settings the window would
// write there: a standard pad on port 1, the BIOS image at bios/sat_bios.bin.
TEST(Headless, MissingSettingsFileRunsWithTheWindowsDefaults)
{
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "bios");
    std::filesystem::copy_file(std::string(KEST_PROGRAMS_DIR) + "/sh2/smpc_pad.bin", dir.file("bios/sat_bios.bin"));
    const std::string dump = dir.file("pad.bin");
    HeadlessRun run = runHeadless("--data " + dir.path().string() + " --fields 3 --dump 0x06000000:24:" + dump);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<u8> result = readBytes(dump);
    ASSERT_EQ(result.size(), 24u);
    EXPECT_GT(loadBe32(&result[0]), 10u) << "replies";
    EXPECT_EQ(std::vector<u8>(result.begin() + 16, result.end()),
              std::vector<u8>({0xF1, 0x02, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("kest.ini"))) << "the run writes no settings";
}
