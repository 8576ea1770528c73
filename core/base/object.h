#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>

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

// The one line writer behind all logging. The emulation writes from its
// own thread (the drive's thread hands its findings over as data), but a
// host or a tool may write from another, so every line is written whole
// under a lock.
class LogSink {
public:
    using ColorCallback = void (*)(void* context, int colorId);
    using Writer = void (*)(void* context, const char* text, std::size_t length);

    static constexpr int kTagColor = 0;
    static constexpr std::size_t kLineChars = 1022;  // message text per line, newline excluded
    // A run of identical lines shows this many, then one line that counts the rest.
    static constexpr u64 kRepeatsShown = 4;
    // Within one emulated second a message (by its format) shows this many
    // lines; the rest are counted in one line when the second ends.
    static constexpr u32 kLinesPerMessage = 100;
    // Lines a second may hold, whatever the messages; the counting lines
    // that close the second fit in what is left of a megabyte.
    static constexpr u64 kSecondBytes = 768 * 1024;
    static constexpr std::size_t kMessageSlots = 1024;
    static constexpr std::size_t kProbes = 8;

    LogSink();
    ~LogSink();

    // Formats and writes one line: the tag (if any) and ": " in the tag
    // colour, then the message and a newline in the kind's colour.
    void write(int kind, const char* tag, const char* format, ...) KEST_PRINTF(4, 5);
    void writeV(int kind, const char* tag, const char* format, va_list args);
    // As writeV, counted under key, the format the caller's message came from.
    void writeKeyed(const char* key, int kind, const char* tag, const char* format, ...) KEST_PRINTF(5, 6);

    // The machine calls this as each emulated second ends (and when it
    // starts afresh): the lines folded in it are counted now, and every
    // message starts the next second with a clean count.
    void endSecond();
    // Seconds are counted only while a machine runs: without one there is
    // no emulated time, and every line is written (tools, tests).
    void setBounded(bool on);

    // Counts a line of that message (format and tag) as folded, without
    // formatting it, when its second already holds all it may show.
    bool folded(const char* key, const char* tag);

    void setColorCallback(ColorCallback callback, void* context);
    void setColor(int colorId);

    // Where the text goes; standard output unless a host or a test says otherwise.
    void setWriter(Writer writer, void* context);
    // The writer in place, so a host that adds a place of its own can pass
    // every line on to it as well.
    Writer writer(void** context);

    // While set, the first error line written (tag, ": " and text) lands in
    // *line when that is still empty: the reason a caller reports for what
    // failed. Answers the catch it replaces, so catches nest.
    std::string* catchFirstError(std::string* line);

    // Writes the count of a run of repeated lines that is still open, and
    // of the lines folded so far this second.
    void flush();

    static int colorOfKind(int kind);

private:
    // One message's count within the second. The tag and the last line
    // shown are copied so the closing line can name the message as it read.
    struct MessageCount {
        const char* key = nullptr;
        const char* tagKey = nullptr;
        u32 lines = 0;
        u32 folded = 0;
        int kind = 0;
        char tag[24] = {};
        char lastShown[96] = {};
    };

    void writeKeyedV(const char* key, int kind, const char* tag, const char* format, va_list args);
    // Whether a line of that message and length may be written this second.
    bool admit(const char* key, int kind, const char* tag, const char* line, std::size_t length);
    void closeSecond();
    static std::size_t slotOf(const char* key, const char* tag);
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
    // The emulated second's counts; only used slots are cleared at its end.
    bool m_bounded = false;
    u64 m_secondBytes = 0;
    u64 m_overBudget = 0;
    MessageCount m_counts[kMessageSlots];
    u16 m_used[kMessageSlots] = {};
    std::size_t m_usedCount = 0;
    std::string* m_firstError = nullptr;
};

LogSink& logSink();

// The text with its control characters shown as \xNN, as every log line
// shows them: names from files and guests must not reach a terminal as
// escape sequences. For messages that bypass the log.
std::string printable(std::string_view text);

// Keeps the first error line logged while it lives in reason.
class FirstErrorCatch {
public:
    explicit FirstErrorCatch(std::string& reason) : m_previous(logSink().catchFirstError(&reason)) {}
    ~FirstErrorCatch() { logSink().catchFirstError(m_previous); }
    FirstErrorCatch(const FirstErrorCatch&) = delete;
    FirstErrorCatch& operator=(const FirstErrorCatch&) = delete;

private:
    std::string* m_previous;
};

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

    bool logs(int level) const
    {
        return m_enabled && (level <= m_threshold || level <= s_floor.load(std::memory_order_relaxed));
    }
    // Every object logs at least to this level until it is lowered again:
    // how a check hears a line from any unit, however deep.
    static void setThresholdFloor(s32 level) { s_floor.store(level, std::memory_order_relaxed); }
    static s32 thresholdFloor() { return s_floor.load(std::memory_order_relaxed); }

    void logError(int level, const char* format, ...) const KEST_PRINTF(3, 4);
    void logWarning(int level, const char* format, ...) const KEST_PRINTF(3, 4);
    void logInfo(int level, const char* format, ...) const KEST_PRINTF(3, 4);
    void logDebug(int level, const char* format, ...) const KEST_PRINTF(3, 4);
    void logTrace(int level, const char* format, ...) const KEST_PRINTF(3, 4);
    // An error that stops an operation: logged, and kept in reason when that
    // holds none yet, since the first one is what the caller reports.
    void logFirstError(std::string& reason, const char* format, ...) const KEST_PRINTF(3, 4);

protected:
    u8 m_enabled = 1;
    u8 m_debug = 0;
    s32 m_threshold = 1;
    std::string m_name;

private:
    static inline std::atomic<s32> s_floor{std::numeric_limits<s32>::min()};
    void logV(int kind, const char* format, va_list args) const;
};
