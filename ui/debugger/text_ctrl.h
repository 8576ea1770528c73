#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QMenu;

// Colours the debugger's views use, as 0xRRGGBB.
namespace dbgcolor {
constexpr QRgb kBlack = 0x000000;
constexpr QRgb kRed = 0xFF0000;
constexpr QRgb kBlue = 0x0000FF;
constexpr QRgb kGreen = 0x008000;
constexpr QRgb kMagenta = 0xFF00FF;
}  // namespace dbgcolor

// The value of a hexadecimal digit, or -1.
constexpr int hexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Message boxes of the debugger windows go through here so tests can
// catch them instead of blocking on a modal box.
using DebuggerMessage = std::function<void(QWidget* parent, const QString& caption, const QString& text)>;
void setDebuggerMessage(DebuggerMessage handler);
void debuggerMessage(QWidget* parent, const QString& caption, const QString& text);
// Alt with Home, Up, Down, F5, F10 or F11: a box naming the key; answers
// whether the key was one of them.
bool sysKeyMessage(QWidget* parent, QKeyEvent* event, const QString& caption);

// A character grid drawn with one fixed-pitch font: rows of text with a
// colour per character, a caret moving in whole cells and a context menu.
// The concrete views fill rows and colours and react to input.
class TextCtrl : public QWidget {
public:
    struct Row {
        std::string text;
        std::vector<QRgb> colors;
    };
    struct Axis {
        int value = 0;
        int step = 1;
        int minimum = 0;
        int maximum = 100;
        bool wrap = false;
    };

    explicit TextCtrl(QWidget* parent = nullptr);

    // Chooses the font; the line height is the given height in pixels. Runs
    // the view's set-up afterwards.
    void setFont(const QString& face, int height);

    // Brings the view up to date with the machine.
    virtual void refresh() {}

    void setRowText(int row, std::string_view text);
    void setColor(int column, int count, int row, QRgb color);
    void setTextAt(int column, int row, std::string_view text);
    const std::string& rowText(int row) const;
    QRgb colorAt(int column, int row) const;
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    int visibleRows() const { return m_visibleRows; }
    int lineHeight() const { return m_lineHeight; }
    int cellWidth() const { return m_cellWidth; }

    int caretColumn() const { return m_column.value; }
    int caretRow() const { return m_row.value; }
    void setCaretColumn(int column) { m_column.value = limit(column, m_column); }
    void setCaretRow(int row) { m_row.value = limit(row, m_row); }
    void setColumnLimits(int minimum, int maximum, bool wrap);
    void setRowLimits(int minimum, int maximum, bool wrap);
    void moveCaret(int column, int row);
    void setCaretEnabled(bool enabled) { m_caretEnabled = enabled; }

    // A value moved into [minimum, maximum]: wrapped modulo the range when
    // the axis wraps, else clamped.
    static int limit(int value, const Axis& axis);

    QRect cellRect(int column, int row) const;
    QPoint cellAt(QPoint pixel) const;

protected:
    virtual void initView() {}
    virtual void advanceCaret();
    virtual bool isText(char c) const { return c != 8 && c != 9 && c != 13; }
    // Builds the context menu; null for none. Its chosen action goes to
    // onContextCommand.
    virtual QMenu* contextMenu(QPoint) { return nullptr; }
    virtual void onContextCommand(QAction*) {}
    // The "Memory" popup the disassembly and memory views share.
    QMenu* memoryMenu();
    virtual void eraseBackground(QPainter& painter);
    virtual void draw(QPainter& painter);
    virtual void afterDraw(QPainter&) {}

    void drawRow(QPainter& painter, int row);
    void fillCells(QPainter& painter, int column, int row, int count, QRgb color);
    void invalidateRow(int row);
    void invalidateCells(int column, int row, int count);
    void resizeRows(int count);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool focusNextPrevChild(bool) override { return false; }
    bool event(QEvent* event) override;

    // Alt with Home, Up, Down, F5, F10 or F11: a box naming the key.
    bool sysKey(QKeyEvent* event, const QString& caption);

    Axis m_column;
    Axis m_row{0, 1, 0, 100, false};
    int m_viewMode = 1;
    std::vector<Row> m_rows;
    int m_lineHeight = 20;
    int m_visibleRows = 0;
    int m_cellWidth = 8;
    int m_ascent = 12;
    QPoint m_origin;
    QFont m_font;
    bool m_caretEnabled = true;
    QRgb m_background = qRgb(200, 200, 200);
};
