// kest-headless: runs the machine without a window, for tests and benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/machine.h"

namespace {

void usage()
{
    std::puts(
        "usage: kest-headless [options]\n"
        "  --fields N     run N fields (default 60)\n"
        "  --pal          use PAL timing instead of NTSC\n"
        "  --verbose      also show per-field log lines\n"
        "  --help         show this text");
}

}  // namespace

int main(int argc, char** argv)
{
    long fields = 60;
    bool pal = false;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            usage();
            return 0;
        } else if (!std::strcmp(arg, "--fields") && i + 1 < argc) {
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
        } else {
            std::fprintf(stderr, "kest-headless: unknown argument '%s'\n", arg);
            usage();
            return 2;
        }
    }

    CMachine machine("SYSTEM");
    if (verbose)
        machine.setThreshold(2);
    machine.setVideoMode(pal ? CRaster::kPal : CRaster::kNtsc);
    machine.powerOn();
    // The first pass only starts the first field.
    machine.runFrame();
    for (long i = 0; i < fields; ++i)
        machine.runFrame();
    machine.logInfo(1, "Ran %ld fields [T: %s, NS: %u]", fields, pal ? "PAL" : "NTSC",
                    static_cast<unsigned>(fields * machine.raster().fieldNs()));
    std::fflush(stdout);
    return 0;
}
