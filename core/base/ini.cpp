#include "core/base/ini.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ios>
#include <limits>
#include <string_view>

#include "core/base/object.h"
#include "core/base/file_io.h"

namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr std::size_t kNone = std::string::npos;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The set that "\s" stands for in the format's patterns.
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// "." in those patterns matches anything but these.
bool isLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

std::size_t skipSpaces(const std::string& s, std::size_t i)
{
    while (i < s.size() && isSpace(s[i]))
        ++i;
    return i;
}

bool isBlank(const std::string& s)
{
    return skipSpaces(s, 0) == s.size();
}

std::size_t nextLineBreak(const std::string& s, std::size_t i)
{
    while (i < s.size() && !isLineBreak(s[i]))
        ++i;
    return i;
}

// One past the last non-blank character in [from, to); from itself is not blank.
std::size_t endOfText(const std::string& s, std::size_t from, std::size_t to)
{
    while (to > from + 1 && isSpace(s[to - 1]))
        --to;
    return to;
}

// The section pattern "^\s*\[\s*(\S(.*\S)?)\s*\]\s*$", written out by hand:
// the library's regex engine recurses once per character and a long line
// would exhaust the stack.
bool matchSection(const std::string& s, std::string& name)
{
    std::size_t begin = skipSpaces(s, 0);
    if (begin == s.size() || s[begin] != '[')
        return false;
    std::size_t end = endOfText(s, begin, s.size());
    if (end - begin < 2 || s[end - 1] != ']')
        return false;
    std::size_t first = skipSpaces(s, begin + 1);
    if (first >= end - 1)
        return false;
    std::size_t last = endOfText(s, first, end - 1);
    for (std::size_t i = first; i < last; ++i) {
        if (isLineBreak(s[i]))
            return false;
    }
    name.assign(s, first, last - first);
    return true;
}

// The key pattern "\s*(\S(.*\S)?)\s*=(\s*(\S(.*\S)?)\s*)?", searched: the key
// runs from the first non-blank to the last "=" it can reach, so it may hold
// "=" itself. A key cannot span a line break, so when the first stretch
// between line breaks has no usable "=", the search goes on in the next one.
bool matchKey(const std::string& s, std::string& key, std::string& value)
{
    const std::size_t n = s.size();
    for (std::size_t p = skipSpaces(s, 0); p < n; p = skipSpaces(s, p)) {
        std::size_t limit = nextLineBreak(s, p);
        std::size_t equals = kNone;
        std::size_t beyond = skipSpaces(s, limit);
        if (beyond < n && s[beyond] == '=') {
            equals = beyond;
        } else {
            for (std::size_t i = limit; i > p + 1; --i) {
                if (s[i - 1] == '=') {
                    equals = i - 1;
                    break;
                }
            }
        }
        if (equals == kNone) {
            p = limit;
            continue;
        }
        key.assign(s, p, endOfText(s, p, equals) - p);
        std::size_t v = skipSpaces(s, equals + 1);
        if (v == n)
            value.clear();
        else
            value.assign(s, v, endOfText(s, v, nextLineBreak(s, v)) - v);
        return true;
    }
    return false;
}

// Where the line's comment starts, or kNone. A comment starts at the first
// "#" or ";", except inside a value written in double quotes: a value that
// is all quoted text after its "=" (then only blanks or a comment) is read
// without its quotes, so a path may hold either sign. equals, open and
// close then give the "=" and the quotes.
std::size_t findComment(const std::string& s, std::size_t& equals, std::size_t& open, std::size_t& close)
{
    equals = kNone;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '#' || s[i] == ';')
            return i;
        if (s[i] != '=')
            continue;
        const std::size_t first = skipSpaces(s, i + 1);
        if (first == s.size() || s[first] != '"')
            continue;
        const std::size_t last = s.find('"', first + 1);
        if (last == kNone)
            continue;
        const std::size_t after = skipSpaces(s, last + 1);
        if (after < s.size() && s[after] != '#' && s[after] != ';')
            continue;
        equals = i;
        open = first;
        close = last;
        return after < s.size() ? after : kNone;
    }
    return kNone;
}

bool needsQuotes(const IniEntry& entry)
{
    return entry.quoted || entry.value.find_first_of("#;") != std::string::npos;
}

bool isHexValue(const std::string& s)
{
    if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X'))
        return false;
    for (std::size_t i = 2; i < s.size(); ++i) {
        char c = s[i];
        bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit)
            return false;
    }
    return true;
}

}  // namespace

// Out-of-range numbers stop at the nearest value that fits rather than
// wrapping to something unrelated.
s32 IniEntry::getInt() const
{
    if (isHexValue(value)) {
        u64 result = 0;
        for (std::size_t i = 2; i < value.size(); ++i) {
            char c = value[i];
            u32 digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
            result = result * 16 + digit;
            if (result > 0xFFFFFFFFu)
                return static_cast<s32>(0xFFFFFFFFu);
        }
        return static_cast<s32>(static_cast<u32>(result));
    }

    std::size_t i = skipSpaces(value, 0);
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-'))
        negative = value[i++] == '-';
    s64 magnitude = 0;
    constexpr s64 kLimit = static_cast<s64>(std::numeric_limits<s32>::max()) + 1;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (value[i] - '0');
        if (magnitude > kLimit)
            magnitude = kLimit;
    }
    s64 result = negative ? -magnitude : magnitude;
    if (result > std::numeric_limits<s32>::max())
        result = std::numeric_limits<s32>::max();
    return static_cast<s32>(result);
}

IniEntry& IniSection::findKey(const std::string& key)
{
    for (IniEntry& entry : entries) {
        if (entry.key == key)
            return entry;
    }
    m_nullEntry = IniEntry{};
    return m_nullEntry;
}

INI::INI(const std::string& path, bool readOnly) : m_readOnly(readOnly)
{
    if (!path.empty())
        load(path);
}

INI::~INI()
{
    if (!m_readOnly && m_loadComplete && !m_path.empty())
        writeBack();
}

bool INI::load(const std::string& path)
{
    m_path = path;
    // Checked before opening: a FIFO would block the open, and a huge file
    // would be held whole in memory.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return true;
    const bool regular = status.type() == std::filesystem::file_type::regular;
    const u64 size = regular ? std::filesystem::file_size(path, error) : 0;
    if (!regular || error || size > kMaxFileBytes) {
        logSink().write(kLogError, "INI", "%s not read: %s [size: %llu, limit: %llu]", path.c_str(),
                        regular ? "too large" : "not a regular file", static_cast<unsigned long long>(size),
                        static_cast<unsigned long long>(kMaxFileBytes));
        m_loadComplete = false;
        return false;
    }
    std::string text;
    std::ifstream in;
    in.exceptions(std::ios::badbit);
    try {
        in.open(path, std::ios::binary);
        if (!in.is_open()) {
            // Present but unreadable: rewriting it would replace it with nothing.
            m_loadComplete = false;
            return true;
        }
        text.resize(size);
        in.read(text.data(), static_cast<std::streamsize>(size));
        text.resize(static_cast<std::size_t>(in.gcount()));
    } catch (const std::ios_base::failure& failure) {
        logPrintf("%s\n", failure.what());
        m_loadComplete = false;
        return false;
    }
    // Editors on Windows often start UTF-8 files with a byte-order mark; it
    // is no part of the first line and is written back as found.
    std::string_view lines = text;
    if (lines.starts_with(kByteOrderMark)) {
        lines.remove_prefix(kByteOrderMark.size());
        m_byteOrderMark = true;
    }
    if (parse(lines))
        return true;
    m_loadComplete = false;
    if (m_strayLine != 0)
        logSink().write(kLogError, "INI", "%s: line %zu is no section, key or comment; the file is left as it is",
                        path.c_str(), m_strayLine);
    if (m_stopLine != 0)
        logSink().write(kLogError, "INI", "%s: line %zu is no section, key or comment; the lines after it are not "
                        "read, and the file is left as it is", path.c_str(), m_stopLine);
    return false;
}

// A line ends at CR LF, LF or a lone CR: editors on every host leave one of
// them, and a file read as one long line would lose its settings.
bool INI::parse(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        std::string line(text.substr(0, end));
        std::size_t next = end;
        if (next < text.size())
            next += text.substr(next).starts_with("\r\n") ? 2 : 1;
        text.remove_prefix(next);
        ++m_linesRead;
        // A line holding only blanks is as empty as one holding nothing.
        if (isBlank(line)) {
            m_blankSeen = true;
            continue;
        }
        if (!parseLine(line)) {
            m_stopLine = m_linesRead;
            return false;
        }
    }
    return m_strayLine == 0;
}

bool INI::parseLine(const std::string& line)
{
    std::size_t equals;
    std::size_t open = 0;
    std::size_t close = 0;
    std::size_t cut = findComment(line, equals, open, close);
    std::string statement = line.substr(0, equals == kNone ? cut : equals + 1);
    std::string comment = cut == kNone ? std::string() : line.substr(cut);
    std::string trailer = comment.empty() ? std::string() : " " + comment;

    std::string name;
    if (matchSection(statement, name)) {
        m_firstSection.try_emplace(name, m_sections.size());
        IniSection& section = m_sections.emplace_back();
        section.name = std::move(name);
        section.comment = std::move(trailer);
        section.leadingComments = std::move(m_pendingComments);
        section.blankBefore = m_blankSeen;
        m_pendingComments.clear();
        m_blankSeen = false;
        return true;
    }

    std::string key;
    std::string value;
    if (matchKey(statement, key, value)) {
        // Keys ahead of the first section line gather in a section that is
        // written back without a line of its own.
        if (m_sections.empty()) {
            m_firstSection.try_emplace("root", 0);
            IniSection& root = m_sections.emplace_back();
            root.name = "root";
            root.implicit = true;
        }
        IniEntry& entry = m_sections.back().entries.emplace_back();
        entry.key = std::move(key);
        entry.value = equals == kNone ? std::move(value) : line.substr(open + 1, close - open - 1);
        entry.quoted = equals != kNone;
        entry.comment = std::move(trailer);
        entry.leadingComments = std::move(m_pendingComments);
        entry.blankBefore = m_blankSeen;
        m_pendingComments.clear();
        m_blankSeen = false;
        return true;
    }

    // A section line that is no section stops the reading, comment or not:
    // the keys after it are not the section's before it.
    const std::size_t first = skipSpaces(statement, 0);
    if (comment.empty() || (first < statement.size() && statement[first] == '['))
        return false;
    // Text before the comment makes the line one of no kind. The reading
    // passes over it as it always has, but a rewrite would drop that text.
    if (!isBlank(statement) && m_strayLine == 0)
        m_strayLine = m_linesRead;
    m_pendingComments += comment;
    m_pendingComments += kLineEnd;
    return true;
}

IniSection& INI::findSection(const std::string& name)
{
    const auto found = m_firstSection.find(name);
    if (found != m_firstSection.end())
        return m_sections[found->second];
    m_nullSection = IniSection{};
    return m_nullSection;
}

void INI::set(const std::string& section, const std::string& key, const std::string& value)
{
    IniSection* target = &findSection(section);
    IniEntry& entry = target->findKey(key);
    if (!entry.key.empty() || value.empty()) {
        entry.value = value;
        return;
    }
    if (target == &m_nullSection) {
        m_firstSection.try_emplace(section, m_sections.size());
        target = &m_sections.emplace_back();
        target->name = section;
        // As if written at the end of the file: the comment lines that
        // closed it stand before the new section.
        target->leadingComments = std::move(m_pendingComments);
        m_pendingComments.clear();
    }
    IniEntry& added = target->entries.emplace_back();
    added.key = key;
    added.value = value;
}

std::string INI::save() const
{
    std::string text;
    if (m_byteOrderMark)
        text += kByteOrderMark;
    for (const IniSection& section : m_sections) {
        if (!section.implicit) {
            text += section.leadingComments;
            text += '[';
            text += section.name;
            text += ']';
            text += section.comment;
            text += kLineEnd;
        }
        for (const IniEntry& entry : section.entries) {
            if (entry.blankBefore)
                text += kLineEnd;
            text += entry.leadingComments;
            text += entry.key;
            text += " =";
            if (needsQuotes(entry)) {
                text += " \"";
                text += entry.value;
                text += '"';
            } else if (!entry.value.empty()) {
                text += ' ';
                text += entry.value;
            }
            text += entry.comment;
            text += kLineEnd;
        }
        text += kLineEnd;
    }
    if (!m_pendingComments.empty())
        text += m_pendingComments;
    else if (!m_sections.empty())
        text.resize(text.size() - 2);
    return text;
}

// The text goes to a side file first and then replaces the old one, so a
// failed or interrupted write leaves the settings as they were.
void INI::writeBack() const
{
    const std::string text = save();
    replaceFile(m_path, text.data(), text.size());
}
