#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "core/base/types.h"
#include "ui/debugger/text_ctrl.h"

class CPU;

// The disassembly: a header row with an editable address and one row per
// 16-bit instruction, with a gutter for breakpoints and the PC marker,
// branch arrows, call and return marks, delay-slot marks, and function
// and comment annotations.
class DasmCtrl : public TextCtrl {
public:
    static constexpr int kGutter = 20;
    static constexpr int kAnnotationColumn = 45;

    enum BranchKind : u32 { kUnconditional = 0, kConditional = 1 };
    struct Branch {
        u32 from = 0;
        u32 to = 0;
        u32 kind = kUnconditional;
        int lane = 0;
        bool operator==(const Branch&) const = default;
    };
    struct Call {
        u32 from = 0;
        u32 target = 0;
    };

    explicit DasmCtrl(CPU* cpu, QWidget* parent = nullptr);

    // Scrolls to the PC when it left the window, then rebuilds.
    void followPC();
    void goTo(u32 address);
    void rebuild();
    // The cursor line's operand and registers, and its highlighted arrows.
    void updateHighlight();
    void refresh() override { followPC(); }

    u32 top() const { return m_top; }
    u32 cursor() const { return m_cursor; }
    int lines() const { return m_lines; }
    u32 lineAddress(int line) const { return m_top + 2u * static_cast<u32>(line); }
    // The visible line of an address, or -1.
    int lineOf(u32 address) const;
    const std::vector<Branch>& branches() const { return m_branches; }
    const std::vector<Branch>& highlighted() const { return m_highlighted; }
    const std::vector<Call>& calls() const { return m_calls; }
    const std::vector<u32>& returns() const { return m_returns; }
    const std::vector<u32>& delayedBranches() const { return m_delayed; }
    const std::string& operand() const { return m_operand; }
    std::unordered_map<u32, std::string>& functions() { return m_functions; }
    std::unordered_map<u32, std::string>& comments() { return m_comments; }
    std::unordered_map<u32, std::string>& bookmarks() { return m_bookmarks; }
    bool draggingPc() const { return m_draggingPc; }
    void selectLine(int line);
    // Rows 1..lines, each followed by a line feed: what Copy puts on the
    // clipboard.
    QString copyText() const;
    // The comment editor; tests replace it. Answers false on Cancel.
    std::function<bool(QWidget*, QString&)> editComment;

protected:
    void initView() override;
    void eraseBackground(QPainter& painter) override;
    void draw(QPainter& painter) override;
    QMenu* contextMenu(QPoint at) override;
    void onContextCommand(QAction* action) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Span {
        int row, column, count;
    };
    void writeHeader();
    void formatLine(int line);
    void assignLanes();
    void toggleBreakpoint(u32 address);
    int lineAt(QPoint pixel) const;
    bool onPcMarker(QPoint pixel);
    void drawArrow(QPainter& painter, const Branch& branch);
    void drawChevron(QPainter& painter, int line, int direction, QRgb rgb);
    int lineCentre(int line) const;

    CPU* m_cpu;
    u32 m_cursor = 0;
    u32 m_top = 0;
    int m_lines = 0;
    bool m_draggingPc = false;
    bool m_selecting = false;
    bool m_delayScanned = false;
    u32 m_lastPc = 0;
    std::vector<Branch> m_branches;
    std::vector<Branch> m_highlighted;
    std::vector<Call> m_calls;
    std::vector<u32> m_returns;
    std::vector<u32> m_delayed;
    std::unordered_map<u32, std::string> m_functions;
    std::unordered_map<u32, std::string> m_comments;
    std::unordered_map<u32, std::string> m_bookmarks;
    std::vector<std::string> m_registers;
    std::string m_operand;
    std::vector<Span> m_spans;
};
