#pragma once

#include <QDialog>
#include <QWidget>

#include "core/base/types.h"

class CSystem;
class KestMemCtrl;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

// The memory view beside a list of named regions; the last, blank entry
// takes an address typed by the user, and every address entered stays.
class MemoryTemp : public QWidget {
public:
    MemoryTemp(CSystem& machine, QWidget* parent = nullptr);

    KestMemCtrl* view() const { return m_view; }
    QTreeWidget* tree() const { return m_tree; }
    QLineEdit* editor() const { return m_editor; }
    // Opens the address editor over the entry.
    void editEntry(QTreeWidgetItem* item);
    // Takes the editor's text as the entry's address.
    void applyEditor();
    void deleteSelected();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addEntry(const QString& name, u32 address);
    void onSelect(QTreeWidgetItem* item);
    bool isFixed(QTreeWidgetItem* item) const;

    KestMemCtrl* m_view;
    QTreeWidget* m_tree;
    QLineEdit* m_editor;
    QTreeWidgetItem* m_editing = nullptr;
};

// Tools > Memory: the memory pane in a window of its own.
class MemoryDlg : public QDialog {
public:
    MemoryDlg(CSystem& machine, QWidget* parent = nullptr);
    MemoryTemp* pane() const { return m_pane; }

private:
    MemoryTemp* m_pane;
};
