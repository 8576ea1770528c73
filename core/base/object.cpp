#include "core/base/object.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

void writeStdout(void*, const char* text, std::size_t length)
{
    std::fwrite(text, 1, length, stdout);
}

// vsnprintf answers the length it wanted; the text actually held is cut at the buffer.
std::size_t formatInto(char* buffer, std::size_t size, const char* format, va_list args)
{
    int n = std::vsnprintf(buffer, size, format, args);
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size - 1;
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
    // Line by line, so the log is there to explain a crash.
    if (m_writer == writeStdout)
        std::fflush(stdout);
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
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
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
