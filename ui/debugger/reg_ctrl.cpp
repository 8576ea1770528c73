#include "ui/debugger/reg_ctrl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/base/cpu.h"
#include "ui/debugger/dasm_ctrl.h"

RegCtrl::RegCtrl(CPU* cpu, DasmCtrl* dasm, QWidget* parent) : TextCtrl(parent), m_cpu(cpu), m_dasm(dasm) {}

void RegCtrl::addRow(std::string text, std::vector<Field> fields)
{
    const int row = static_cast<int>(m_texts.size());
    m_texts.push_back(std::move(text));
    for (Field& f : fields) {
        f.row = row;
        const int index = static_cast<int>(m_fields.size());
        m_fields.push_back(f);
        for (int d = 0; d < f.digits; ++d)
            m_digits.push_back({index, f.column + d, row});
    }
}

void RegCtrl::buildSh2Rows()
{
    char text[32];
    for (int n = 0; n < 16; ++n) {
        std::snprintf(text, sizeof text, n < 10 ? "R%d   = 00000000" : "R%d  = 00000000", n);
        addRow(text, {{n, 7, 0, 8, kRegister, kPlain, false, 0}});
    }
    addRow("");
    addRow("MACH = 00000000", {{16, 7, 0, 8, kRegister, kPlain, false, 0}});
    addRow("MACL = 00000000", {{17, 7, 0, 8, kRegister, kPlain, false, 0}});
    addRow("PR   = 00000000", {{18, 7, 0, 8, kRegister, kPlain, false, 0}});
    addRow("PC   = 00000000", {{19, 7, 0, 8, kRegister, kProgramCounter, false, 0}});
    addRow("");
    addRow("GBR  = 00000000", {{20, 7, 0, 8, kRegister, kPlain, false, 0}});
    addRow("VBR  = 00000000", {{21, 7, 0, 8, kRegister, kPlain, false, 0}});
    addRow("SR   = 00000000", {{22, 7, 0, 8, kRegister, kStatus, false, 0}});
    addRow("");
    addRow("M:0 Q:0 S:0 T:0", {{4, 2, 0, 1, kFlag, kFlagField, true, 0},
                               {3, 6, 0, 1, kFlag, kFlagField, true, 0},
                               {1, 10, 0, 1, kFlag, kFlagField, true, 0},
                               {0, 14, 0, 1, kFlag, kFlagField, true, 0}});
    addRow("I:0", {{2, 2, 0, 1, kFlag, kFlagField, false, 0}});
}

void RegCtrl::initView()
{
    for (int row = 0; row < static_cast<int>(m_texts.size()); ++row)
        setRowText(row, m_texts[static_cast<std::size_t>(row)]);
    for (Field& f : m_fields)
        drawField(f);
    setRowLimits(0, static_cast<int>(m_texts.size()) - 1, true);
    setColumnLimits(0, 100, false);
    goToDigit(0);
}

u32 RegCtrl::value(const Field& field) const
{
    switch (field.kind) {
    case kFlag: return m_cpu->getFlag(field.index);
    case kRegister: return m_cpu->getRegister(field.index);
    default: return 0;
    }
}

void RegCtrl::store(const Field& field, u32 v)
{
    if (field.kind == kFlag)
        m_cpu->setFlag(field.index, static_cast<u8>(v));
    else if (field.kind == kRegister)
        m_cpu->setRegister(field.index, v);
}

void RegCtrl::drawField(Field& field)
{
    const u32 v = value(field);
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", field.digits, v);
    // A field narrower than its value shows the low digits.
    const std::string digits(text + std::max(0, static_cast<int>(std::strlen(text)) - field.digits));
    setTextAt(field.column, field.row, digits);
    const bool changed = v != field.last;
    setColor(field.column, field.digits, field.row, changed ? dbgcolor::kRed : dbgcolor::kBlack);
    if (changed)
        field.last = v;
}

void RegCtrl::refresh()
{
    for (Field& f : m_fields)
        drawField(f);
}

const RegCtrl::Field* RegCtrl::fieldAt(int column, int row) const
{
    const int index = digitIndex(column, row);
    return index < 0 ? nullptr : &m_fields[static_cast<std::size_t>(m_digits[static_cast<std::size_t>(index)].field)];
}

int RegCtrl::digitIndex(int column, int row) const
{
    for (std::size_t i = 0; i < m_digits.size(); ++i) {
        if (m_digits[i].column == column && m_digits[i].row == row)
            return static_cast<int>(i);
    }
    return -1;
}

void RegCtrl::goToDigit(int index)
{
    if (m_digits.empty())
        return;
    const int count = static_cast<int>(m_digits.size());
    const Digit& d = m_digits[static_cast<std::size_t>(((index % count) + count) % count)];
    moveCaret(d.column, d.row);
}

void RegCtrl::typeDigit(char c)
{
    const int at = digitIndex(caretColumn(), caretRow());
    if (at < 0)
        return;
    Field& field = m_fields[static_cast<std::size_t>(m_digits[static_cast<std::size_t>(at)].field)];
    const int digit = hexDigit(c);
    if (digit < 0 || (field.binary && digit > 1))
        return;
    const int fromRight = field.column + field.digits - 1 - caretColumn();
    const int shift = field.binary ? fromRight : (4 * fromRight) % 32;
    const u32 mask = field.binary ? 1u : 0xFu;
    const u32 before = value(field);
    const u32 after = (before & ~(mask << shift)) | (static_cast<u32>(digit) << shift);
    store(field, after);
    field.last = before;
    drawField(field);
    afterEdit(field);
    goToDigit(at + 1);
}

void RegCtrl::afterEdit(Field& field)
{
    if (field.role == kStatus) {
        for (Field& f : m_fields) {
            if (f.role == kFlagField)
                drawField(f);
        }
        if (m_dasm)
            m_dasm->updateHighlight();
    } else if (field.role == kFlagField) {
        for (Field& f : m_fields) {
            if (f.role == kStatus)
                drawField(f);
        }
        if (m_dasm)
            m_dasm->updateHighlight();
    }
}

void RegCtrl::verticalMove(int direction)
{
    const int rows = static_cast<int>(m_texts.size());
    int row = caretRow();
    for (int i = 0; i < rows; ++i) {
        row = ((row + direction) % rows + rows) % rows;
        const Field* first = nullptr;
        for (const Field& f : m_fields) {
            if (f.row == row) {
                first = &f;
                break;
            }
        }
        if (!first)
            continue;
        const int column = caretColumn() >= first->column && caretColumn() < first->column + first->digits
                               ? caretColumn()
                               : first->column;
        moveCaret(column, row);
        return;
    }
}

void RegCtrl::keyPressEvent(QKeyEvent* event)
{
    if (sysKey(event, QStringLiteral("DasmCtrl::OnSysKeyDown")))
        return;
    const int at = digitIndex(caretColumn(), caretRow());
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (const Field* f = fieldAt(caretColumn(), caretRow()); f && f->role == kProgramCounter && m_dasm)
            m_dasm->goTo(m_cpu->getPC());
        return;
    case Qt::Key_Left: goToDigit(at < 0 ? 0 : at - 1); return;
    case Qt::Key_Up: verticalMove(-1); return;
    case Qt::Key_Down: verticalMove(1); return;
    case Qt::Key_Home: goToDigit(0); return;
    case Qt::Key_End: goToDigit(static_cast<int>(m_digits.size()) - 1); return;
    case Qt::Key_Right:
    case Qt::Key_Space: goToDigit(at + 1); return;
    default: break;
    }
    const QString text = event->text();
    if (text.size() == 1 && text[0].unicode() > 32 && text[0].unicode() < 127) {
        typeDigit(static_cast<char>(text[0].unicode()));
        return;
    }
    // Other keys that do not move the caret pass it to the next digit.
    if (!(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && event->key() != Qt::Key_Shift)
        goToDigit(at + 1);
}

void RegCtrl::nearestDigit(int column, int row)
{
    const int rows = static_cast<int>(m_texts.size());
    row = std::clamp(row, 0, rows - 1);
    // A row without fields takes the row above.
    for (; row >= 0; --row) {
        int best = -1;
        int distance = 0;
        for (std::size_t i = 0; i < m_digits.size(); ++i) {
            if (m_digits[i].row != row)
                continue;
            const int d = std::abs(m_digits[i].column - column);
            if (best < 0 || d < distance) {
                best = static_cast<int>(i);
                distance = d;
            }
        }
        if (best >= 0) {
            goToDigit(best);
            return;
        }
    }
    goToDigit(0);
}

void RegCtrl::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    const QPoint cell = cellAt(event->position().toPoint());
    nearestDigit(cell.x(), cell.y());
}

void RegCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint cell = cellAt(event->position().toPoint());
    const int at = digitIndex(cell.x(), cell.y());
    if (at < 0)
        return;
    const Field& field = m_fields[static_cast<std::size_t>(m_digits[static_cast<std::size_t>(at)].field)];
    if (!field.binary)
        return;
    moveCaret(cell.x(), cell.y());
    const u32 bit = (value(field) >> (field.column + field.digits - 1 - cell.x())) & 1;
    typeDigit(bit ? '0' : '1');
}

void RegCtrl::focusInEvent(QFocusEvent* event)
{
    refresh();
    TextCtrl::focusInEvent(event);
}
