#include "ui/debugger/text_ctrl.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

DebuggerMessage& messageHandler()
{
    static DebuggerMessage handler;
    return handler;
}

QColor color(QRgb rgb)
{
    return QColor(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

}  // namespace

void setDebuggerMessage(DebuggerMessage handler)
{
    messageHandler() = std::move(handler);
}

void debuggerMessage(QWidget* parent, const QString& caption, const QString& text)
{
    if (messageHandler())
        messageHandler()(parent, caption, text);
    else
        QMessageBox::information(parent, caption, text);
}

TextCtrl::TextCtrl(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(40, 40);
}

void TextCtrl::setFont(const QString& face, int height)
{
    m_font = QFont(face);
    m_font.setStyleHint(QFont::TypeWriter);
    m_font.setFixedPitch(true);
    // The line keeps its full height; the glyphs fill most of it.
    m_font.setPixelSize(std::max(6, height * 4 / 5));
    m_lineHeight = std::max(1, height);
    // Runs of text must land on whole cells: the spacing rounds the glyph
    // advance up to whole pixels.
    const qreal advance = QFontMetricsF(m_font).horizontalAdvance(QLatin1Char('0'));
    m_cellWidth = std::max(1, static_cast<int>(std::ceil(advance)));
    m_font.setLetterSpacing(QFont::AbsoluteSpacing, m_cellWidth - advance);
    const QFontMetrics metrics(m_font);
    m_ascent = (m_lineHeight - metrics.height()) / 2 + metrics.ascent();
    m_visibleRows = this->height() / m_lineHeight;
    resizeRows(m_visibleRows);
    initView();
    update();
}

void TextCtrl::resizeRows(int count)
{
    if (count > static_cast<int>(m_rows.size()))
        m_rows.resize(static_cast<std::size_t>(count));
}

void TextCtrl::setRowText(int row, std::string_view text)
{
    if (row < 0)
        return;
    resizeRows(row + 1);
    Row& r = m_rows[static_cast<std::size_t>(row)];
    r.text.assign(text);
    r.colors.resize(r.text.size(), dbgcolor::kBlack);
    invalidateRow(row);
}

void TextCtrl::setColor(int column, int count, int row, QRgb rgb)
{
    if (row < 0 || row >= rowCount() || column < 0)
        return;
    Row& r = m_rows[static_cast<std::size_t>(row)];
    const int end = std::min(column + count, static_cast<int>(r.colors.size()));
    for (int c = column; c < end; ++c)
        r.colors[static_cast<std::size_t>(c)] = rgb;
    invalidateCells(column, row, count);
}

void TextCtrl::setTextAt(int column, int row, std::string_view text)
{
    if (row < 0 || row >= rowCount() || column < 0)
        return;
    Row& r = m_rows[static_cast<std::size_t>(row)];
    const std::size_t at = static_cast<std::size_t>(column);
    if (at + text.size() > r.text.size()) {
        r.text.resize(at + text.size(), ' ');
        r.colors.resize(r.text.size(), dbgcolor::kBlack);
    }
    r.text.replace(at, text.size(), text);
    invalidateCells(column, row, static_cast<int>(text.size()));
}

const std::string& TextCtrl::rowText(int row) const
{
    static const std::string empty;
    return row >= 0 && row < rowCount() ? m_rows[static_cast<std::size_t>(row)].text : empty;
}

QRgb TextCtrl::colorAt(int column, int row) const
{
    if (row < 0 || row >= rowCount() || column < 0)
        return dbgcolor::kBlack;
    const Row& r = m_rows[static_cast<std::size_t>(row)];
    return static_cast<std::size_t>(column) < r.colors.size() ? r.colors[static_cast<std::size_t>(column)]
                                                              : dbgcolor::kBlack;
}

void TextCtrl::setColumnLimits(int minimum, int maximum, bool wrap)
{
    m_column.minimum = minimum;
    m_column.maximum = maximum;
    m_column.wrap = wrap;
}

void TextCtrl::setRowLimits(int minimum, int maximum, bool wrap)
{
    m_row.minimum = minimum;
    m_row.maximum = maximum;
    m_row.wrap = wrap;
}

int TextCtrl::limit(int value, const Axis& axis)
{
    if (!axis.wrap)
        return std::clamp(value, axis.minimum, std::max(axis.minimum, axis.maximum));
    const long long range = static_cast<long long>(axis.maximum) - axis.minimum + 1;
    if (range <= 0)
        return axis.minimum;
    long long offset = (static_cast<long long>(value) - axis.minimum) % range;
    if (offset < 0)
        offset += range;
    return static_cast<int>(axis.minimum + offset);
}

void TextCtrl::moveCaret(int column, int row)
{
    const QRect old = cellRect(m_column.value, m_row.value);
    m_column.value = limit(column, m_column);
    m_row.value = limit(row, m_row);
    if (m_caretEnabled) {
        update(old);
        update(cellRect(m_column.value, m_row.value));
    }
}

void TextCtrl::advanceCaret()
{
    moveCaret(m_column.value + m_column.step, m_row.value);
}

QRect TextCtrl::cellRect(int column, int row) const
{
    return QRect(m_cellWidth * column + m_origin.x(), m_lineHeight * row + m_origin.y(), m_cellWidth, m_lineHeight);
}

QPoint TextCtrl::cellAt(QPoint pixel) const
{
    const int x = pixel.x() - m_origin.x();
    const int y = pixel.y() - m_origin.y();
    return QPoint(x >= 0 ? x / m_cellWidth : -1, y >= 0 ? y / m_lineHeight : -1);
}

void TextCtrl::invalidateRow(int row)
{
    update(QRect(0, m_lineHeight * row + m_origin.y(), width(), m_lineHeight));
}

void TextCtrl::invalidateCells(int column, int row, int count)
{
    update(QRect(m_cellWidth * column + m_origin.x(), m_lineHeight * row + m_origin.y(), m_cellWidth * count,
                 m_lineHeight));
}

void TextCtrl::fillCells(QPainter& painter, int column, int row, int count, QRgb rgb)
{
    painter.fillRect(QRect(cellRect(column, row).topLeft(), QSize(m_cellWidth * count, m_lineHeight)), color(rgb));
}

void TextCtrl::eraseBackground(QPainter& painter)
{
    painter.fillRect(rect(), color(m_background));
}

void TextCtrl::drawRow(QPainter& painter, int row)
{
    if (row < 0 || row >= rowCount())
        return;
    const Row& r = m_rows[static_cast<std::size_t>(row)];
    const QRect strip(0, m_lineHeight * row + m_origin.y(), width(), m_lineHeight);
    if (!painter.clipBoundingRect().isEmpty() && !painter.clipBoundingRect().intersects(strip))
        return;
    std::size_t start = 0;
    while (start < r.text.size()) {
        std::size_t end = start + 1;
        while (end < r.text.size() && r.colors[end] == r.colors[start])
            ++end;
        painter.setPen(color(r.colors[start]));
        const QPoint at = cellRect(static_cast<int>(start), row).topLeft();
        painter.drawText(at.x(), at.y() + m_ascent,
                         QString::fromLatin1(r.text.data() + start, static_cast<qsizetype>(end - start)));
        start = end;
    }
}

void TextCtrl::draw(QPainter& painter)
{
    for (int row = 0; row < rowCount(); ++row)
        drawRow(painter, row);
}

void TextCtrl::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.setFont(m_font);
    eraseBackground(painter);
    draw(painter);
    afterDraw(painter);
    if (m_caretEnabled && hasFocus()) {
        const QRect caret = cellRect(m_column.value, m_row.value);
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(caret, Qt::white);
    }
}

void TextCtrl::resizeEvent(QResizeEvent* event)
{
    m_visibleRows = height() / m_lineHeight;
    resizeRows(m_visibleRows);
    QWidget::resizeEvent(event);
}

void TextCtrl::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QPoint at = event->position().toPoint();
    if (m_viewMode != 1)
        at.rx() += m_cellWidth / 2;
    const QPoint cell = cellAt(at);
    moveCaret(cell.x(), cell.y());
}

void TextCtrl::focusInEvent(QFocusEvent* event)
{
    update(cellRect(m_column.value, m_row.value));
    QWidget::focusInEvent(event);
}

void TextCtrl::focusOutEvent(QFocusEvent* event)
{
    update(cellRect(m_column.value, m_row.value));
    QWidget::focusOutEvent(event);
}

void TextCtrl::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = contextMenu(event->pos());
    if (!menu)
        return;
    QAction* chosen = menu->exec(event->globalPos());
    onContextCommand(chosen);
    menu->deleteLater();
}

QMenu* TextCtrl::memoryMenu()
{
    auto* menu = new QMenu(this);
    for (const char* name : {"Copy", "Dump...", "Byte", "Word", "DWord"})
        menu->addAction(QString::fromLatin1(name));
    return menu;
}

bool TextCtrl::sysKey(QKeyEvent* event, const QString& caption)
{
    return sysKeyMessage(this, event, caption);
}

bool sysKeyMessage(QWidget* parent, QKeyEvent* event, const QString& caption)
{
    if (!(event->modifiers() & Qt::AltModifier))
        return false;
    static const struct { int key; const char* name; } kNames[] = {
        {Qt::Key_Home, "HOME"}, {Qt::Key_Up, "UP"},   {Qt::Key_Down, "DOWN"},
        {Qt::Key_F5, "F5"},     {Qt::Key_F10, "F10"}, {Qt::Key_F11, "F11"},
    };
    for (const auto& k : kNames) {
        if (k.key == event->key()) {
            debuggerMessage(parent, caption, QString::fromLatin1(k.name));
            return true;
        }
    }
    return false;
}

void TextCtrl::keyPressEvent(QKeyEvent* event)
{
    if (!sysKey(event, QStringLiteral("DasmCtrl::OnSysKeyDown")))
        QWidget::keyPressEvent(event);
}

void TextCtrl::wheelEvent(QWheelEvent* event)
{
    event->accept();
}

bool TextCtrl::event(QEvent* event)
{
    // Tab and Backtab reach the view like any other key.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::event(event);
}
