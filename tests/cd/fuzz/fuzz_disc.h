#pragma once

// Shared body of the description fuzzers: the input becomes the description
// file, beside small data files it may name, and every track it yields is
// read at its edges.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cd/media/cd.h"
#include "core/base/object.h"

namespace fuzz {

inline void discard(void*, const char*, std::size_t) {}

inline void writeBytes(const std::string& path, const void* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A folder of its own for this process, with data files for the sheets and
// descriptions to name: raw sectors with a sync and cooked ones.
inline const std::string& folder()
{
    // Never freed: the clean-up at exit still needs it.
    static const std::string& path = *new std::string([] {
        char name[] = "/tmp/kest-fuzz-XXXXXX";
        std::string made = mkdtemp(name) ? name : "/tmp";
        made += "/";
        std::vector<unsigned char> raw(2352 * 8, 0x5A);
        for (std::size_t s = 0; s < 8; ++s) {
            unsigned char* sector = &raw[s * 2352];
            sector[0] = sector[11] = 0;
            for (int i = 1; i <= 10; ++i)
                sector[i] = 0xFF;
            sector[15] = static_cast<unsigned char>(s % 3);
        }
        for (const char* file : {"a.bin", "fuzz.img", "fuzz.mdf"})
            writeBytes(made + file, raw.data(), raw.size());
        std::vector<unsigned char> cooked(2048 * 6, 0x33);
        writeBytes(made + "b.iso", cooked.data(), cooked.size());
        // CD audio in a WAVE file, its samples two and a half sectors long
        // after an odd-sized chunk, and one whose samples run past its end.
        const unsigned char wave[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'j', 'u', 'n', 'k', 1, 0, 0,
                                      0, 9, 0, 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10,
                                      0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a', 0xE8, 0x16, 0, 0};
        std::vector<unsigned char> song(wave, wave + sizeof wave);
        song.resize(song.size() + 5880, 0x21);
        writeBytes(made + "c.wav", song.data(), song.size());
        song.resize(song.size() - 100);
        writeBytes(made + "d.wav", song.data(), song.size());
        logSink().setWriter(discard, nullptr);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder(), ignored);
        });
        return made;
    }());
    return path;
}

inline void readEverywhere(CCd& disc)
{
    static std::vector<u8> buffer(16 * SectorBuffer::kMaxSize);
    u32 mode = 0;
    s32 size = 0;
    for (const SessionInfo& session : disc.sessions()) {
        for (const TrackInfo& track : session.tracks) {
            for (u32 fad : {track.pregapStart - 1, track.startFad, track.endFad, track.endFad + 1})
                disc.readSectors(buffer.data(), fad, mode, size, 16);
        }
        disc.readSectors(buffer.data(), session.leadOut, mode, size, 16);
    }
    SectorBuffer sector;
    disc.readSector(150, sector);
    u8 raw[2352];
    sector.toRaw(raw);
    (void)sector.userData();
}

template <typename Reader>
int run(const char* extension, const uint8_t* data, size_t size)
{
    const std::string path = folder() + "fuzz." + extension;
    writeBytes(path, data, size);
    Reader disc(path);
    readEverywhere(disc);
    return 0;
}

}  // namespace fuzz
