#include "core/emulator/game_database.h"

#include <filesystem>

#include <nlohmann/json.hpp>

#include "core/base/object.h"
#include "core/base/file_io.h"

namespace {

constexpr const char* kTag = "DATA";
// A value quoted in a message is cut to this many characters.
constexpr std::size_t kQuotedChars = 24;

std::string quoted(const std::string& text)
{
    if (text.size() <= kQuotedChars)
        return "\"" + text + "\"";
    return "\"" + text.substr(0, kQuotedChars) + "...\"";
}

bool isListName(const std::string& name)
{
    return name == "RAM1M" || name == "RAM4M" || name == "ROM";
}

}  // namespace

// Builds the database from the parser's events, keeping only the values a
// lookup reads, and of those only the wanted entries: no tree of the whole
// file is ever made, so a file of a million empty arrays costs nothing
// beyond its text. Nesting inside values nobody reads is counted, not stacked.
class DatabaseReader {
public:
    using json = nlohmann::json;

    DatabaseReader(GameDatabase& db, const GameDatabase::Wanted& wanted) : m_db(db), m_wanted(wanted) {}

    bool null() { return scalar(false, "null"); }
    bool boolean(bool) { return scalar(false, "a boolean"); }
    bool number_integer(json::number_integer_t) { return scalar(false, "a number"); }
    bool number_unsigned(json::number_unsigned_t) { return scalar(false, "a number"); }
    bool number_float(json::number_float_t, const json::string_t&) { return scalar(false, "a number"); }
    bool binary(json::binary_t&) { return scalar(false, "binary data"); }
    bool string(json::string_t& text)
    {
        m_text = std::move(text);
        return scalar(true, nullptr);
    }
    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(json::string_t& name)
    {
        if (!m_skip)
            m_levels.back().key = std::move(name);
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& error)
    {
        // "[json.exception.parse_error.101] parse error at line 1, column 7: ..."
        const std::string what = error.what();
        const std::size_t at = what.find("parse error at ");
        if (at != std::string::npos)
            m_error = what.substr(at + 12);
        else
            m_error = "at byte " + std::to_string(position) + ": " + what.substr(what.find(']') + 1);
        return false;
    }

    const std::string& error() const { return m_error; }
    bool topIsObject() const { return m_topIsObject; }

private:
    enum class Level { kTop, kList, kTitan, kGame, kMember };
    struct Frame {
        Level level;
        std::string key;
    };

    bool wanted(const std::string& key) const { return !m_wanted.key || *m_wanted.key == key; }

    static GameDatabase::Field* field(GameDatabase::Member& member, const std::string& key)
    {
        if (key == "size")
            return &member.size;
        if (key == "crc")
            return &member.crc;
        if (key == "offset")
            return &member.offset;
        if (key == "pattern")
            return &member.pattern;
        return nullptr;
    }

    // Records a value under the current key; answers the level an object
    // worth walking opens, or none. A key given twice keeps its last value.
    std::optional<Level> place(bool isObject, bool isString, const char* kind)
    {
        const std::string& key = m_levels.back().key;
        switch (m_levels.back().level) {
        case Level::kTop:
            if (m_wanted.lists && isListName(key)) {
                m_db.m_lists.erase(key);
                if (!isObject)
                    return std::nullopt;  // lists nothing
                m_list = &m_db.m_lists[key];
                return Level::kList;
            }
            if (m_wanted.titan && key == "TITAN") {
                m_db.m_titan.clear();
                if (isObject)
                    return Level::kTitan;
            }
            return std::nullopt;
        case Level::kList:
            if (wanted(key))
                (*m_list)[key] = isString ? std::optional<std::string>(m_text) : std::nullopt;
            return std::nullopt;
        case Level::kTitan:
            if (!wanted(key))
                return std::nullopt;
            m_game = &(m_db.m_titan[key] = GameDatabase::Game{isObject, false, {}});
            return isObject ? std::optional(Level::kGame) : std::nullopt;
        case Level::kGame:
            if (m_game->members.size() >= GameDatabase::kMaxMembers && !m_game->members.contains(key)) {
                m_game->overfull = true;
                return std::nullopt;
            }
            m_member = &(m_game->members[key] = GameDatabase::Member{isObject, {}, {}, {}, {}});
            return isObject ? std::optional(Level::kMember) : std::nullopt;
        case Level::kMember:
            if (GameDatabase::Field* f = field(*m_member, key))
                *f = {true, isString, isString ? m_text : std::string(kind)};
            return std::nullopt;
        }
        return std::nullopt;
    }

    bool open(bool isObject)
    {
        if (m_skip) {
            ++m_skip;
            return true;
        }
        std::optional<Level> next;
        if (m_levels.empty()) {
            m_topIsObject = isObject;
            if (isObject)
                next = Level::kTop;
        } else {
            next = place(isObject, false, isObject ? "an object" : "an array");
        }
        if (next)
            m_levels.push_back({*next, {}});
        else
            ++m_skip;
        return true;
    }

    bool close()
    {
        if (m_skip)
            --m_skip;
        else
            m_levels.pop_back();
        return true;
    }

    bool scalar(bool isString, const char* kind)
    {
        if (m_skip)
            return true;
        if (m_levels.empty())
            m_topIsObject = false;
        else
            place(false, isString, kind);
        return true;
    }

    GameDatabase& m_db;
    const GameDatabase::Wanted& m_wanted;
    std::vector<Frame> m_levels;  // at most five deep
    u64 m_skip = 0;               // nesting inside a value nobody reads
    std::string m_text;
    GameDatabase::List* m_list = nullptr;
    GameDatabase::Game* m_game = nullptr;
    GameDatabase::Member* m_member = nullptr;
    std::string m_error;
    bool m_topIsObject = false;
};

bool parseHex32(const std::string& text, u32& value, std::string& why)
{
    std::size_t begin = text.find_first_not_of(" \t");
    const std::size_t end = text.find_last_not_of(" \t") + 1;
    if (begin != std::string::npos && end - begin > 2 && text[begin] == '0' &&
        (text[begin + 1] == 'x' || text[begin + 1] == 'X'))
        begin += 2;
    u64 number = 0;
    bool digits = begin != std::string::npos && begin < end;
    for (std::size_t i = begin; digits && i < end; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                         : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) {
            digits = false;
            break;
        }
        number = number << 4 | static_cast<u64>(digit);
        if (number > 0xFFFFFFFFu) {
            why = "is more than 8 hexadecimal digits (" + quoted(text) + ")";
            return false;
        }
    }
    if (!digits) {
        why = "is not hexadecimal (" + quoted(text) + ")";
        return false;
    }
    value = static_cast<u32>(number);
    return true;
}

GameDatabase GameDatabase::load(const std::string& path)
{
    return load(path, Wanted{});
}

GameDatabase GameDatabase::parse(const std::string& text, const std::string& origin)
{
    return parse(text, origin, Wanted{});
}

GameDatabase GameDatabase::load(const std::string& path, const Wanted& wanted)
{
    GameDatabase db;
    // A FIFO would block the open.
    if (!isRegularFile(path)) {
        const std::string why = whyNotOpened(path);
        logSink().write(kLogError, kTag, "Failed to open %s [reason: %s]", path.c_str(), why.c_str());
        db.m_error = why == "no such file" ? "missing" : why;
        return db;
    }
    std::error_code error;
    const u64 size = std::filesystem::file_size(path, error);
    if (error) {
        logSink().write(kLogError, kTag, "Failed to open %s [reason: %s]", path.c_str(), error.message().c_str());
        db.m_error = error.message();
        return db;
    }
    if (size > kMaxBytes) {
        logSink().write(kLogError, kTag, "%s not read: too large [size: %llu, limit: %llu]", path.c_str(),
                        static_cast<unsigned long long>(size), static_cast<unsigned long long>(kMaxBytes));
        db.m_error = "too large [size: " + std::to_string(size) + ", limit: " + std::to_string(kMaxBytes) + "]";
        return db;
    }
    std::string text(size, '\0');
    u64 found = 0;
    const FileCheck check = readRegularFile(path, text.data(), static_cast<u32>(size), false, found);
    if (check != FileCheck::kRead) {
        logSink().write(kLogError, kTag, "Failed to open %s [reason: %s]", path.c_str(), describe(check));
        db.m_error = describe(check);
        return db;
    }
    text.resize(found);
    return parse(text, path, wanted);
}

GameDatabase GameDatabase::parse(const std::string& text, const std::string& origin, const Wanted& wanted)
{
    GameDatabase db;
    DatabaseReader reader(db, wanted);
    const bool parsed = nlohmann::json::sax_parse(text, &reader);
    if (!parsed || !reader.topIsObject()) {
        GameDatabase empty;
        empty.m_error = parsed ? "holds no JSON object" : "does not parse " + reader.error();
        logSink().write(kLogError, kTag, "Failed to parse %s [%s]", origin.c_str(), empty.m_error.c_str());
        return empty;
    }
    return db;
}

std::string GameDatabase::fieldFault(const char* key, const Field& field)
{
    if (!field.present)
        return std::string("\"") + key + "\" is missing";
    if (!field.isString)
        return std::string("\"") + key + "\" is " + field.text + ", not a string";
    return {};
}

bool GameDatabase::findGameInList(const std::string& list, const std::string& productNumber,
                                  const std::string& title) const
{
    auto games = m_lists.find(list);
    if (games == m_lists.end())
        return false;
    auto game = games->second.find(productNumber);
    return game != games->second.end() && game->second && *game->second == title;
}

u8 GameDatabase::chooseCartridge(const DiscHeader& header) const
{
    if (findGameInList("RAM1M", header.productNumber, header.title))
        return 0x5A;
    if (findGameInList("RAM4M", header.productNumber, header.title))
        return 0x5C;
    if (findGameInList("ROM", header.productNumber, header.title))
        return 0xC0;
    return 0x24;
}

GameDatabase::Entry GameDatabase::titanEntry(const std::string& game) const
{
    auto it = m_titan.find(game);
    if (it == m_titan.end())
        return Entry::kAbsent;
    if (!it->second.isObject)
        return Entry::kNotAnObject;
    return it->second.overfull ? Entry::kOverfull : Entry::kListed;
}

std::vector<GameDatabase::RomFile> GameDatabase::titanFiles(const std::string& game) const
{
    std::vector<RomFile> files;
    auto it = m_titan.find(game);
    if (it == m_titan.end() || !it->second.isObject)
        return files;
    for (const auto& [name, member] : it->second.members) {
        RomFile& file = files.emplace_back();
        file.name = name;
        if (!member.isObject) {
            file.fault = "its entry is not an object";
            continue;
        }
        const struct {
            const char* key;
            const Field& field;
            u32& value;
        } numbers[] = {{"size", member.size, file.size}, {"crc", member.crc, file.crc},
                       {"offset", member.offset, file.offset}};
        for (const auto& n : numbers) {
            file.fault = fieldFault(n.key, n.field);
            std::string why;
            if (file.fault.empty() && !parseHex32(n.field.text, n.value, why))
                file.fault = std::string("\"") + n.key + "\" " + why;
            if (!file.fault.empty())
                break;
        }
        if (file.fault.empty())
            file.fault = fieldFault("pattern", member.pattern);
        if (file.fault.empty() && file.size == 0)
            file.fault = "\"size\" is 0";
        if (file.fault.empty())
            file.pattern = member.pattern.text;
    }
    return files;
}
