// The save-file loaders: the input becomes a save file of each kind's size.
// Only a whole file is loaded and may be written back; anything else must
// stay byte for byte as it was. A loaded battery record is decoded.
#include <cstring>

#include "board/smpc/smpc.h"
#include "core/base/save_file.h"
#include "fuzz_disc.h"

namespace {

bool unchanged(const std::string& path, const uint8_t* data, size_t size)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<u8> now{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return now.size() == size && (size == 0 || std::memcmp(now.data(), data, size) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string file = fuzz::folder() + "fuzz.sav";
    static u8 memory[0x8000];
    // Backup memory (console and arcade), EEPROM, battery.
    for (u32 bytes : {0x8000u, 0x2000u, 128u, SMPC::kBatteryBytes}) {
        fuzz::writeBytes(file, data, size);
        std::memset(memory, 0xA5, sizeof memory);
        SaveFile save;
        const bool loaded = save.load("FUZZ", file, memory, bytes) == SaveFile::State::kLoaded;
        if (loaded != (size == bytes) || (!loaded && memory[0] != 0xA5))
            __builtin_trap();
        if (loaded && bytes == SMPC::kBatteryBytes) {
            bool timeSet = false;
            std::array<u8, 4> smem{};
            s64 offset = 0;
            if (!SMPC::readBatteryRecord(memory, timeSet, smem, offset))
                save.refuse("not a Kest battery file");
        }
        memory[0] ^= 0xFF;
        const bool saved = save.save(memory, bytes);
        if (saved != save.writable() || (!saved && !unchanged(file, data, size)))
            __builtin_trap();
    }
    return 0;
}
