// kest-headless: runs the machine without a window, for tests and benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/helpers.h"
#include "core/system.h"

namespace {

void usage()
{
    std::puts(
        "usage: kest-headless [options]\n"
        "  --fields N               run N fields (default 60)\n"
        "  --pal                    use PAL timing instead of NTSC\n"
        "  --bios FILE              load FILE (512 KB) as the BIOS image\n"
        "  --backup FILE            backup memory file: loaded, and written back when it settles\n"
        "  --dump ADDR:LENGTH:FILE  after the run, write LENGTH bytes of memory at ADDR to FILE\n"
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

}  // namespace

int main(int argc, char** argv)
{
    long fields = 60;
    bool pal = false;
    bool verbose = false;
    std::string biosPath;
    std::string backupPath;
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
        } else if (!std::strcmp(arg, "--pal")) {
            pal = true;
        } else if (!std::strcmp(arg, "--verbose")) {
            verbose = true;
        } else if (!std::strcmp(arg, "--bios") && hasValue) {
            biosPath = argv[++i];
        } else if (!std::strcmp(arg, "--backup") && hasValue) {
            backupPath = argv[++i];
        } else if (!std::strcmp(arg, "--dump") && hasValue) {
            Dump dump;
            if (!parseDump(argv[++i], dump)) {
                std::fprintf(stderr, "kest-headless: bad dump '%s'\n", argv[i]);
                return 2;
            }
            dumps.push_back(dump);
        } else {
            std::fprintf(stderr, "kest-headless: unknown argument '%s'\n", arg);
            usage();
            return 2;
        }
    }

    auto machine = std::make_unique<CSystem>();
    if (verbose)
        machine->setThreshold(2);
    machine->setup(0);
    SystemMemory& memory = machine->memory();
    if (!biosPath.empty() && !loadFile(biosPath, memory.bios.get(), SystemMemory::kBiosSize, biosPath, false)) {
        std::fprintf(stderr, "kest-headless: cannot read BIOS image '%s'\n", biosPath.c_str());
        return 1;
    }
    if (!backupPath.empty()) {
        loadFile(backupPath, memory.backup.get(), SystemMemory::kBackupSize, backupPath, true);
        machine->setBackupFile(backupPath);
    }
    machine->setVideoMode(pal ? CRaster::kPal : CRaster::kNtsc);
    machine->pal = pal;
    machine->vdp2().setVideoStandard(pal);
    machine->powerOn();
    // The first pass only starts the first field.
    machine->runFrame();
    for (long i = 0; i < fields; ++i)
        machine->runFrame();
    machine->logInfo(1, "Ran %ld fields [T: %s, NS: %llu]", fields, pal ? "PAL" : "NTSC",
                     static_cast<unsigned long long>(fields) * machine->raster().fieldNs());

    for (const Dump& dump : dumps) {
        std::vector<u8> bytes(dump.length);
        for (u32 k = 0; k < dump.length; ++k)
            bytes[k] = machine->peekByte(dump.address + k);
        if (!saveFile(dump.path, bytes.data(), dump.length)) {
            std::fprintf(stderr, "kest-headless: cannot write '%s'\n", dump.path.c_str());
            return 1;
        }
    }
    machine->powerOff();
    std::fflush(stdout);
    return 0;
}
