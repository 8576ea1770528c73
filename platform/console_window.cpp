#include "platform/console_window.h"

#include <QFontDatabase>
#include <QPalette>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>
#include <algorithm>
#include <vector>

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 400;

}  // namespace

ConsoleWindow::ConsoleWindow(const QString& title)
{
    setWindowTitle(title);
    // It opens beside the main window without taking the keyboard from it.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setMaximumBlockCount(kScrollbackLines);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, colourOf(7));
    setPalette(colours);
    resize(kWidth, kHeight);
    m_timer.setInterval(kFlushMs);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { flush(); });
    m_timer.start();
}

QColor ConsoleWindow::colourOf(int attribute)
{
    // The console's colours: bright ones take the intensity bit. Even the
    // darkest bright colour keeps a third of each channel, as consoles show it.
    const bool bright = attribute & 8;
    const int on = bright ? 255 : 170;
    const int off = bright ? 85 : 0;
    return QColor(attribute & 4 ? on : off, attribute & 2 ? on : off, attribute & 1 ? on : off);
}

void ConsoleWindow::setTextAttribute(int attribute)
{
    std::lock_guard lock(m_mutex);
    m_attribute = attribute & 15;
}

void ConsoleWindow::write(const char* text, std::size_t length)
{
    if (length == 0)
        return;
    std::lock_guard lock(m_mutex);
    const auto lines = static_cast<std::size_t>(std::count(text, text + length, '\n'));
    if (!m_pending.empty() && m_pending.back().attribute == m_attribute)
        m_pending.back().text.append(text, length);
    else
        m_pending.push_back({m_attribute, std::string(text, length)});
    m_pendingLines += lines;
    // What the scrollback could not keep is not worth holding: a flood
    // between two flushes costs bounded memory.
    while (m_pendingLines > kScrollbackLines && m_pending.size() > 1) {
        m_pendingLines -= static_cast<std::size_t>(std::count(m_pending.front().text.begin(),
                                                              m_pending.front().text.end(), '\n'));
        m_pending.pop_front();
    }
}

void ConsoleWindow::flush()
{
    std::deque<Run> runs;
    {
        std::lock_guard lock(m_mutex);
        runs.swap(m_pending);
        m_pendingLines = 0;
    }
    if (runs.empty())
        return;
    QScrollBar* bar = verticalScrollBar();
    // A reader who scrolled up keeps their place.
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (const Run& run : runs) {
        QTextCharFormat format;
        format.setForeground(colourOf(run.attribute));
        cursor.insertText(QString::fromUtf8(run.text.data(), static_cast<qsizetype>(run.text.size())), format);
    }
    cursor.endEditBlock();
    if (following)
        bar->setValue(bar->maximum());
}
