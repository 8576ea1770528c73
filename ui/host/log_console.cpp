#include "ui/host/log_console.h"

#include <unistd.h>

#include "core/base/object.h"
#include "platform/console_window.h"

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
    if (m_window)
        m_window->setTextAttribute(attribute);
    if (!m_colour)
        return;
    // Console attribute bits are blue 1, green 2, red 4; ANSI numbers
    // colours red 1, green 2, blue 4.
    const int ansi = (attribute & 4 ? 1 : 0) | (attribute & 2) | (attribute & 1 ? 4 : 0);
    std::fprintf(m_stream, "\x1b[%dm", (attribute & kBrightBit ? 90 : 30) + ansi);
}

void LogConsole::attach(ConsoleWindow& window)
{
    m_window = &window;
    m_next = logSink().writer(&m_nextContext);
    logSink().setWriter(&LogConsole::writeCallback, this);
    logSink().setColorCallback(&LogConsole::colourCallback, this);
    m_registered = true;
}

void LogConsole::close()
{
    // The sink outlives the console: it must not call back into it.
    if (!m_registered)
        return;
    if (m_window) {
        logSink().setWriter(m_next, m_nextContext);
        m_window->flush();
        m_window = nullptr;
    }
    logSink().setColorCallback(nullptr, nullptr);
    m_registered = false;
    if (!m_colour)
        return;
    std::fputs("\x1b[0m", m_stream);
    std::fflush(m_stream);
}

void LogConsole::colourCallback(void* self, int colorId)
{
    static_cast<LogConsole*>(self)->setColour(colorId);
}

void LogConsole::writeCallback(void* self, const char* text, std::size_t length)
{
    auto* console = static_cast<LogConsole*>(self);
    console->m_next(console->m_nextContext, text, length);
    if (console->m_window)
        console->m_window->write(text, length);
}
