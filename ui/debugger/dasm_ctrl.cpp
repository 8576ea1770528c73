#include "ui/debugger/dasm_ctrl.h"

#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/base/cpu.h"

namespace {

constexpr QRgb kGutterFill = qRgb(200, 200, 200);
constexpr QRgb kGutterEdge = qRgb(240, 240, 240);
constexpr QRgb kHeaderFill = qRgb(217, 136, 176);
constexpr QRgb kHeaderAddress = qRgb(176, 217, 136);
constexpr QRgb kCursorLine = qRgb(136, 176, 217);
constexpr QRgb kShaded = qRgb(220, 220, 220);
constexpr QRgb kPlain = qRgb(240, 240, 240);
constexpr int kHeaderDigits = 8;
constexpr u32 kAddressBits = 0x0FFFFFFF;  // cached and uncached views share annotations

QColor color(QRgb rgb)
{
    return QColor(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

bool wordChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// Positions of a name standing as a word in the text.
std::vector<int> wordsIn(const std::string& text, const std::string& name)
{
    std::vector<int> found;
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if ((end >= text.size() || !wordChar(text[end])) && (at == 0 || !wordChar(text[at - 1])))
            found.push_back(static_cast<int>(at));
    }
    return found;
}

void drawIcon(QPainter& painter, QRect box, int kind)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect inner = box.adjusted(2, 2, -2, -2);
    switch (kind) {
    case 0:  // enabled breakpoint
        painter.setPen(QPen(QColor(120, 0, 0), 1));
        painter.setBrush(QColor(220, 30, 30));
        painter.drawEllipse(inner);
        break;
    case 1:  // disabled breakpoint
        painter.setPen(QPen(QColor(220, 30, 30), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(inner.adjusted(1, 1, -1, -1));
        break;
    default: {  // the PC, or where it would go while dragged
        QPainterPath arrow;
        arrow.moveTo(inner.left(), inner.top() + inner.height() / 4);
        arrow.lineTo(inner.center().x(), inner.top() + inner.height() / 4);
        arrow.lineTo(inner.center().x(), inner.top());
        arrow.lineTo(inner.right(), inner.center().y());
        arrow.lineTo(inner.center().x(), inner.bottom());
        arrow.lineTo(inner.center().x(), inner.bottom() - inner.height() / 4);
        arrow.lineTo(inner.left(), inner.bottom() - inner.height() / 4);
        arrow.closeSubpath();
        painter.setPen(QPen(QColor(100, 80, 0), 1));
        painter.setBrush(kind == 2 ? QColor(255, 220, 0) : QColor(255, 255, 255, 0));
        painter.drawPath(arrow);
        break;
    }
    }
    painter.restore();
}

}  // namespace

DasmCtrl::DasmCtrl(CPU* cpu, QWidget* parent) : TextCtrl(parent), m_cpu(cpu)
{
    m_origin = QPoint(kGutter, 0);
    setMouseTracking(true);
    editComment = [](QWidget* parent, QString& text) {
        bool ok = false;
        const QString entered =
            QInputDialog::getText(parent, QStringLiteral("Add comment"), QString(), QLineEdit::Normal, text, &ok);
        if (ok)
            text = entered;
        return ok;
    };
}

void DasmCtrl::initView()
{
    writeHeader();
    m_functions[0x380] = "InitCache";
    m_functions[0x478] = "InitBSC";
    m_bookmarks[0x20000240] = "Bookmark1";
    m_bookmarks[0x20000280] = "Bookmark2";
    m_registers.clear();
    for (int n = 0; n < 16; ++n)
        m_registers.push_back("r" + std::to_string(n));
    for (const char* name : {"macl", "mach", "sp", "sr", "pc"})
        m_registers.emplace_back(name);
    m_lines = std::max(0, visibleRows() - 1);
    m_top = 0;
    m_cursor = m_lastPc = m_cpu->getPC();
    setColumnLimits(0, kHeaderDigits - 1, true);
    setRowLimits(0, 0, false);
    setFocus();
    rebuild();
}

void DasmCtrl::resizeEvent(QResizeEvent* event)
{
    TextCtrl::resizeEvent(event);
    m_lines = std::max(0, visibleRows() - 1);
    rebuild();
}

void DasmCtrl::showEvent(QShowEvent* event)
{
    TextCtrl::showEvent(event);
    rebuild();
}

int DasmCtrl::lineOf(u32 address) const
{
    const u32 offset = address - m_top;
    return offset < 2u * static_cast<u32>(m_lines) ? static_cast<int>(offset / 2) : -1;
}

int DasmCtrl::lineCentre(int line) const
{
    return m_lineHeight * (line + 1) + m_lineHeight / 2;
}

void DasmCtrl::followPC()
{
    if (m_cpu->runState() == 0)
        return;
    const u32 pc = m_cpu->getPC();
    if (lineOf(pc) < 0)
        m_top = pc == m_top + 2u * static_cast<u32>(m_lines) ? m_top + 2 : pc - 16;
    rebuild();
    m_lastPc = pc;
}

void DasmCtrl::goTo(u32 address)
{
    m_top = address - 16;
    rebuild();
}

void DasmCtrl::writeHeader()
{
    char text[64];
    std::snprintf(text, sizeof text, "%08X             %s", m_cursor, m_cpu->name().c_str());
    setRowText(0, text);
}

void DasmCtrl::rebuild()
{
    if (m_cpu->runState() == 0)
        return;
    m_branches.clear();
    for (int i = 0; i < 3 * m_lines; ++i) {
        const u32 a = m_top + 2u * static_cast<u32>(i - m_lines);
        const int type = m_cpu->getInstructionType(a);
        if (type == CPU::kJump || type == CPU::kBranch)
            m_branches.push_back({a, m_cpu->getBranchTarget(a), type == CPU::kJump ? kUnconditional : kConditional, 0});
    }
    assignLanes();
    m_calls.clear();
    m_returns.clear();
    for (int line = 0; line < m_lines; ++line) {
        const u32 a = lineAddress(line);
        const int type = m_cpu->getInstructionType(a);
        if (type == CPU::kCall)
            m_calls.push_back({a, m_cpu->getBranchTarget(a)});
        else if (type == CPU::kReturn || type == CPU::kReturnFromException)
            m_returns.push_back(a);
    }
    writeHeader();
    for (int line = 0; line < m_lines; ++line)
        formatLine(line);
    // Rows below the lines (a shrunk window) keep nothing.
    for (int row = m_lines + 1; row < rowCount(); ++row)
        setRowText(row, "");
    updateHighlight();
    // The scan covers ten windows around the first one seen, so it waits
    // until the view is on screen with its real size: built hidden it is
    // one line tall.
    if (!m_delayScanned && isVisible()) {
        m_delayScanned = true;
        for (int i = -4 * m_lines; i < 6 * m_lines; ++i) {
            const u32 a = m_top + 2u * static_cast<u32>(i);
            if (m_cpu->hasDelaySlot(a))
                m_delayed.push_back(a);
        }
        std::sort(m_delayed.begin(), m_delayed.end());
    }
    update();
}

void DasmCtrl::assignLanes()
{
    for (std::size_t i = 0; i < m_branches.size(); ++i) {
        Branch& b = m_branches[i];
        const u32 low = std::min(b.from, b.to), high = std::max(b.from, b.to);
        for (int lane = 0;; ++lane) {
            bool taken = false;
            for (std::size_t j = 0; j < i && !taken; ++j) {
                const Branch& o = m_branches[j];
                taken = o.lane == lane && std::min(o.from, o.to) <= high && std::max(o.from, o.to) >= low;
            }
            if (!taken) {
                b.lane = lane;
                break;
            }
        }
    }
}

void DasmCtrl::formatLine(int line)
{
    const u32 a = lineAddress(line);
    const int row = line + 1;
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%08X:   ", a);
    std::string text = prefix + m_cpu->disassemble(a);
    const std::size_t plain = text.size();
    const auto pad = [&] {
        if (plain < static_cast<std::size_t>(kAnnotationColumn))
            text.append(kAnnotationColumn - plain, ' ');
    };
    struct { int count; QRgb rgb; } spans[2] = {{0, 0}, {0, 0}};
    if (!m_functions.empty()) {
        for (const Call& call : m_calls) {
            if (call.from != a)
                continue;
            const auto found = m_functions.find(call.target & kAddressBits);
            if (found != m_functions.end()) {
                pad();
                text += "* " + found->second + " *";
                spans[0] = {static_cast<int>(found->second.size()) + 4, dbgcolor::kRed};
            }
            break;
        }
    }
    if (!m_comments.empty()) {
        const auto found = m_comments.find(a & kAddressBits);
        if (found != m_comments.end()) {
            // Behind a function name the comment follows after one blank.
            if (spans[0].count)
                text += ' ';
            else
                pad();
            spans[1] = {static_cast<int>(found->second.size()) + 3, dbgcolor::kGreen};
            text += "// " + found->second;
        }
    }
    setRowText(row, text);
    int column = kAnnotationColumn;
    for (const auto& span : spans) {
        if (span.count) {
            setColor(column, span.count, row, span.rgb);
            column += span.count + 1;
        }
    }
}

void DasmCtrl::updateHighlight()
{
    for (const Span& s : m_spans)
        setColor(s.column, s.count, s.row, dbgcolor::kBlack);
    m_spans.clear();
    m_operand.clear();
    std::vector<const std::string*> active;
    if (m_cpu->runState() != 0) {
        const std::string text = "XXXXXXXX:   " + m_cpu->disassemble(m_cursor);
        for (std::size_t at = 0, run = 0; at < text.size(); ++at) {
            run = std::isxdigit(static_cast<unsigned char>(text[at])) ? run + 1 : 0;
            if (run == 8) {
                m_operand = text.substr(at - 7, 8);
                break;
            }
        }
        for (const std::string& name : m_registers) {
            if (!wordsIn(text, name).empty())
                active.push_back(&name);
        }
    }
    for (int line = 0; line < m_lines; ++line) {
        const int row = line + 1;
        const std::string& text = rowText(row);
        for (const std::string* name : active) {
            for (int at : wordsIn(text, *name)) {
                setColor(at, static_cast<int>(name->size()), row, dbgcolor::kRed);
                m_spans.push_back({row, at, static_cast<int>(name->size())});
            }
        }
        // The operand also marks the address column of the line it names.
        if (!m_operand.empty()) {
            for (std::size_t at = text.find(m_operand); at != std::string::npos;
                 at = text.find(m_operand, at + 1)) {
                setColor(static_cast<int>(at), 8, row, dbgcolor::kMagenta);
                m_spans.push_back({row, static_cast<int>(at), 8});
            }
        }
    }
    m_highlighted.clear();
    for (const Branch& b : m_branches) {
        if (b.from == m_cursor || b.to == m_cursor)
            m_highlighted.push_back(b);
    }
    update();
}

void DasmCtrl::selectLine(int line)
{
    if (line < 0 || line >= m_lines)
        return;
    invalidateRow(lineOf(m_cursor) + 1);
    m_cursor = lineAddress(line);
    invalidateRow(line + 1);
    writeHeader();
    updateHighlight();
}

QString DasmCtrl::copyText() const
{
    QString text;
    for (int row = 1; row <= m_lines; ++row)
        text += QString::fromLatin1(rowText(row)) + QLatin1Char('\n');
    return text;
}

void DasmCtrl::toggleBreakpoint(u32 address)
{
    if (m_cpu->findBreakpoint(address))
        m_cpu->removeBreakpoint(address);
    else
        m_cpu->setBreakpoint(address, 1);
    update(QRect(0, 0, kGutter, height()));
}

int DasmCtrl::lineAt(QPoint pixel) const
{
    const int row = pixel.y() / m_lineHeight;
    return row >= 1 && row <= m_lines ? row - 1 : -1;
}

bool DasmCtrl::onPcMarker(QPoint pixel)
{
    const int line = lineAt(pixel);
    return pixel.x() < kGutter && line >= 0 && line == lineOf(m_cpu->getPC());
}

void DasmCtrl::keyPressEvent(QKeyEvent* event)
{
    if (sysKey(event, QStringLiteral("DasmCtrl::OnSysKeyDown")))
        return;
    const u32 lastLine = 2u * static_cast<u32>(std::max(0, m_lines - 1));
    const s32 offset = static_cast<s32>(m_cursor - m_top);
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        bool ok = false;
        const u32 value = QString::fromLatin1(rowText(0).substr(0, kHeaderDigits)).toUInt(&ok, 16);
        m_cursor = value;
        m_top = value - 16;
        rebuild();
        return;
    }
    case Qt::Key_PageUp: m_top -= 2u * static_cast<u32>(m_lines - 1); rebuild(); return;
    case Qt::Key_PageDown: m_top += 2u * static_cast<u32>(m_lines - 1); rebuild(); return;
    case Qt::Key_Home: m_top = m_cpu->getPC() - 16; rebuild(); return;
    case Qt::Key_Up:
        m_cursor -= 2;
        if (offset <= 0) {
            m_top = m_cursor;
            rebuild();
        } else if (offset > static_cast<s32>(lastLine)) {
            m_top = m_cursor - lastLine;
            rebuild();
        } else {
            selectLine(offset / 2 - 1);
        }
        return;
    case Qt::Key_Down:
        m_cursor += 2;
        if (offset >= static_cast<s32>(lastLine)) {
            m_top = m_cursor - lastLine;
            rebuild();
        } else if (offset < 0) {
            m_top = m_cursor;
            rebuild();
        } else {
            selectLine(offset / 2 + 1);
        }
        return;
    case Qt::Key_Left: moveCaret(caretColumn() - 1, 0); return;
    case Qt::Key_Right: moveCaret(caretColumn() + 1, 0); return;
    default: break;
    }
    const QString text = event->text();
    if (text.size() == 1 && std::isxdigit(static_cast<unsigned char>(text[0].toLatin1()))) {
        setTextAt(caretColumn(), 0, std::string(1, static_cast<char>(std::toupper(text[0].toLatin1()))));
        advanceCaret();
    }
}

void DasmCtrl::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    const int line = lineAt(at);
    if (at.y() < m_lineHeight) {
        const int column = cellAt(at).x();
        if (column >= 0 && column < kHeaderDigits)
            moveCaret(column, 0);
        return;
    }
    if (line < 0)
        return;
    if (at.x() < kGutter) {
        if (onPcMarker(at)) {
            m_draggingPc = true;
            setCursor(Qt::PointingHandCursor);
            invalidateRow(line + 1);
        }
    } else {
        selectLine(line);
        m_selecting = true;
    }
}

void DasmCtrl::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    setCursor(m_draggingPc || onPcMarker(at) ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if ((m_draggingPc || m_selecting) && m_lines > 0) {
        const int row = std::clamp(at.y() / m_lineHeight, 1, m_lines);
        selectLine(row - 1);
    }
}

void DasmCtrl::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const int line = lineAt(at);
    if (event->button() == Qt::RightButton) {
        if (at.x() < kGutter && line >= 0) {
            if (Breakpoint* bp = m_cpu->findBreakpoint(lineAddress(line))) {
                bp->enabled = !bp->enabled;
                update(QRect(0, 0, kGutter, height()));
            }
        }
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if (m_draggingPc) {
        m_draggingPc = false;
        if (onPcMarker(at)) {
            toggleBreakpoint(lineAddress(line));
        } else {
            m_cpu->setPC(m_cursor);
            rebuild();
        }
        setCursor(Qt::ArrowCursor);
    } else if (m_selecting) {
        m_selecting = false;
    } else if (at.x() < kGutter && line >= 0) {
        toggleBreakpoint(lineAddress(line));
    }
}

void DasmCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const int line = lineAt(at);
    if (line < 0 || at.x() < kGutter || event->button() != Qt::LeftButton)
        return;
    const u32 key = lineAddress(line) & kAddressBits;
    const auto found = m_comments.find(key);
    QString text = found == m_comments.end() ? QString() : QString::fromStdString(found->second);
    if (!editComment(this, text))
        return;
    if (text.isEmpty())
        m_comments.erase(key);
    else
        m_comments[key] = text.toLatin1().toStdString();
    formatLine(line);
    updateHighlight();
}

void DasmCtrl::wheelEvent(QWheelEvent* event)
{
    m_top += event->angleDelta().y() < 0 ? 2u : static_cast<u32>(-2);
    rebuild();
    event->accept();
}

void DasmCtrl::focusInEvent(QFocusEvent* event)
{
    rebuild();
    moveCaret(caretColumn(), 0);
    TextCtrl::focusInEvent(event);
}

QMenu* DasmCtrl::contextMenu(QPoint at)
{
    if (at.x() < kGutter)
        return nullptr;
    return memoryMenu();
}

void DasmCtrl::onContextCommand(QAction* action)
{
    if (action && action->text() == QLatin1String("Copy"))
        QApplication::clipboard()->setText(copyText());
}

void DasmCtrl::eraseBackground(QPainter& painter)
{
    painter.fillRect(rect(), color(kPlain));
    painter.fillRect(QRect(0, 0, kGutter, height()), color(kGutterFill));
    painter.setPen(color(kGutterEdge));
    painter.drawLine(kGutter - 1, 0, kGutter - 1, height());
    painter.fillRect(QRect(kGutter, 0, width() - kGutter, m_lineHeight), color(kHeaderFill));
    fillCells(painter, 0, 0, kHeaderDigits, kHeaderAddress);
    for (int line = 0; line < m_lines; ++line) {
        const u32 a = lineAddress(line);
        QRgb fill = kPlain;
        if (a == m_cursor) {
            fill = kCursorLine;
        } else {
            const auto upTo = std::upper_bound(m_delayed.begin(), m_delayed.end(), a - 4);
            if ((upTo - m_delayed.begin()) % 2 == 1)
                fill = kShaded;
        }
        painter.fillRect(QRect(kGutter, m_lineHeight * (line + 1), width() - kGutter, m_lineHeight), color(fill));
    }
}

void DasmCtrl::drawChevron(QPainter& painter, int line, int direction, QRgb rgb)
{
    // direction: 0 right, 1 left, 2 down, 3 up
    const QPointF c(kGutter + m_cellWidth * 9 + m_cellWidth / 2.0, lineCentre(line));
    const double h = m_lineHeight / 6.0;
    QPointF p[3];
    switch (direction) {
    case 0: p[0] = {c.x() - h, c.y() - h}; p[1] = {c.x() + h, c.y()}; p[2] = {c.x() - h, c.y() + h}; break;
    case 1: p[0] = {c.x() + h, c.y() - h}; p[1] = {c.x() - h, c.y()}; p[2] = {c.x() + h, c.y() + h}; break;
    case 2: p[0] = {c.x() - h, c.y() - h}; p[1] = {c.x(), c.y() + h}; p[2] = {c.x() + h, c.y() - h}; break;
    default: p[0] = {c.x() - h, c.y() + h}; p[1] = {c.x(), c.y() - h}; p[2] = {c.x() + h, c.y() + h}; break;
    }
    painter.setPen(QPen(color(rgb), 2));
    painter.drawPolyline(p, 3);
}

void DasmCtrl::drawArrow(QPainter& painter, const Branch& b)
{
    const int top = m_lineHeight, bottom = m_lineHeight * (m_lines + 1);
    const auto yOf = [&](u32 address, bool before) {
        const int line = lineOf(address);
        if (line >= 0)
            return lineCentre(line);
        return before ? top : bottom;
    };
    // An end outside the window runs to the edge it lies beyond.
    const bool targetAbove = static_cast<s32>(b.to - m_top) < 0;
    const bool sourceAbove = static_cast<s32>(b.from - m_top) < 0;
    const int ys = yOf(b.from, sourceAbove), yt = yOf(b.to, targetAbove);
    const int x = kGutter + m_cellWidth * 11 - 8 + 16 * b.lane;
    painter.setPen(QPen(m_cpu->isBranchTaken(b.from) ? Qt::red : Qt::black, 1));
    const QPoint points[] = {{x + 8, ys}, {x, ys}, {x, yt}, {x + 8, yt}};
    painter.drawPolyline(points, 4);
    if (lineOf(b.to) >= 0) {
        painter.drawLine(x + 8, yt, x + 3, yt - 5);
        painter.drawLine(x + 8, yt, x + 3, yt + 5);
    }
}

void DasmCtrl::draw(QPainter& painter)
{
    const int iconTop = m_lineHeight / 2 - 8;
    for (const auto& [address, bp] : m_cpu->breakpoints()) {
        const int line = lineOf(address);
        if (line >= 0)
            drawIcon(painter, QRect(2, m_lineHeight * (line + 1) + iconTop, 16, 16), bp.enabled ? 0 : 1);
    }
    const int pcLine = lineOf(m_cpu->getPC());
    if (pcLine >= 0)
        drawIcon(painter, QRect(2, m_lineHeight * (pcLine + 1) + iconTop, 16, 16), 2);
    if (m_draggingPc && lineOf(m_cursor) >= 0)
        drawIcon(painter, QRect(2, m_lineHeight * (lineOf(m_cursor) + 1) + iconTop, 16, 16), 3);

    TextCtrl::draw(painter);

    const u32 pc = m_cpu->getPC();
    for (const Branch& b : m_branches) {
        if (b.from == m_cursor || b.from == pc)
            drawArrow(painter, b);
        const int line = lineOf(b.from);
        if (line >= 0)
            drawChevron(painter, line, b.to - b.from < 0x80000000u ? 2 : 3, dbgcolor::kMagenta);
    }
    for (const Call& call : m_calls)
        drawChevron(painter, lineOf(call.from), 0, dbgcolor::kGreen);
    for (u32 r : m_returns)
        drawChevron(painter, lineOf(r), 1, dbgcolor::kGreen);
    painter.setPen(QPen(Qt::black, 2));
    for (u32 d : m_delayed) {
        const int line = lineOf(d + 2);
        if (line >= 0) {
            const int cx = kGutter + m_cellWidth * 9 + m_cellWidth / 2, cy = lineCentre(line);
            painter.drawLine(cx - m_lineHeight / 6, cy, cx + m_lineHeight / 6, cy);
        }
    }
    for (int line = 0; line < m_lines; ++line) {
        if (m_bookmarks.count(lineAddress(line))) {
            const QRect box(width() - 16, m_lineHeight * (line + 1) + iconTop, 12, 16);
            painter.fillRect(box.adjusted(0, 0, 0, -5), QColor(40, 90, 200));
        }
    }
}
