#include "ui/host/language.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/emulator/default_settings.h"
#include "core/base/ini.h"

namespace language {

namespace {

constexpr const char* kBuiltInTranslator = "Kest team";

// Headings first, each followed by 17 "=" and its lines; sections apart by
// two empty lines.
constexpr const char* kCredits =
    "Special thanks\n"
    "=================\n"
    "The authors of the SH-2, SCU, VDP1, VDP2, SCSP, SMPC and CD block manuals\n"
    "\n"
    "\n"
    "Testing\n"
    "=================\n"
    "Everyone who reported a game that would not start\n"
    "\n"
    "\n"
    "Translation\n"
    "=================\n"
    "Kest team\n";

bool lower(char c) { return c >= 'a' && c <= 'z'; }
bool upper(char c) { return c >= 'A' && c <= 'Z'; }

void replaceFirst(QString& text, const QString& what, const QString& with)
{
    const qsizetype at = text.indexOf(what);
    if (at >= 0)
        text.replace(at, what.size(), with);
}

}  // namespace

bool isValidCode(const std::string& code)
{
    return code.size() >= 5 && lower(code[0]) && lower(code[1]) && code[2] == '_' && upper(code[3]) &&
           upper(code[4]);
}

std::string filePath(const std::string& folder, const std::string& code)
{
    return (std::filesystem::path(folder) / (code + ".ini")).string();
}

std::vector<Entry> find(const std::string& folder, bool* anyFile)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        if (item.path().extension() == ".ini")
            names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    if (anyFile)
        *anyFile = !names.empty();
    std::vector<Entry> entries;
    for (const std::string& name : names) {
        const std::string code = name.substr(0, name.rfind('.'));
        if (!isValidCode(code) || kFirstCommand + static_cast<int>(entries.size()) > kLastCommand)
            continue;
        const int command = kFirstCommand + static_cast<int>(entries.size());
        entries.push_back({code, text(filePath(folder, code), "Language", "Name"), command});
    }
    return entries;
}

QString text(const std::string& file, const char* section, const char* key)
{
    INI ini(file, true);
    return QString::fromUtf8(ini.findSection(section).findKey(key).value);
}

QString credits(const std::string& file)
{
    QString result = QString::fromUtf8(kCredits);
    if (!std::filesystem::exists(file))
        return result;
    INI ini(file, true);
    IniSection& section = ini.findSection("Credits");
    const auto value = [&](const char* key) { return QString::fromUtf8(section.findKey(key).value); };
    replaceFirst(result, QStringLiteral("Special thanks"), value("Special thanks"));
    replaceFirst(result, QStringLiteral("Testing"), value("Testing"));
    replaceFirst(result, QStringLiteral("Translation"), value("Translation"));
    replaceFirst(result, QString::fromUtf8(kBuiltInTranslator), value("Translator"));
    return result;
}

bool writeDefaultSettings(const std::string& path)
{
    std::string text;
    text.reserve(kDefaultSettingsLength + 128);
    for (std::size_t i = 0; i < kDefaultSettingsLength; ++i) {
        if (kDefaultSettings[i] == '\n')
            text += '\r';
        text += kDefaultSettings[i];
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return out.good();
}

}  // namespace language
