#include "core/base/object.h"

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

}  // namespace

LogSink::LogSink() : m_writer(writeStdout) {}

LogSink::~LogSink()
{
    // A host's writer may be gone by now; standard output is not.
    if (m_writer == writeStdout)
        flushRepeats();
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

void LogSink::setWriter(Writer writer, void* context)
{
    std::lock_guard lock(m_mutex);
    flushRepeats();
    m_lastKind = -1;
    m_writer = writer ? writer : writeStdout;
    m_writerContext = writer ? context : nullptr;
}

void LogSink::emit(const char* text, std::size_t length)
{
    m_writer(m_writerContext, text, length);
}

void LogSink::write(int kind, const char* tag, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeV(kind, tag, format, args);
    va_end(args);
}

void LogSink::writeV(int kind, const char* tag, const char* format, va_list args)
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
    // A guest caught in a loop may log the same line millions of times.
    if (kind == m_lastKind && std::string_view(m_lastLine) == std::string_view(line, length) && m_lastTag == tag) {
        if (++m_repeats >= kRepeatsShown)
            return;
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
}

void logPrintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void Object::logV(int kind, const char* format, va_list args) const
{
    char message[kMessageChars + 1];
    formatInto(message, sizeof message, format, args);
    // Already formatted: a '%' inside must not be read as a directive again.
    logSink().write(kind, m_name.c_str(), "%s", message);
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
