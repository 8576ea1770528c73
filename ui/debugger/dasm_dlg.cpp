#include "ui/debugger/dasm_dlg.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include "core/machine/system.h"
#include "ui/debugger/dasm_ctrl.h"
#include "ui/debugger/list_panes.h"
#include "ui/debugger/memory_dlg.h"
#include "ui/debugger/reg_ctrl.h"

DasmDlg::DasmDlg(CSystem& machine, QWidget* parent)
    : QDialog(parent), m_disassembly(new DasmCtrl(machine.getCpu(0), this)),
      m_registers(new RegCtrl(machine.getCpu(0), m_disassembly, this)), m_memory(new MemoryTemp(machine)),
      m_tabs(new QTabWidget(this))
{
    setWindowTitle(QStringLiteral("Master SH2"));
    setModal(false);
    m_registers->buildSh2Rows();
    const QString font = QStringLiteral("Courier New");
    m_registers->setFont(font, 20);
    m_disassembly->setFont(font, 20);
    m_registers->setFixedWidth(m_registers->cellWidth() * 17 + 4);
    m_registers->setMinimumHeight(m_registers->lineHeight() * 28 + 4);
    m_disassembly->setMinimumWidth(DasmCtrl::kGutter + m_disassembly->cellWidth() * 72);

    auto* views = new QHBoxLayout;
    views->addWidget(m_registers);
    views->addWidget(m_disassembly, 1);

    m_tabs->addTab(m_memory, QStringLiteral("Memory"));
    const struct { DebugList::Kind kind; const char* caption; } kPanes[] = {
        {DebugList::kWatch, "Watch"},         {DebugList::kBreakpoints, "Breakpoints"},
        {DebugList::kBookmarks, "Bookmarks"}, {DebugList::kFunctions, "Functions"},
        {DebugList::kCallStack, "Call Stack"},
    };
    for (const auto& pane : kPanes) {
        auto* widget = new ListPane(pane.kind);
        m_lists.push_back(widget->list());
        m_tabs->addTab(widget, QString::fromLatin1(pane.caption));
    }
    m_tabs->setCurrentIndex(0);

    // Four buttons that have no commands yet.
    auto* toolbar = new QToolBar(this);
    for (int i = 1; i <= 4; ++i)
        toolbar->addAction(QString::number(i))->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(views, 3);
    layout->addWidget(m_tabs, 2);
    layout->addWidget(toolbar, 0, Qt::AlignRight);
}

DebugList* DasmDlg::list(int kind) const
{
    for (DebugList* l : m_lists) {
        if (l->kind() == kind)
            return l;
    }
    return nullptr;
}

void DasmDlg::refresh()
{
    m_registers->refresh();
    m_disassembly->followPC();
}

void DasmDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() & Qt::AltModifier && event->key() == Qt::Key_F5) {
        debuggerMessage(this, QStringLiteral("DasmDlg::OnSysKeyDown"), QStringLiteral("F5"));
        return;
    }
    // The other keys answer as the disassembly view does.
    if (sysKeyMessage(this, event, QStringLiteral("DasmCtrl::OnSysKeyDown")))
        return;
    QDialog::keyPressEvent(event);
}
