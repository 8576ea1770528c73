#pragma once

#include <cstdio>

// The program's log on its terminal: each piece of a log line in the
// colour of its kind, as ANSI escapes. The console is opened with its
// bright flag, so every colour shows bright.
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
    void close();
    int attribute() const { return m_attribute; }

private:
    static void colourCallback(void* self, int colorId);

    std::FILE* m_stream;
    int m_attribute = 7;
    bool m_bright;
    bool m_colour;
    bool m_registered = false;
};
