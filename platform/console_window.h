#pragma once

#include <QPlainTextEdit>
#include <QTimer>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

// A text console of the program's own: a window with the log in console
// colours on black, a bounded scrollback and selectable text. A program
// started from a desktop has no terminal, so this is where the log shows.
// Text arrives as on a console: an attribute (bits 1 blue, 2 green, 4 red,
// 8 intensity), then the text written in it.
class ConsoleWindow : public QPlainTextEdit {
public:
    static constexpr int kScrollbackLines = 10000;
    static constexpr int kFlushMs = 50;

    explicit ConsoleWindow(const QString& title);

    // Any thread: the text shows at the next flush.
    void setTextAttribute(int attribute);
    void write(const char* text, std::size_t length);
    // Shows what was written so far.
    void flush();

    static QColor colourOf(int attribute);

private:
    struct Run {
        int attribute;
        std::string text;
    };

    std::mutex m_mutex;
    std::deque<Run> m_pending;
    std::size_t m_pendingLines = 0;
    int m_attribute = 7;
    QTimer m_timer;
};
