// kest-headless: runs the emulator without a window, for tests and benchmarks.
// It opens a file as the application does: a disc image by its extension, an
// arcade ROM set (.zip), or nothing to boot the disc or game that kest.ini
// names.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "board/periph/peripheral.h"
#include "core/base/helpers.h"
#include "core/base/object.h"
#include "core/emulator/kest.h"
#include "core/emulator/path_parts.h"
#include "core/base/png_writer.h"
#include "core/base/save_file.h"
#include "core/base/shared_state.h"
#include "tools/headless_args.h"
#include "tools/headless_output.h"
#include "tools/headless_press.h"
#include "tools/headless_signals.h"

namespace {

void usage()
{
    std::puts(
        "usage: kest-headless [options] [FILE]\n"
        "  FILE                     disc image (cue, bin, iso, img, mdf, mds, ccd) or arcade ROM set (zip);\n"
        "                           without it the disc or game named in kest.ini boots\n"
        "  --arcade                 without FILE, boot the arcade game instead of the console disc\n"
        "  --data DIR               folder of kest.ini, bios/, saves/ and data.json (default: beside the program)\n"
        "  --fields N               run N fields (default 60)\n"
        "  --dump ADDR:LENGTH:FILE  after the run, write LENGTH bytes of memory at ADDR to FILE\n"
        "  --png FILE               after the run, write the displayed picture to FILE (PNG)\n"
        "  --vdp2 FILE              after the run, write the VDP2 register state to FILE as text\n"
        "  --wav FILE               write the machine's sound to FILE (44100 Hz, 16-bit stereo)\n"
        "  --press FROM-TO:BUTTONS  pad 1, or the arcade board's player 1 and system inputs, holds BUTTONS\n"
        "                           from field FROM to field TO (from 0, inclusive); names joined by +, as\n"
        "                           the window's keys press them (repeatable):");
    std::fputs(pressHelp().c_str(), stdout);
    std::puts(
        "  --plain                  take no shortcut: every chip runs its plain path (same results, slower)\n"
        "  --shortcut-uses FILE     after the run, write how often each shortcut was taken to FILE as text\n"
        "  --verbose                also show per-field log lines\n"
        "  --help                   show this text");
}

std::string vdp2State(CSystem& machine)
{
    static const struct { const char* name; u32 offset; } kRegisters[] = {
        {"TVMD", 0x000}, {"EXTEN", 0x002}, {"TVSTAT", 0x004}, {"VRSIZE", 0x006},
        {"HCNT", 0x008}, {"VCNT", 0x00A}, {"RAMCTL", 0x00E},
    };
    std::string text;
    char line[64];
    for (const auto& r : kRegisters) {
        std::snprintf(line, sizeof line, "%s: %04X\n", r.name, machine.vdp2().reg(r.offset));
        text += line;
    }
    const DisplaySize size = machine.getDisplaySize();
    std::snprintf(line, sizeof line, "DISPLAY: %ux%u\n", size.width, size.height);
    return text + line;
}

// A line a count: its name and its value.
std::string shortcutUsesText(const ShortcutUses& uses)
{
    std::string text;
    for (u32 i = 0; i < kShortcutFields; ++i) {
        const auto field = static_cast<ShortcutField>(i);
        text += std::string(ShortcutUses::name(field)) + ": " + std::to_string(uses[field]) + "\n";
    }
    return text;
}

// --press: pad 1 holds some buttons over a range of fields.
struct Press {
    long from = 0;
    long to = 0;
    u16 buttons = 0;  // the pad's two data bytes, first byte high, a set bit held
};

// Parses FROM-TO:BUTTONS; on failure why says what is wrong.
bool parsePress(const std::string& text, Press& press, std::string& why)
{
    const std::size_t dash = text.find('-');
    const std::size_t colon = text.find(':');
    if (dash == std::string::npos || colon == std::string::npos || dash > colon) {
        why = "expected FROM-TO:BUTTONS";
        return false;
    }
    u64 from = 0;
    u64 to = 0;
    if (!parseNumber(text.substr(0, dash), 0, kMaxFields, from, why) ||
        !parseNumber(text.substr(dash + 1, colon - dash - 1), 0, kMaxFields, to, why)) {
        why = "FROM and TO must be field numbers: " + why;
        return false;
    }
    press.from = static_cast<long>(from);
    press.to = static_cast<long>(to);
    if (press.to < press.from) {
        why = "TO comes before FROM";
        return false;
    }
    press.buttons = 0;
    std::size_t at = colon + 1;
    while (true) {
        const std::size_t plus = text.find('+', at);
        const std::string name = text.substr(at, plus == std::string::npos ? std::string::npos : plus - at);
        const u16 bit = pressBit(name);
        if (!bit) {
            why = "unknown button '" + name + "' (" + pressNames() + ")";
            return false;
        }
        press.buttons |= bit;
        if (plus == std::string::npos)
            break;
        at = plus + 1;
    }
    return true;
}

// The field being run, which the scripted pad and the clock follow.
long gField = 0;
double gFieldSeconds = 0;

// The SMPC's clock in a headless run: a fixed start and the emulated time,
// so a program that reads the date sees the same one every run.
s64 headlessClock()
{
    constexpr s64 kStart = 1767225600;  // 2026-01-01 00:00:00 UTC
    return kStart + static_cast<s64>(static_cast<double>(gField) * gFieldSeconds);
}

// The buttons --press holds in a field.
u16 heldAt(const std::vector<Press>& presses, long field)
{
    u16 held = 0;
    for (const Press& p : presses) {
        if (field >= p.from && field <= p.to)
            held |= p.buttons;
    }
    return held;
}

// A standard pad that holds what --press names for the current field.
class ScriptedPad : public Pad {
public:
    ScriptedPad(std::string name, const std::vector<Press>& presses) : Pad(std::move(name)), m_presses(presses)
    {
        release();
    }
    void poll() override
    {
        const u16 held = heldAt(m_presses, gField);
        getData()[0] = static_cast<u8>(~held >> 8);
        getData()[1] = static_cast<u8>(~held) | 0x07;
    }

private:
    const std::vector<Press>& m_presses;
};

// Without a host the controllers kest.ini names are plugged in at rest, so
// a program polling its port finds the device it expects, untouched.
class HeadlessKest : public Kest {
public:
    explicit HeadlessKest(const std::vector<Press>& presses) : m_presses(presses) {}
    std::shared_ptr<Peripheral> createKeyboard() override { return released<Keyboard>("KEYBOARD"); }
    std::shared_ptr<Peripheral> createMouse() override { return released<Mouse>("MOUSE"); }
    std::shared_ptr<Peripheral> createMDPad3B() override { return released<MDPad3B>("MDPAD3B"); }
    std::shared_ptr<Peripheral> createMDPad6B() override { return released<MDPad6B>("MDPAD6B"); }
    std::shared_ptr<Peripheral> createPad() override { return std::make_shared<ScriptedPad>("PAD", m_presses); }
    std::shared_ptr<Peripheral> createJoystick() override { return released<Joystick>("JOYSTICK"); }

private:
    template <class T>
    static std::shared_ptr<Peripheral> released(const char* name)
    {
        auto controller = std::make_shared<T>(name);
        controller->release();
        return controller;
    }

    const std::vector<Press>& m_presses;
};

// Every output, checked before the run: none may be one of its inputs.
bool refuseInputs(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& inputs)
{
    for (const NamedOutput& output : outputs) {
        const std::string input = sameFileAs(output.path, inputs);
        if (!input.empty()) {
            std::fprintf(stderr, "kest-headless: will not write '%s': it is the run's input file '%s'\n",
                         printable(output.path).c_str(), printable(input).c_str());
            return true;
        }
    }
    return false;
}

// Why the disc named could not be opened, as far as the file itself shows.
std::string whyNotADisc(const std::string& path)
{
    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(path, error).type();
    if (type == std::filesystem::file_type::not_found)
        return "no such file";
    if (type == std::filesystem::file_type::directory)
        return "is a folder";
    if (machineKindOf(classifyPath(path)) != kConsole)
        return "not a disc image by its extension (see --help)";
    return "not a usable disc image (see the log)";
}

// The saves whose files the run could not write; the log has said why.
bool reportSaves()
{
    const std::vector<std::string> unwritten = savesNotWritten();
    std::fflush(stdout);
    for (const std::string& save : unwritten)
        std::fprintf(stderr, "kest-headless: save not written: %s\n", printable(save).c_str());
    return unwritten.empty();
}

bool reportWrite(bool ok, const std::string& error)
{
    if (!ok)
        std::fprintf(stderr, "kest-headless: cannot write %s\n", printable(error).c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    long fields = 60;
    bool verbose = false;
    bool plain = false;
    bool arcade = false;
    std::string file;
    std::string dataFolder;
    std::string pngPath;
    std::string vdp2Path;
    std::string wavPath;
    std::string usesPath;
    std::vector<Dump> dumps;
    std::vector<Press> presses;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            usage();
            return 0;
        } else if (!std::strcmp(arg, "--fields") && hasValue) {
            u64 count = 0;
            std::string why;
            if (!parseNumber(argv[++i], 0, kMaxFields, count, why)) {
                std::fprintf(stderr, "kest-headless: bad field count: %s\n", why.c_str());
                return 2;
            }
            fields = static_cast<long>(count);
        } else if (!std::strcmp(arg, "--plain")) {
            plain = true;
        } else if (!std::strcmp(arg, "--verbose")) {
            verbose = true;
        } else if (!std::strcmp(arg, "--arcade")) {
            arcade = true;
        } else if (!std::strcmp(arg, "--data") && hasValue) {
            dataFolder = argv[++i];
        } else if (!std::strcmp(arg, "--png") && hasValue) {
            pngPath = argv[++i];
        } else if (!std::strcmp(arg, "--vdp2") && hasValue) {
            vdp2Path = argv[++i];
        } else if (!std::strcmp(arg, "--wav") && hasValue) {
            wavPath = argv[++i];
        } else if (!std::strcmp(arg, "--shortcut-uses") && hasValue) {
            usesPath = argv[++i];
        } else if (!std::strcmp(arg, "--dump") && hasValue) {
            Dump dump;
            std::string why;
            if (!parseDump(argv[++i], dump, why)) {
                std::fprintf(stderr, "kest-headless: bad dump '%s': %s\n", argv[i], why.c_str());
                return 2;
            }
            dumps.push_back(dump);
        } else if (!std::strcmp(arg, "--press") && hasValue) {
            Press press;
            std::string why;
            if (!parsePress(argv[++i], press, why)) {
                std::fprintf(stderr, "kest-headless: bad press '%s': %s\n", argv[i], why.c_str());
                return 2;
            }
            presses.push_back(press);
        } else if (arg[0] == '-' && arg[1] == '-') {
            std::fprintf(stderr, "kest-headless: unknown argument '%s'\n", arg);
            usage();
            return 2;
        } else if (file.empty()) {
            file = arg;
        } else {
            std::fprintf(stderr, "kest-headless: one file at a time ('%s')\n", arg);
            return 2;
        }
    }
    std::vector<NamedOutput> outputs = {
        {"--png", pngPath}, {"--vdp2", vdp2Path}, {"--wav", wavPath}, {"--shortcut-uses", usesPath}};
    for (const Dump& dump : dumps)
        outputs.push_back({"--dump", dump.path});
    std::erase_if(outputs, [](const NamedOutput& output) { return output.path.empty(); });
    const std::string shared = sharedOutput(outputs);
    if (!shared.empty()) {
        std::fprintf(stderr, "kest-headless: will not write %s\n", printable(shared).c_str());
        return 2;
    }
    for (const NamedOutput& output : outputs) {
        const char* why = isLogStream(output.path) ? "the log goes there"
                          : isDanglingLink(output.path) ? kDanglingLink
                                                        : nullptr;
        if (why) {
            std::fprintf(stderr, "kest-headless: will not write %s '%s': %s\n", output.option,
                         printable(output.path).c_str(), why);
            return 2;
        }
    }
    catchStopSignals();
    LogStream log;

    // The picture VDP2 draws into, as a host's video output provides it.
    constexpr u32 kCanvasSide = 1024;
    std::vector<u32> canvas(kCanvasSide * kCanvasSide);
    hostCanvas = {canvas.data(), kCanvasSide};

    auto kest = std::make_unique<HeadlessKest>(presses);
    if (!dataFolder.empty())
        kest->setDataFolder(dataFolder);
    CSystem& machine = kest->getSystem();
    if (verbose)
        machine.setThreshold(2);
    if (plain)
        machine.setShortcuts(Shortcuts::plain());
    kest->prepare(nullptr);
    // A signal during a long open is answered there, not after it.
    kest->setStopCheck([] { return stopSignal() != 0; });
    const bool opened = kest->open(file, arcade ? 1 : 0);
    if (const int signal = stopSignal())
        endBySignal(signal);
    // The open alone decides; the reason picks the words.
    if (!opened) {
        std::fflush(stdout);
        if (kest->discFailed())
            std::fprintf(stderr, "kest-headless: cannot open disc '%s': %s\n", printable(kest->discPath()).c_str(),
                         whyNotADisc(kest->discPath()).c_str());
        else if (!kest->arcadeFault().empty())
            std::fprintf(stderr, "kest-headless: the arcade game cannot run: %s\n",
                         printable(kest->arcadeFault()).c_str());
        else if (!kest->bootRefusal().empty())
            std::fprintf(stderr, "kest-headless: the disc does not boot: %s\n", printable(kest->bootRefusal()).c_str());
        else
            std::fprintf(stderr, "kest-headless: cannot start: %s\n",
                         kest->openError().empty() ? "nothing to start" : printable(kest->openError()).c_str());
        return 3;
    }
    if (refuseInputs(outputs, kest->filesInUse())) {
        std::fflush(stdout);
        return 2;
    }
    // Read, never written: what the game saves there is lost, and the end says so.
    for (const std::string& save : savesInUse())
        std::fprintf(stderr, "kest-headless: save '%s' is in use by another running Kest; this run leaves it as it is\n",
                     printable(save).c_str());
    for (const std::string& save : savesWithoutLocks())
        std::fprintf(stderr, "kest-headless: save '%s' is on a file system that takes no locks; a second running Kest "
                     "is not kept out of it\n", printable(save).c_str());
    int status = 0;
    // The sound goes to its file field by field.
    std::unique_ptr<WavOutput> wav;
    if (!wavPath.empty()) {
        wav = std::make_unique<WavOutput>(wavPath);
        if (!reportWrite(wav->open(), wav->error())) {
            wav.reset();
            status = 1;
        }
    }
    gFieldSeconds = static_cast<double>(machine.raster().fieldNs()) / 1e9;
    machine.smpc().setHostClock(&headlessClock);
    owesSaves(true);
    holdStopSignals(true);
    kest->start();
    kest->resume();
    holdStopSignals(false);
    // The machine's buffer holds about 90 ms; it is emptied after every field.
    auto update = [&] {
        kest->update();
        if (!wavPath.empty()) {
            s16 pairs[2 * SampleBuffer::kPairs];
            const u32 n = machine.takeSamples(pairs, SampleBuffer::kPairs);
            if (wav && !wav->append(pairs, n)) {
                reportWrite(false, wav->error());
                wav.reset();
                status = 1;
            }
        }
    };
    // The first pass only starts the first field.
    log.check();
    update();
    for (long i = 0; i < fields && !stopSignal(); ++i) {
        gField = i;
        holdHostPad(heldAt(presses, i));
        update();
        log.check();
    }
    if (const int signal = stopSignal()) {
        wav.reset();
        // The saves are the game's, kept as a window's exit keeps them.
        kest->stop();
        owesSaves(false);
        reportSaves();
        endBySignal(signal);
    }
    machine.logInfo(1, "Ran %ld fields [T: %s, NS: %llu]", fields, machine.pal ? "PAL" : "NTSC",
                    static_cast<unsigned long long>(fields) * machine.raster().fieldNs());
    log.check();

    // The log says all it has before any complaint about the outputs.
    std::fflush(stdout);
    std::string error;
    if (!pngPath.empty()) {
        const DisplaySize size = machine.getDisplaySize();
        const u32 width = size.width < kCanvasSide ? size.width : kCanvasSide;
        const u32 height = size.height < kCanvasSide ? size.height : kCanvasSide;
        std::vector<u8> png;
        if (!encodePng(png, canvas.data(), width, height, kCanvasSide))
            error = "'" + pngPath + "': no picture to encode";
        else
            writeOutput(pngPath, png.data(), png.size(), error);
        if (!reportWrite(error.empty(), error))
            status = 1;
    }
    for (const Dump& dump : dumps) {
        std::vector<u8> bytes(dump.length);
        for (u32 k = 0; k < dump.length; ++k)
            bytes[k] = machine.peekByte(dump.address + k);
        if (!reportWrite(writeOutput(dump.path, bytes.data(), bytes.size(), error), error))
            status = 1;
    }
    if (!vdp2Path.empty()) {
        const std::string text = vdp2State(machine);
        if (!reportWrite(writeOutput(vdp2Path, text.data(), text.size(), error), error))
            status = 1;
    }
    if (!usesPath.empty()) {
        const std::string text = shortcutUsesText(machine.shortcutUses());
        if (!reportWrite(writeOutput(usesPath, text.data(), text.size(), error), error))
            status = 1;
    }
    if (wav && !reportWrite(wav->commit(), wav->error()))
        status = 1;
    kest->stop();
    owesSaves(false);
    hostCanvas = {};
    // A save lost fails the run as an output does.
    if (!reportSaves())
        status = 1;
    if (const int signal = stopSignal())
        endBySignal(signal);
    const std::string& logError = log.finish();
    if (!logError.empty()) {
        std::fprintf(stderr, "kest-headless: cannot write the log: %s\n", printable(logError).c_str());
        status = 1;
    }
    return status;
}
