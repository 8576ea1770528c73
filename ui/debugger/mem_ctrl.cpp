#include "ui/debugger/mem_ctrl.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "core/machine/system.h"

namespace {

constexpr QRgb kErase = qRgb(230, 230, 230);
constexpr QRgb kAddressCell = qRgb(217, 136, 176);
constexpr QRgb kHeaderAddress = qRgb(176, 217, 136);
constexpr QRgb kCompanion = qRgb(136, 176, 217);
constexpr int kLastDigit = MemCtrl::kFirstDigit + 3 * 15 + 1;
constexpr int kLastChar = MemCtrl::kFirstChar + 15;
constexpr const char* kHeader =
    "           0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F   0123456789ABCDEF";

bool editableHex(int column)
{
    return column >= MemCtrl::kFirstDigit && column <= kLastDigit && (column - MemCtrl::kFirstDigit) % 3 != 2;
}

}  // namespace

MemCtrl::MemCtrl(QWidget* parent) : TextCtrl(parent)
{
    m_background = kErase;
}

void MemCtrl::initView()
{
    setRowText(0, kHeader);
    // The caret keeps its byte while the view scrolls, far off screen if need
    // be; half the int range leaves room for the row arithmetic.
    setRowLimits(INT_MIN / 2, INT_MAX / 2, false);
    goTo(m_base);
}

int MemCtrl::caretByte() const
{
    if (m_hexArea)
        return std::clamp((caretColumn() - kFirstDigit) / 3, 0, 15);
    return std::clamp(caretColumn() - kFirstChar, 0, 15);
}

u32 MemCtrl::caretAddress() const
{
    return m_base + 16u * static_cast<u32>(caretRow() - 1) + static_cast<u32>(caretByte());
}

void MemCtrl::setArea(bool hex)
{
    m_hexArea = hex;
    if (hex)
        setColumnLimits(kFirstDigit, kLastDigit, true);
    else
        setColumnLimits(kFirstChar, kLastChar, true);
}

void MemCtrl::goTo(u32 address)
{
    m_base = address & ~15u;
    setArea(true);
    m_changed.clear();
    moveCaret(kFirstDigit + 3 * static_cast<int>(address & 15), 1);
    setFocus();
    redrawRows();
}

void MemCtrl::redrawRows()
{
    for (int row = 1; row <= kDataRows; ++row)
        formatRow(row);
    update();
}

void MemCtrl::formatRow(int row)
{
    const u32 start = m_base + 16u * static_cast<u32>(row - 1);
    char text[kRowLength + 8];
    int at = std::snprintf(text, sizeof text, "%08X:  ", start);
    bool valid[16];
    u8 bytes[16] = {};
    for (u32 i = 0; i < 16; ++i) {
        valid[i] = isValidAddress(start + i);
        if (valid[i]) {
            bytes[i] = readByte(start + i);
            at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at), "%02x ", bytes[i]);
        } else {
            at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at), "?? ");
        }
    }
    text[at++] = ' ';
    for (int i = 0; i < 16; ++i)
        text[at++] = !valid[i] ? '?' : (bytes[i] >= 32 && bytes[i] <= 126 ? static_cast<char>(bytes[i]) : '.');
    setRowText(row, std::string_view(text, static_cast<std::size_t>(at)));
    for (int i = 0; i < 16; ++i)
        setColor(kFirstDigit + 3 * i, 2, row, (i & 4) ? dbgcolor::kBlack : dbgcolor::kBlue);
    setColor(kFirstChar, 16, row, dbgcolor::kBlue);
    for (u32 address : m_changed) {
        const u32 offset = address - start;
        if (offset < 16) {
            setColor(kFirstDigit + 3 * static_cast<int>(offset), 2, row, dbgcolor::kRed);
            setColor(kFirstChar + static_cast<int>(offset), 1, row, dbgcolor::kRed);
        }
    }
}

void MemCtrl::eraseBackground(QPainter& painter)
{
    TextCtrl::eraseBackground(painter);
    const int byte = caretByte();
    fillCells(painter, 0, 0, 8, kHeaderAddress);
    if (m_hexArea)
        fillCells(painter, kFirstDigit + 3 * byte, 0, 2, kAddressCell);
    else
        fillCells(painter, kFirstChar + byte, 0, 1, kAddressCell);
    if (caretRow() >= 1 && caretRow() <= kDataRows) {
        fillCells(painter, 0, caretRow(), 8, kAddressCell);
        if (m_hexArea)
            fillCells(painter, kFirstChar + byte, caretRow(), 1, kCompanion);
        else
            fillCells(painter, kFirstDigit + 3 * byte, caretRow(), 2, kCompanion);
    }
}

void MemCtrl::markChanged(u32 address)
{
    if (std::find(m_changed.begin(), m_changed.end(), address) == m_changed.end())
        m_changed.push_back(address);
}

void MemCtrl::typeChar(char c)
{
    const u32 address = caretAddress();
    // Unmapped bytes cannot be edited.
    if (!isValidAddress(address))
        return;
    const u8 old = readByte(address);
    u8 value = 0;
    if (m_hexArea) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return;
        const bool low = (caretColumn() - kFirstDigit) % 3 == 1;
        value = low ? static_cast<u8>((old & 0xF0) | digit) : static_cast<u8>((old & 0x0F) | (digit << 4));
    } else {
        value = static_cast<u8>(c);
    }
    writeByte(address, value);
    if (readByte(address) != old)
        markChanged(address);
    stepColumn(1);
    redrawRows();
}

void MemCtrl::stepColumn(int direction)
{
    int column = caretColumn();
    do {
        column = limit(column + direction, m_column);
    } while (m_hexArea && !editableHex(column));
    moveCaret(column, caretRow());
    update();
}

void MemCtrl::scrollTo(u32 base, int caretRow)
{
    m_base = base;
    moveCaret(caretColumn(), caretRow);
    redrawRows();
}

void MemCtrl::keyPressEvent(QKeyEvent* event)
{
    if (sysKey(event, QStringLiteral("DasmCtrl::OnSysKeyDown")))
        return;
    const u32 page = 16u * (kDataRows - 1);
    int row = caretRow();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_hexArea) {
            if (row >= kDataRows)
                scrollTo(m_base + 16, row);
            else
                moveCaret(kFirstDigit, row + 1);
            moveCaret(kFirstDigit, caretRow());
        }
        update();
        return;
    case Qt::Key_PageUp: scrollTo(m_base - page, 1); return;
    case Qt::Key_PageDown: scrollTo(m_base + page, kDataRows); return;
    case Qt::Key_Home: scrollTo(m_base + 16u * static_cast<u32>(row - 1), 1); return;
    case Qt::Key_Left: stepColumn(-1); return;
    case Qt::Key_Right: stepColumn(1); return;
    case Qt::Key_Up:
    case Qt::Key_Down:
        row += event->key() == Qt::Key_Up ? -1 : 1;
        // A caret leaving the data rows scrolls the view with it.
        if (row < 1)
            scrollTo(m_base + 16u * static_cast<u32>(row - 1), 1);
        else if (row > kDataRows)
            scrollTo(m_base + 16u * static_cast<u32>(row - kDataRows), kDataRows);
        else
            moveCaret(caretColumn(), row);
        update();
        return;
    default: break;
    }
    const QString text = event->text();
    if (text.size() == 1 && text[0].unicode() >= 32 && text[0].unicode() < 127)
        typeChar(static_cast<char>(text[0].unicode()));
}

void MemCtrl::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    const QPoint cell = cellAt(event->position().toPoint());
    const int row = std::clamp(cell.y(), 1, kDataRows);
    int column = cell.x();
    if (column >= kFirstChar - 1) {
        setArea(false);
        column = std::clamp(column, kFirstChar, kLastChar);
    } else {
        setArea(true);
        column = std::clamp(column, kFirstDigit, kLastDigit);
        while (!editableHex(column))
            --column;
    }
    moveCaret(column, row);
    update();
}

void MemCtrl::wheelEvent(QWheelEvent* event)
{
    if (event->angleDelta().y() < 0)
        scrollTo(m_base + 16, caretRow() - 1);
    else
        scrollTo(m_base - 16, caretRow() + 1);
    event->accept();
}

void MemCtrl::focusInEvent(QFocusEvent* event)
{
    redrawRows();
    TextCtrl::focusInEvent(event);
}

QMenu* MemCtrl::contextMenu(QPoint)
{
    return memoryMenu();
}

void MemCtrl::onContextCommand(QAction* action)
{
    // The view shows bytes only.
    if (action && (action->text() == QLatin1String("Word") || action->text() == QLatin1String("DWord")))
        debuggerMessage(this, QString(), QStringLiteral("Not implemented!"));
}

bool KestMemCtrl::isValidAddress(u32 address)
{
    return CSystem::isValidAddress(address);
}

u8 KestMemCtrl::readByte(u32 address)
{
    return m_machine.peekByte(address);
}

void KestMemCtrl::writeByte(u32 address, u8 value)
{
    m_machine.pokeByte(address, value);
}
