#include "ui/host/log_console.h"

#include <unistd.h>

#include "core/base/object.h"

namespace {

constexpr int kWhite = 7;
constexpr int kBrightBit = 8;

}  // namespace

LogConsole::LogConsole(bool bright, std::FILE* stream, bool forceColour)
    : m_stream(stream), m_bright(bright), m_colour(forceColour || isatty(fileno(stream)))
{
    if (m_colour) {
        logSink().setColorCallback(&LogConsole::colourCallback, this);
        m_registered = true;
    }
}

LogConsole::~LogConsole()
{
    close();
}

int LogConsole::attributeOf(int colorId)
{
    static constexpr int kAttributes[] = {kWhite, 4, 2, 1, 6, 5, 3};
    return colorId >= 1 && colorId <= 6 ? kAttributes[colorId] : kWhite;
}

void LogConsole::setColour(int colorId)
{
    m_attribute = attributeOf(colorId);
    const int attribute = m_bright ? m_attribute | kBrightBit : m_attribute;
    // Console attribute bits are blue 1, green 2, red 4; ANSI numbers
    // colours red 1, green 2, blue 4.
    const int ansi = (attribute & 4 ? 1 : 0) | (attribute & 2) | (attribute & 1 ? 4 : 0);
    std::fprintf(m_stream, "\x1b[%dm", (attribute & kBrightBit ? 90 : 30) + ansi);
}

void LogConsole::close()
{
    // The sink outlives the console: it must not call back into it.
    if (!m_registered)
        return;
    logSink().setColorCallback(nullptr, nullptr);
    m_registered = false;
    std::fputs("\x1b[0m", m_stream);
    std::fflush(m_stream);
}

void LogConsole::colourCallback(void* self, int colorId)
{
    static_cast<LogConsole*>(self)->setColour(colorId);
}
