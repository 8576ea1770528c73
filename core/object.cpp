#include "core/object.h"

#include <cstdio>

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

}  // namespace

LogSink::LogSink() : m_writer(writeStdout) {}

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
    char line[kLineChars + 2];
    std::size_t length = formatInto(line, kLineChars + 1, format, args);
    line[length++] = '\n';

    std::lock_guard lock(m_mutex);
    if (tag && *tag) {
        setColor(kTagColor);
        emit(tag, std::char_traits<char>::length(tag));
        emit(": ", 2);
    }
    int color = colorOfKind(kind);
    if (color >= 0)
        setColor(color);
    emit(line, length);
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
