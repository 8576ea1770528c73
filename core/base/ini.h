#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/base/file_io.h"
#include "core/base/types.h"

// One "key = value ;comment" line. The value may be assigned by the caller;
// the next rewrite stores it.
struct IniEntry {
    std::string key;
    std::string value;
    // Read from double quotes, and so written back in them. A value holding
    // "#" or ";" is written in them too (one that also holds a quote cannot
    // be read back whole).
    bool quoted = false;
    // One blank and the comment that ended the line, or empty.
    std::string comment;
    // Comment lines that stood before this one, each with CR LF.
    std::string leadingComments;
    bool blankBefore = false;

    // Hexadecimal for a whole "0x..." value, else decimal read as far as it
    // goes; 0 when nothing parses.
    s32 getInt() const;
};

struct IniSection {
    std::string name;
    std::string comment;
    std::string leadingComments;
    // Kept from the file; a rewrite always puts one empty line between sections.
    bool blankBefore = false;
    // Holds keys that came before any section line; it has no line of its own.
    bool implicit = false;
    std::vector<IniEntry> entries;

    // The first entry of that key, else an empty entry whose assignments are lost.
    IniEntry& findKey(const std::string& key);

private:
    IniEntry m_nullEntry;
};

// The line-based settings format of kest.ini, the language files and CCD
// disc descriptions. Unless read-only, the file is rewritten on destruction.
class INI {
public:
    static constexpr u64 kMaxFileBytes = kMaxDescriptionBytes;

    INI(const std::string& path, bool readOnly);
    ~INI();
    INI(const INI&) = delete;
    INI& operator=(const INI&) = delete;

    // False when a line is of no kind (no section, key, comment or blank),
    // reading failed, or the file is too large or not a regular file. The
    // lines after a line of no kind are not read, unless it holds a comment
    // and does not start with "[": then only the text before the comment is
    // passed over. A missing file loads as empty and answers true.
    bool load(const std::string& path);
    // Reads settings from text instead of a file; the object keeps no path.
    bool parse(std::string_view text);

    // The first section of that name, else an empty section whose
    // assignments are lost.
    IniSection& findSection(const std::string& name);

    // Stores value as key of the first section of that name, adding what is
    // missing: the key after the section's last key, the section at the end
    // of the file. A missing key given an empty value is not added: it
    // reads as empty already.
    void set(const std::string& section, const std::string& key, const std::string& value);

    // The whole file as it would be rewritten, with CR LF line ends.
    std::string save() const;

    const std::vector<IniSection>& sections() const { return m_sections; }

private:
    bool parseLine(const std::string& line);
    void writeBack() const;

    std::string m_path;
    std::string m_pendingComments;
    bool m_blankSeen = false;
    std::size_t m_linesRead = 0;
    // The first line of no kind that held a comment, and the line that
    // stopped the reading; 0 for none.
    std::size_t m_strayLine = 0;
    std::size_t m_stopLine = 0;
    bool m_readOnly;
    // A file whose loading stopped early, or that holds a line of no kind,
    // is never rewritten: the rewrite would drop the text it could not read.
    bool m_loadComplete = true;
    bool m_byteOrderMark = false;
    IniSection m_nullSection;
    std::vector<IniSection> m_sections;
    // The first section of each name, so lookups stay constant-time however
    // many sections a file holds.
    std::unordered_map<std::string, std::size_t> m_firstSection;
};
