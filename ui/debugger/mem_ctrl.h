#pragma once

#include <vector>

#include "core/base/types.h"
#include "ui/debugger/text_ctrl.h"

class CSystem;

// Sixteen bytes a row in hexadecimal and as characters, editable by
// nibble or by character. Memory is reached only through the three
// operations at the bottom, so a concrete view decides what is valid.
class MemCtrl : public TextCtrl {
public:
    static constexpr int kDataRows = 16;
    static constexpr int kFirstDigit = 11;  // high digit of byte 0
    static constexpr int kFirstChar = 60;   // character of byte 0
    static constexpr int kRowLength = 76;

    explicit MemCtrl(QWidget* parent = nullptr);

    // Rows from the address rounded down to 16; the caret on the high
    // digit of its byte in the first data row.
    void goTo(u32 address);
    void redrawRows();

    u32 base() const { return m_base; }
    bool caretInHex() const { return m_hexArea; }
    // The byte under the caret and, in the hexadecimal area, whether the
    // caret is on its low digit.
    int caretByte() const;
    u32 caretAddress() const;
    const std::vector<u32>& changedBytes() const { return m_changed; }

    virtual bool isValidAddress(u32 address) = 0;
    virtual u8 readByte(u32 address) = 0;
    virtual void writeByte(u32 address, u8 value) = 0;

protected:
    void initView() override;
    void eraseBackground(QPainter& painter) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    QMenu* contextMenu(QPoint) override;
    void onContextCommand(QAction* action) override;

private:
    void formatRow(int row);
    void typeChar(char c);
    void setArea(bool hex);
    void stepColumn(int direction);
    void scrollTo(u32 base, int caretRow);
    void markChanged(u32 address);

    u32 m_base = 0;
    bool m_hexArea = true;
    std::vector<u32> m_changed;
};

// The memory view bound to the machine's side-effect-free debug services.
class KestMemCtrl : public MemCtrl {
public:
    KestMemCtrl(CSystem& machine, QWidget* parent = nullptr) : MemCtrl(parent), m_machine(machine) {}
    bool isValidAddress(u32 address) override;
    u8 readByte(u32 address) override;
    void writeByte(u32 address, u8 value) override;

private:
    CSystem& m_machine;
};
