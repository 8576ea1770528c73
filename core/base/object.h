#pragma once

#include <cstdarg>
#include <cstddef>
#include <mutex>
#include <string>

#include "core/base/types.h"

// Message kinds as the sink numbers them.
enum LogKind : int {
    kLogDebug = 0,
    kLogInfo = 1,
    kLogUnused = 2,
    kLogTrace = 3,
    kLogWarning = 4,
    kLogError = 5,
};

// The one line writer behind all logging. Lines from the CD drive's thread
// and the emulation thread may arrive together, so every line is written
// whole under a lock.
class LogSink {
public:
    using ColorCallback = void (*)(void* context, int colorId);
    using Writer = void (*)(void* context, const char* text, std::size_t length);

    static constexpr int kTagColor = 0;
    static constexpr std::size_t kLineChars = 1022;  // message text per line, newline excluded
    // A run of identical lines shows this many, then one line that counts the rest.
    static constexpr u64 kRepeatsShown = 4;

    LogSink();
    ~LogSink();

    // Formats and writes one line: the tag (if any) and ": " in the tag
    // colour, then the message and a newline in the kind's colour.
    void write(int kind, const char* tag, const char* format, ...) KEST_PRINTF(4, 5);
    void writeV(int kind, const char* tag, const char* format, va_list args);

    void setColorCallback(ColorCallback callback, void* context);
    void setColor(int colorId);

    // Where the text goes; standard output unless a host or a test says otherwise.
    void setWriter(Writer writer, void* context);

    // Writes the count of a run of repeated lines that is still open.
    void flush();

    static int colorOfKind(int kind);

private:
    void emit(const char* text, std::size_t length);
    void emitLine(int kind, const char* tag, const char* text, std::size_t length);
    void flushRepeats();

    std::mutex m_mutex;
    void* m_context = nullptr;
    ColorCallback m_colorCallback = nullptr;
    Writer m_writer;
    void* m_writerContext = nullptr;
    // The last line written, for collapsing runs; kept allocated between lines.
    int m_lastKind = -1;
    std::string m_lastTag;
    std::string m_lastLine;
    u64 m_repeats = 0;
};

LogSink& logSink();

// Plain formatted output to standard output.
void logPrintf(const char* format, ...) KEST_PRINTF(1, 2);

// Root of every emulated component: a name that is also the log tag, an
// enable switch, a debug switch and a verbosity threshold.
class Object {
public:
    static constexpr std::size_t kMessageChars = 511;

    explicit Object(std::string name) : m_name(std::move(name)) {}
    virtual ~Object() = default;

    const std::string& name() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }

    u8 enabled() const { return m_enabled; }
    void setEnabled(u8 on) { m_enabled = on; }
    u8 debugSwitch() const { return m_debug; }
    void setDebugSwitch(u8 on) { m_debug = on; }
    s32 threshold() const { return m_threshold; }
    void setThreshold(s32 threshold) { m_threshold = threshold; }

    bool logs(int level) const { return m_enabled && level <= m_threshold; }

    void logError(int level, const char* format, ...) const KEST_PRINTF(3, 4);
    void logWarning(int level, const char* format, ...) const KEST_PRINTF(3, 4);
    void logInfo(int level, const char* format, ...) const KEST_PRINTF(3, 4);
    void logDebug(int level, const char* format, ...) const KEST_PRINTF(3, 4);
    void logTrace(int level, const char* format, ...) const KEST_PRINTF(3, 4);

protected:
    u8 m_enabled = 1;
    u8 m_debug = 0;
    s32 m_threshold = 1;
    std::string m_name;

private:
    void logV(int kind, const char* format, va_list args) const;
};
