#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/base/disc_header.h"

// The game database "data.json": console cartridge lists ("RAM1M", "RAM4M",
// "ROM": product number -> title) and arcade ROM sets ("TITAN": game ->
// member file -> size, crc, offset, pattern).
class GameDatabase {
public:
    struct RomFile {
        std::string name;
        u32 size = 0;
        u32 crc = 0;
        u32 offset = 0;
        std::string pattern;
    };

    // A missing or malformed file logs an error and reads as empty.
    static GameDatabase load(const std::string& path);
    static GameDatabase parse(const std::string& text, const std::string& origin);

    bool findGameInList(const std::string& list, const std::string& productNumber, const std::string& title) const;
    // Cartridge ID for a console disc: 0x5A, 0x5C, 0xC0, else 0x24.
    u8 chooseCartridge(const DiscHeader& header) const;
    bool findTitanGame(const std::string& game) const;
    // The game's files in byte-wise name order.
    std::vector<RomFile> titanFiles(const std::string& game) const;

private:
    nlohmann::json m_data = nlohmann::json::object();
};

// A hexadecimal number as "%x" scans it (an optional 0x); 0 when it does not.
u32 scanHex(const std::string& text);
