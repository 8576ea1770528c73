#include "core/emulator/game_database.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/base/object.h"
#include "core/base/save_file.h"

namespace {

constexpr const char* kTag = "DATA";

}  // namespace

u32 scanHex(const std::string& text)
{
    unsigned int value = 0;
    return std::sscanf(text.c_str(), "%x", &value) == 1 ? value : 0;
}

GameDatabase GameDatabase::load(const std::string& path)
{
    // A FIFO would block the open.
    std::ifstream in;
    if (isRegularFile(path))
        in.open(path, std::ios::binary);
    if (!in.is_open()) {
        logSink().write(kLogError, kTag, "Failed to open %s [reason: %s]", path.c_str(),
                        whyNotOpened(path).c_str());
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str(), path);
}

GameDatabase GameDatabase::parse(const std::string& text, const std::string& origin)
{
    GameDatabase db;
    nlohmann::json data = nlohmann::json::parse(text, nullptr, false);
    if (data.is_discarded() || !data.is_object()) {
        logSink().write(kLogError, kTag, "Failed to parse %s", origin.c_str());
        return db;
    }
    db.m_data = std::move(data);
    return db;
}

bool GameDatabase::findGameInList(const std::string& list, const std::string& productNumber,
                                  const std::string& title) const
{
    auto games = m_data.find(list);
    if (games == m_data.end() || !games->is_object())
        return false;
    for (auto it = games->begin(); it != games->end(); ++it) {
        if (it.key() == productNumber && it->is_string() && it->get_ref<const std::string&>() == title)
            return true;
    }
    return false;
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

bool GameDatabase::findTitanGame(const std::string& game) const
{
    auto titan = m_data.find("TITAN");
    return titan != m_data.end() && titan->is_object() && titan->contains(game) && (*titan)[game].is_object();
}

std::vector<GameDatabase::RomFile> GameDatabase::titanFiles(const std::string& game) const
{
    std::vector<RomFile> files;
    if (!findTitanGame(game))
        return files;
    auto field = [](const nlohmann::json& entry, const char* key) {
        auto it = entry.find(key);
        return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    // An object's members come out in byte-wise key order.
    for (const auto& [name, entry] : m_data["TITAN"][game].items()) {
        if (!entry.is_object()) {
            logSink().write(kLogError, kTag, "Bad entry %s", name.c_str());
            continue;
        }
        files.push_back({name, scanHex(field(entry, "size")), scanHex(field(entry, "crc")),
                         scanHex(field(entry, "offset")), field(entry, "pattern")});
    }
    return files;
}
