// kest-headless: runs the emulator without a window, for tests and benchmarks.
// It opens a file as the application does: a disc image by its extension, an
// arcade ROM set (.zip), or nothing to boot the disc or game that kest.ini
// names.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/helpers.h"
#include "core/kest.h"
#include "core/png_writer.h"
#include "core/shared_state.h"

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
        "  --verbose                also show per-field log lines\n"
        "  --help                   show this text");
}

struct Dump {
    u32 address = 0;
    u32 length = 0;
    std::string path;
};

bool parseDump(const char* text, Dump& dump)
{
    char* end = nullptr;
    const unsigned long address = std::strtoul(text, &end, 0);
    if (*end != ':')
        return false;
    const unsigned long length = std::strtoul(end + 1, &end, 0);
    if (*end != ':' || !end[1] || length > 0x10000000)
        return false;
    dump = {static_cast<u32>(address), static_cast<u32>(length), end + 1};
    return true;
}

bool writeVdp2State(CSystem& machine, const std::string& path)
{
    static const struct { const char* name; u32 offset; } kRegisters[] = {
        {"TVMD", 0x000}, {"EXTEN", 0x002}, {"TVSTAT", 0x004}, {"VRSIZE", 0x006},
        {"HCNT", 0x008}, {"VCNT", 0x00A}, {"RAMCTL", 0x00E},
    };
    std::ofstream out(path);
    if (!out)
        return false;
    char line[64];
    for (const auto& r : kRegisters) {
        std::snprintf(line, sizeof line, "%s: %04X\n", r.name, machine.vdp2().reg(r.offset));
        out << line;
    }
    const DisplaySize size = machine.getDisplaySize();
    std::snprintf(line, sizeof line, "DISPLAY: %ux%u\n", size.width, size.height);
    out << line;
    return out.good();
}

}  // namespace

int main(int argc, char** argv)
{
    long fields = 60;
    bool verbose = false;
    bool arcade = false;
    std::string file;
    std::string dataFolder;
    std::string pngPath;
    std::string vdp2Path;
    std::vector<Dump> dumps;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            usage();
            return 0;
        } else if (!std::strcmp(arg, "--fields") && hasValue) {
            char* end = nullptr;
            fields = std::strtol(argv[++i], &end, 10);
            if (*end || fields < 0) {
                std::fprintf(stderr, "kest-headless: bad field count '%s'\n", argv[i]);
                return 2;
            }
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
        } else if (!std::strcmp(arg, "--dump") && hasValue) {
            Dump dump;
            if (!parseDump(argv[++i], dump)) {
                std::fprintf(stderr, "kest-headless: bad dump '%s'\n", argv[i]);
                return 2;
            }
            dumps.push_back(dump);
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
    // The picture VDP2 draws into, as a host's video output provides it.
    constexpr u32 kCanvasSide = 1024;
    std::vector<u32> canvas(kCanvasSide * kCanvasSide);
    hostCanvas = {canvas.data(), kCanvasSide};

    auto kest = std::make_unique<Kest>();
    if (!dataFolder.empty())
        kest->setDataFolder(dataFolder);
    CSystem& machine = kest->getSystem();
    if (verbose)
        machine.setThreshold(2);
    kest->prepare(nullptr);
    if (!kest->open(file, arcade ? 1 : 0)) {
        std::fflush(stdout);
        std::fprintf(stderr, "kest-headless: nothing to start\n");
        return 3;
    }
    kest->start();
    kest->resume();
    // The first pass only starts the first field.
    kest->update();
    for (long i = 0; i < fields; ++i)
        kest->update();
    machine.logInfo(1, "Ran %ld fields [T: %s, NS: %llu]", fields, machine.pal ? "PAL" : "NTSC",
                    static_cast<unsigned long long>(fields) * machine.raster().fieldNs());

    int status = 0;
    if (!pngPath.empty()) {
        const DisplaySize size = machine.getDisplaySize();
        const u32 width = size.width < kCanvasSide ? size.width : kCanvasSide;
        const u32 height = size.height < kCanvasSide ? size.height : kCanvasSide;
        if (!writePng(pngPath, canvas.data(), width, height, kCanvasSide)) {
            std::fprintf(stderr, "kest-headless: cannot write '%s'\n", pngPath.c_str());
            status = 1;
        }
    }
    for (const Dump& dump : dumps) {
        std::vector<u8> bytes(dump.length);
        for (u32 k = 0; k < dump.length; ++k)
            bytes[k] = machine.peekByte(dump.address + k);
        std::ofstream out(dump.path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "kest-headless: cannot write '%s'\n", dump.path.c_str());
            status = 1;
        }
    }
    if (!vdp2Path.empty() && !writeVdp2State(machine, vdp2Path)) {
        std::fprintf(stderr, "kest-headless: cannot write '%s'\n", vdp2Path.c_str());
        status = 1;
    }
    kest->stop();
    hostCanvas = {};
    std::fflush(stdout);
    return status;
}
