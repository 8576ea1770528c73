#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/base/disc_header.h"

// The game database "data.json": console cartridge lists ("RAM1M", "RAM4M",
// "ROM": product number -> title) and arcade ROM sets ("TITAN": game ->
// member file -> size, crc, offset, pattern).
class GameDatabase {
public:
    // The real file is a few hundred kilobytes; a larger one is refused unread.
    static constexpr u64 kMaxBytes = 16 << 20;

    // What a parse keeps. A boot needs one disc's or one game's entry, and
    // keeping only that holds the memory a parse takes to the file's text.
    struct Wanted {
        bool lists = true;
        bool titan = true;
        std::optional<std::string> key;  // product number or game name; none keeps every entry

        static Wanted disc(std::string productNumber) { return {true, false, std::move(productNumber)}; }
        static Wanted game(std::string name) { return {false, true, std::move(name)}; }
    };

    struct RomFile {
        std::string name;
        u32 size = 0;
        u32 crc = 0;
        u32 offset = 0;
        std::string pattern;
        // Why the entry cannot be right, naming the field; empty when it can.
        std::string fault;
    };

    // A set has a few dozen members: an entry that lists more is refused,
    // and no member past this many is kept.
    static constexpr u32 kMaxMembers = 256;

    enum class Entry { kListed, kAbsent, kNotAnObject, kOverfull };

    // A missing, oversized or malformed file logs an error and reads as empty.
    static GameDatabase load(const std::string& path, const Wanted& wanted);
    static GameDatabase parse(const std::string& text, const std::string& origin, const Wanted& wanted);
    // Every entry kept.
    static GameDatabase load(const std::string& path);
    static GameDatabase parse(const std::string& text, const std::string& origin);

    // Why the file was not read ("missing", "does not parse at line 3,
    // column 7: ..."); empty when it was.
    const std::string& error() const { return m_error; }

    bool findGameInList(const std::string& list, const std::string& productNumber, const std::string& title) const;
    // Cartridge ID for a console disc: 0x5A, 0x5C, 0xC0, else 0x24.
    u8 chooseCartridge(const DiscHeader& header) const;
    Entry titanEntry(const std::string& game) const;
    bool findTitanGame(const std::string& game) const { return titanEntry(game) == Entry::kListed; }
    // The game's files in byte-wise name order.
    std::vector<RomFile> titanFiles(const std::string& game) const;

private:
    friend class DatabaseReader;

    // One value of a member's entry as the file gave it.
    struct Field {
        bool present = false;
        bool isString = false;
        std::string text;  // the string, or the kind of the other value
    };
    struct Member {
        bool isObject = false;
        Field size, crc, offset, pattern;
    };
    struct Game {
        bool isObject = false;
        bool overfull = false;
        std::map<std::string, Member> members;
    };
    // A list's titles; none for a value that is not a string.
    using List = std::map<std::string, std::optional<std::string>>;

    // Why a member's field cannot be read, or empty.
    static std::string fieldFault(const char* key, const Field& field);

    std::map<std::string, List> m_lists;
    std::map<std::string, Game> m_titan;
    std::string m_error;
};

// A hexadecimal number of at most 32 bits, with an optional 0x and blanks
// around it. False for anything else, with why saying what is wrong.
bool parseHex32(const std::string& text, u32& value, std::string& why);
