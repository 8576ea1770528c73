#pragma once

#include <QString>
#include <string>
#include <vector>

// Language files: "lang/<code>.ini", UTF-8, one per language, read with
// the settings reader. The code looks like "en_US".
namespace language {

constexpr int kFirstCommand = 33000;
constexpr int kLastCommand = 33100;

bool isValidCode(const std::string& code);

struct Entry {
    std::string code;
    QString label;  // [Language] Name
    int command = 0;
};

// The languages in folder, in name order, with command ids from 33000;
// files whose name is not a valid code are skipped. Creates the folder
// when it is missing. anyFile, when given, tells whether any ".ini" file
// was there, valid or not.
std::vector<Entry> find(const std::string& folder, bool* anyFile = nullptr);

// The file of a language, and one of its texts as UTF-16 (empty when the
// key is missing).
std::string filePath(const std::string& folder, const std::string& code);
QString text(const std::string& file, const char* section, const char* key);

// The about box's credits, with its headings and translator taken from
// the language file when it exists.
QString credits(const std::string& file);

// Writes the default settings text as path, every line ending CR LF.
bool writeDefaultSettings(const std::string& path);

}  // namespace language
