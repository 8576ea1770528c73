#pragma once

#include <string>

#include "core/base/object.h"

// Records every log line for the lifetime of the object. Colour switches
// appear as "{n}" markers when withColors is set.
class LogCapture {
public:
    explicit LogCapture(bool withColors = false)
    {
        m_previous = logSink().writer(&m_previousContext);
        logSink().setWriter(&LogCapture::append, this);
        if (withColors)
            logSink().setColorCallback(&LogCapture::color, this);
    }
    ~LogCapture()
    {
        // A capture inside another hands the lines back to it.
        logSink().setWriter(m_previous, m_previousContext);
        logSink().setColorCallback(nullptr, nullptr);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& text() const { return m_text; }
    bool contains(const std::string& line) const { return m_text.find(line) != std::string::npos; }
    void clear() { m_text.clear(); }

private:
    static void append(void* self, const char* text, std::size_t length)
    {
        static_cast<LogCapture*>(self)->m_text.append(text, length);
    }
    static void color(void* self, int id)
    {
        std::string& text = static_cast<LogCapture*>(self)->m_text;
        text += '{';
        text += std::to_string(id);
        text += '}';
    }

    std::string m_text;
    LogSink::Writer m_previous = nullptr;
    void* m_previousContext = nullptr;
};
