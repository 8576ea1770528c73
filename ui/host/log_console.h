#pragma once

#include <cstddef>
#include <cstdio>

class ConsoleWindow;

// The program's log: each piece of a log line in the colour of its kind,
// on the terminal as ANSI escapes and, once a window is attached, in that
// window too. The console is opened with its bright flag, so every colour
// shows bright.
class LogConsole {
public:
    // Colours only when the stream is a terminal, or when forced.
    explicit LogConsole(bool bright, std::FILE* stream = stdout, bool forceColour = false);
    ~LogConsole();
    LogConsole(const LogConsole&) = delete;
    LogConsole& operator=(const LogConsole&) = delete;

    // The console attribute of a colour id: bits 1 blue, 2 green, 4 red.
    static int attributeOf(int colorId);
    void setColour(int colorId);
    // Every line from now on also goes to window, until close().
    void attach(ConsoleWindow& window);
    void close();
    int attribute() const { return m_attribute; }

private:
    static void colourCallback(void* self, int colorId);
    static void writeCallback(void* self, const char* text, std::size_t length);

    std::FILE* m_stream;
    ConsoleWindow* m_window = nullptr;
    // Where lines went before the window came: the terminal, or a test's.
    void (*m_next)(void*, const char*, std::size_t) = nullptr;
    void* m_nextContext = nullptr;
    int m_attribute = 7;
    bool m_bright;
    bool m_colour;
    bool m_registered = false;
};
