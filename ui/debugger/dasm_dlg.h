#pragma once

#include <QDialog>

class CSystem;
class DasmCtrl;
class DebugList;
class MemoryTemp;
class QTabWidget;
class RegCtrl;

// The debugger window on the master SH-2: registers on the left, the
// disassembly on the right, and below them the memory pane and the lists.
class DasmDlg : public QDialog {
public:
    explicit DasmDlg(CSystem& machine, QWidget* parent = nullptr);

    // After a break or a pause: the registers, then the disassembly
    // follows the PC.
    void refresh();

    RegCtrl* registers() const { return m_registers; }
    DasmCtrl* disassembly() const { return m_disassembly; }
    MemoryTemp* memory() const { return m_memory; }
    QTabWidget* tabs() const { return m_tabs; }
    DebugList* list(int kind) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    DasmCtrl* m_disassembly;
    RegCtrl* m_registers;
    MemoryTemp* m_memory;
    QTabWidget* m_tabs;
    std::vector<DebugList*> m_lists;
};
