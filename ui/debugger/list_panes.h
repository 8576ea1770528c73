#pragma once

#include <QDialog>
#include <QTreeWidget>
#include <QWidget>
#include <vector>

// The debugger's list tabs: report lists with fixed columns and sample
// rows, and the Add dialogs their context menus open. They keep nothing;
// the breakpoints that stop the machine are set in the disassembly gutter.
class DebugList : public QTreeWidget {
public:
    enum Kind { kBreakpoints, kWatch, kBookmarks, kFunctions, kCallStack };
    DebugList(Kind kind, QWidget* parent = nullptr);
    Kind kind() const { return m_kind; }
    // The Add dialog of this list, or null (the call stack has none).
    QDialog* makeAddDialog();
    // Runs the dialog modally; tests replace it.
    std::function<void(QDialog*)> runDialog = [](QDialog* dialog) { dialog->exec(); };

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Breakpoints: the clicked row's icon follows its check box.
    void iconFromCheck(QPoint at);

    Kind m_kind;
    std::vector<QIcon> m_icons;
};

// A tab's content: one list filling it.
class ListPane : public QWidget {
public:
    ListPane(DebugList::Kind kind, QWidget* parent = nullptr);
    DebugList* list() const { return m_list; }

private:
    DebugList* m_list;
};
