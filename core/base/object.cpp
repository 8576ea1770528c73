#include "core/base/object.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/base/helpers.h"

namespace {

// Line by line, so the log is there to explain a crash, whether the sink
// calls this itself or a host's writer passes the line on to it.
void writeStdout(void*, const char* text, std::size_t length)
{
    std::fwrite(text, 1, length, stdout);
    if (length > 0 && text[length - 1] == '\n')
        std::fflush(stdout);
}

// The text of one conversion (format is "%" up to its letter), after the
// values of its "*" width and precision.
template <typename T>
void appendConversion(std::string& out, const std::string& format, const int* stars, int starCount, T value)
{
    char text[64];
    const auto put = [&](char* to, std::size_t size) {
        return starCount == 0   ? std::snprintf(to, size, format.c_str(), value)
               : starCount == 1 ? std::snprintf(to, size, format.c_str(), stars[0], value)
                                : std::snprintf(to, size, format.c_str(), stars[0], stars[1], value);
    };
    const int n = put(text, sizeof text);
    if (n <= 0)
        return;
    if (static_cast<std::size_t>(n) < sizeof text) {
        out.append(text, static_cast<std::size_t>(n));
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n) + 1);
    put(out.data() + at, static_cast<std::size_t>(n) + 1);
    out.resize(at + static_cast<std::size_t>(n));
}

// The first n bytes of text less a character that would be cut at their
// end, so a line cut short still holds whole UTF-8 characters.
std::size_t wholeCharacters(const char* text, std::size_t n)
{
    std::size_t start = n;
    while (start > 0 && n - start < 3 && (static_cast<u8>(text[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start == 0)
        return n;
    const auto lead = static_cast<u8>(text[start - 1]);
    const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return n - (start - 1) < need ? start - 1 : n;
}

// A text longer than size - 1 whose end is the reason (a file that cannot
// be read, and why) must not lose that end to a long argument before it (a
// path, a name from a file): the message is formatted again piece by
// piece, and the longest texts given for "%s" lose their middle until it
// fits; the format's own words stay whole. Answers false, leaving out
// alone, for a conversion it does not know.
bool fitArguments(char* out, std::size_t size, const char* format, va_list args)
{
    // Shorter than this, a name no longer says which one it was.
    constexpr std::size_t kShortestArgument = 24;
    struct Piece {
        std::string text;
        bool argument = false;
    };
    std::vector<Piece> pieces(1);
    for (const char* p = format; *p;) {
        if (*p != '%' || p[1] == '%') {
            pieces.back().text += *p;
            p += *p == '%' ? 2 : 1;
            continue;
        }
        const char* start = p++;
        while (*p && std::strchr("-+ #0'", *p))
            ++p;
        int stars[2] = {};
        int starCount = 0;
        for (int part = 0; part < 2; ++part) {
            if (part == 1) {
                if (*p != '.')
                    break;
                ++p;
            }
            if (*p == '*') {
                stars[starCount++] = va_arg(args, int);
                ++p;
            }
            while (*p >= '0' && *p <= '9')
                ++p;
        }
        int longs = 0;      // l, or ll (q); h and hh pass an int all the same
        char sized = 0;     // j, z, t or L
        for (; *p && std::strchr("hlqjztL", *p); ++p) {
            if (*p == 'l')
                ++longs;
            else if (*p == 'q')
                longs = 2;
            else if (*p != 'h')
                sized = *p;
        }
        const char conversion = *p;
        if (!conversion)
            return false;
        const std::string conversionFormat(start, ++p);
        Piece piece;
        const auto put = [&](auto value) { appendConversion(piece.text, conversionFormat, stars, starCount, value); };
        const bool sign = conversion == 'd' || conversion == 'i';
        switch (conversion) {
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            if (sized == 'j')
                sign ? put(va_arg(args, std::intmax_t)) : put(va_arg(args, std::uintmax_t));
            else if (sized == 'z' || sized == 't')
                sign ? put(va_arg(args, std::ptrdiff_t)) : put(va_arg(args, std::size_t));
            else if (longs >= 2)
                sign ? put(va_arg(args, long long)) : put(va_arg(args, unsigned long long));
            else if (longs == 1)
                sign ? put(va_arg(args, long)) : put(va_arg(args, unsigned long));
            else
                sign ? put(va_arg(args, int)) : put(va_arg(args, unsigned));
            break;
        case 'c':
            if (longs)
                return false;
            put(va_arg(args, int));
            break;
        case 's':
            if (longs)
                return false;
            put(va_arg(args, const char*));
            piece.argument = true;
            break;
        case 'p': put(va_arg(args, void*)); break;
        case 'a':
        case 'A':
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
            sized == 'L' ? put(va_arg(args, long double)) : put(va_arg(args, double));
            break;
        default: return false;
        }
        pieces.push_back(std::move(piece));
        pieces.emplace_back();
    }
    std::size_t total = 0;
    for (const Piece& piece : pieces)
        total += piece.text.size();
    while (total >= size) {
        Piece* longest = nullptr;
        for (Piece& piece : pieces) {
            if (piece.argument && (!longest || piece.text.size() > longest->text.size()))
                longest = &piece;
        }
        if (!longest || longest->text.size() <= kShortestArgument)
            break;
        const std::size_t over = total - (size - 1);
        const std::size_t before = longest->text.size();
        longest->text =
            shortenPath(longest->text, before > over + kShortestArgument ? before - over : kShortestArgument);
        total -= before - longest->text.size();
    }
    std::size_t n = 0;
    for (const Piece& piece : pieces) {
        const std::size_t take = std::min(piece.text.size(), size - 1 - n);
        std::memcpy(out + n, piece.text.data(), take);
        n += take;
    }
    if (total >= size)
        n = wholeCharacters(out, n);
    out[n] = '\0';
    return true;
}

// vsnprintf answers the length it wanted; the text actually held is cut at
// the buffer, or fitted to it when an argument stands before the end.
std::size_t formatInto(char* buffer, std::size_t size, const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(buffer, size, format, args);
    std::size_t length = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), size - 1);
    if (n < 0) {
        buffer[0] = '\0';
    } else if (static_cast<std::size_t>(n) >= size) {
        if (fitArguments(buffer, size, format, again)) {
            length = std::char_traits<char>::length(buffer);
        } else {
            length = wholeCharacters(buffer, length);
            buffer[length] = '\0';
        }
    }
    va_end(again);
    return length;
}

bool isControl(unsigned char c)
{
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

// Eight bytes at a time: a log line seldom holds a control character, and
// every line is checked. A tab counts here; the escaping leaves it as it is.
bool hasControls(const char* text, std::size_t length)
{
    constexpr u64 kOnes = 0x0101010101010101ull;
    constexpr u64 kHighs = 0x8080808080808080ull;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        u64 word;
        std::memcpy(&word, text + i, 8);
        const u64 below = (word - kOnes * 0x20) & ~word & kHighs;  // a byte under 0x20
        const u64 del = word ^ (kOnes * 0x7F);
        if (below | ((del - kOnes) & ~del & kHighs))  // or a 0x7F
            return true;
    }
    for (; i < length; ++i) {
        if (isControl(static_cast<unsigned char>(text[i])))
            return true;
    }
    return false;
}

// Control characters from files and guests (a disc title, a path) would
// reach the terminal as escape sequences: they are shown as \xNN. Bytes from
// 0x80 up are left alone, as they carry UTF-8 and Shift-JIS text.
std::size_t escapeControls(const char* text, std::size_t length, char* out)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::size_t n = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isControl(c)) {
            out[n++] = '\\';
            out[n++] = 'x';
            out[n++] = kHex[c >> 4];
            out[n++] = kHex[c & 15];
        } else {
            out[n++] = static_cast<char>(c);
        }
    }
    return n;
}

// For the line that names a folded message: control characters become
// blanks, and a text longer than the room ends in "...".
void copyPrintable(char* out, std::size_t size, const char* text, std::size_t length)
{
    static constexpr std::size_t kEllipsis = 3;
    const bool cut = length >= size;
    const std::size_t kept = cut ? size - 1 - kEllipsis : length;
    for (std::size_t n = 0; n < kept; ++n)
        out[n] = isControl(static_cast<unsigned char>(text[n])) ? ' ' : text[n];
    if (cut)
        std::memcpy(out + kept, "...", kEllipsis);
    out[cut ? size - 1 : kept] = '\0';
}

}  // namespace

std::string printable(std::string_view text)
{
    if (!hasControls(text.data(), text.size()))
        return std::string(text);
    std::string out(4 * text.size(), '\0');
    out.resize(escapeControls(text.data(), text.size(), out.data()));
    return out;
}

LogSink::LogSink() : m_writer(writeStdout) {}

LogSink::~LogSink()
{
    // A host's writer may be gone by now; standard output is not.
    if (m_writer == writeStdout) {
        flushRepeats();
        closeSecond();
    }
}

LogSink& logSink()
{
    static LogSink sink;
    return sink;
}

int LogSink::colorOfKind(int kind)
{
    static constexpr int kColors[] = {6, 2, 3, 5, 4, 1};
    return kind >= 0 && kind <= 5 ? kColors[kind] : -1;
}

void LogSink::setColorCallback(ColorCallback callback, void* context)
{
    std::lock_guard lock(m_mutex);
    m_colorCallback = callback;
    m_context = context;
}

void LogSink::setColor(int colorId)
{
    if (m_colorCallback && m_context)
        m_colorCallback(m_context, colorId);
}

std::string* LogSink::catchFirstError(std::string* line)
{
    std::lock_guard lock(m_mutex);
    std::string* previous = m_firstError;
    m_firstError = line;
    return previous;
}

void LogSink::setWriter(Writer writer, void* context)
{
    std::lock_guard lock(m_mutex);
    flushRepeats();
    closeSecond();
    m_lastKind = -1;
    m_writer = writer ? writer : writeStdout;
    m_writerContext = writer ? context : nullptr;
}

LogSink::Writer LogSink::writer(void** context)
{
    std::lock_guard lock(m_mutex);
    *context = m_writerContext;
    return m_writer;
}

void LogSink::emit(const char* text, std::size_t length)
{
    m_secondBytes += length;
    m_writer(m_writerContext, text, length);
}

void LogSink::write(int kind, const char* tag, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeKeyedV(format, kind, tag, format, args);
    va_end(args);
}

void LogSink::writeKeyed(const char* key, int kind, const char* tag, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeKeyedV(key, kind, tag, format, args);
    va_end(args);
}

void LogSink::writeV(int kind, const char* tag, const char* format, va_list args)
{
    writeKeyedV(format, kind, tag, format, args);
}

bool LogSink::folded(const char* key, const char* tag)
{
    std::lock_guard lock(m_mutex);
    if (!m_bounded)
        return false;
    if (m_secondBytes >= kSecondBytes - kLineChars) {
        ++m_overBudget;
        return true;
    }
    const std::size_t home = slotOf(key, tag);
    for (std::size_t i = 0; key && i < kProbes; ++i) {
        MessageCount& slot = m_counts[(home + i) % kMessageSlots];
        if (!slot.key)
            return false;
        if (slot.key == key && slot.tagKey == tag) {
            if (slot.lines < kLinesPerMessage)
                return false;
            ++slot.folded;
            return true;
        }
    }
    return false;
}

// By the texts, not their addresses, so which messages find a slot is the
// same on every run whatever the host's address layout.
std::size_t LogSink::slotOf(const char* key, const char* tag)
{
    u32 hash = 2166136261u;
    for (const char* text : {key, tag}) {
        for (const char* c = text; c && *c; ++c)
            hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
        hash = (hash ^ 0xFF) * 16777619u;
    }
    return hash % kMessageSlots;
}

void LogSink::endSecond()
{
    std::lock_guard lock(m_mutex);
    closeSecond();
}

void LogSink::setBounded(bool on)
{
    std::lock_guard lock(m_mutex);
    closeSecond();
    m_bounded = on;
}

bool LogSink::admit(const char* key, int kind, const char* tag, const char* line, std::size_t length)
{
    // Room kept for the line that may count a run of repeats after this one.
    constexpr u64 kRepeatLineBytes = 96;
    if (!m_bounded)
        return true;
    const std::size_t tagLength = std::char_traits<char>::length(tag);
    // A message is its format as written by one object (or one tag).
    const std::size_t home = slotOf(key, tag);
    MessageCount* count = nullptr;
    // A short probe: past it the message is held to the whole second's budget alone.
    for (std::size_t i = 0; key && i < kProbes; ++i) {
        MessageCount& slot = m_counts[(home + i) % kMessageSlots];
        if (slot.key == key && slot.tagKey == tag) {
            count = &slot;
            break;
        }
        if (!slot.key) {
            slot.key = key;
            slot.tagKey = tag;
            slot.kind = kind;
            copyPrintable(slot.tag, sizeof slot.tag, tag, tagLength);
            m_used[m_usedCount++] = static_cast<u16>((home + i) % kMessageSlots);
            count = &slot;
            break;
        }
    }
    if (count && count->lines >= kLinesPerMessage) {
        ++count->folded;
        return false;
    }
    if (m_secondBytes + tagLength + 2 + length + kRepeatLineBytes > kSecondBytes) {
        ++m_overBudget;
        return false;
    }
    // The last line shown stands for the lines folded after it.
    if (count && ++count->lines == kLinesPerMessage)
        copyPrintable(count->lastShown, sizeof count->lastShown, line, length - 1);
    return true;
}

void LogSink::closeSecond()
{
    bool wrote = false;
    for (std::size_t i = 0; i < m_usedCount; ++i) {
        MessageCount& slot = m_counts[m_used[i]];
        if (slot.folded) {
            if (!wrote)
                flushRepeats();
            char line[160];
            const int n = std::snprintf(line, sizeof line, "(%u more lines of \"%s\" in this second)\n", slot.folded,
                                        slot.lastShown);
            emitLine(slot.kind, slot.tag, line, std::min(static_cast<std::size_t>(n), sizeof line - 1));
            wrote = true;
        }
        slot = MessageCount{};
    }
    m_usedCount = 0;
    if (m_overBudget) {
        if (!wrote)
            flushRepeats();
        char line[96];
        const int n = std::snprintf(line, sizeof line, "(%llu more lines over the log's limit for this second)\n",
                                    static_cast<unsigned long long>(m_overBudget));
        emitLine(kLogWarning, "LOG", line, static_cast<std::size_t>(n));
        wrote = true;
    }
    // A line after these is no repeat of the one before them.
    if (wrote)
        m_lastKind = -1;
    m_overBudget = 0;
    m_secondBytes = 0;
}

void LogSink::writeKeyedV(const char* key, int kind, const char* tag, const char* format, va_list args)
{
    char raw[kLineChars + 2];
    std::size_t length = formatInto(raw, kLineChars + 1, format, args);
    char escaped[4 * kLineChars + 2];
    char* line = raw;
    if (hasControls(raw, length)) {
        length = escapeControls(raw, length, escaped);
        line = escaped;
    }
    line[length++] = '\n';
    if (!tag)
        tag = "";

    std::lock_guard lock(m_mutex);
    // Caught whether or not the line is shown: a repeat is still the reason.
    if (kind == kLogError && m_firstError && m_firstError->empty()) {
        if (*tag)
            m_firstError->append(tag).append(": ");
        m_firstError->append(line, length - 1);
    }
    // A guest caught in a loop may log the same line millions of times.
    const bool repeat =
        kind == m_lastKind && std::string_view(m_lastLine) == std::string_view(line, length) && m_lastTag == tag;
    if (repeat && m_repeats + 1 >= kRepeatsShown) {
        ++m_repeats;
        return;
    }
    // One varying in its numbers is held to its count within the second.
    if (!admit(key, kind, tag, line, length))
        return;
    if (repeat) {
        ++m_repeats;
    } else {
        flushRepeats();
        m_lastKind = kind;
        if (m_lastTag != tag)
            m_lastTag = tag;
        m_lastLine.assign(line, length);
        m_repeats = 0;
    }
    emitLine(kind, tag, line, length);
}

void LogSink::emitLine(int kind, const char* tag, const char* text, std::size_t length)
{
    if (*tag) {
        setColor(kTagColor);
        emit(tag, std::char_traits<char>::length(tag));
        emit(": ", 2);
    }
    int color = colorOfKind(kind);
    if (color >= 0)
        setColor(color);
    emit(text, length);
}

void LogSink::flushRepeats()
{
    if (m_repeats >= kRepeatsShown) {
        char line[64];
        const int n = std::snprintf(line, sizeof line, "(the line above repeated %llu more times)\n",
                                    static_cast<unsigned long long>(m_repeats - kRepeatsShown + 1));
        emitLine(m_lastKind, m_lastTag.c_str(), line, static_cast<std::size_t>(n));
    }
    m_repeats = 0;
}

void LogSink::flush()
{
    std::lock_guard lock(m_mutex);
    flushRepeats();
    closeSecond();
}

void logPrintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void Object::logFirstError(std::string& reason, const char* format, ...) const
{
    // Fitted here, so the log and the reason both keep the end.
    char text[kMessageChars + 1];
    va_list args;
    va_start(args, format);
    formatInto(text, sizeof text, format, args);
    va_end(args);
    logError(1, "%s", text);
    if (reason.empty())
        reason = text;
}

void Object::logV(int kind, const char* format, va_list args) const
{
    // A flood costs no formatting once its message is folded.
    if (logSink().folded(format, m_name.c_str()))
        return;
    char message[kMessageChars + 1];
    formatInto(message, sizeof message, format, args);
    // Already formatted: a '%' inside must not be read as a directive again.
    // The caller's format tells one message from another.
    logSink().writeKeyed(format, kind, m_name.c_str(), "%s", message);
}

#define KEST_OBJECT_LOG(function, kind)                          \
    void Object::function(int level, const char* format, ...) const \
    {                                                            \
        if (!logs(level))                                        \
            return;                                              \
        va_list args;                                            \
        va_start(args, format);                                  \
        logV(kind, format, args);                                \
        va_end(args);                                            \
    }

KEST_OBJECT_LOG(logError, kLogError)
KEST_OBJECT_LOG(logWarning, kLogWarning)
KEST_OBJECT_LOG(logInfo, kLogInfo)
KEST_OBJECT_LOG(logDebug, kLogDebug)
KEST_OBJECT_LOG(logTrace, kLogTrace)

#undef KEST_OBJECT_LOG
