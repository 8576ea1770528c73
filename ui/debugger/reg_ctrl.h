#pragma once

#include <string>
#include <vector>

#include "core/base/types.h"
#include "ui/debugger/text_ctrl.h"

class CPU;
class DasmCtrl;

// The processor's registers and status flags as rows of text with
// editable hexadecimal or binary digit fields. A typed digit goes to the
// processor at once; values changed since they were last drawn show red.
class RegCtrl : public TextCtrl {
public:
    enum Kind : int { kFlag = 1, kRegister = 4 };
    enum Role : int { kPlain = 0, kStatus = 1, kFlagField = 2, kProgramCounter = 3 };
    struct Field {
        int index = 0;
        int column = 0;
        int row = 0;
        int digits = 8;
        int kind = kRegister;
        int role = kPlain;
        bool binary = false;
        u32 last = 0;
    };

    RegCtrl(CPU* cpu, DasmCtrl* dasm, QWidget* parent = nullptr);

    void addRow(std::string text, std::vector<Field> fields = {});
    // The SH-2's 28 rows: R0-R15, MACH, MACL, PR, PC, GBR, VBR, SR, flags.
    void buildSh2Rows();

    void refresh() override;
    const Field* fieldAt(int column, int row) const;

protected:
    void initView() override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    struct Digit {
        int field;  // index into m_fields
        int column;
        int row;
    };
    u32 value(const Field& field) const;
    void store(const Field& field, u32 value);
    void drawField(Field& field);
    void typeDigit(char c);
    void afterEdit(Field& field);
    int digitIndex(int column, int row) const;
    void goToDigit(int index);
    void nearestDigit(int column, int row);
    void verticalMove(int direction);

    CPU* m_cpu;
    DasmCtrl* m_dasm;
    std::vector<std::string> m_texts;
    std::vector<Field> m_fields;
    // Every digit in reading order: the caret walks this list.
    std::vector<Digit> m_digits;
};
