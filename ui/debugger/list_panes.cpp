#include "ui/debugger/list_panes.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

// Small icons of the lists: breakpoint on and off, and one mark per list.
QIcon listIcon(int kind)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case 0: painter.setBrush(QColor(220, 30, 30)); painter.drawEllipse(2, 2, 12, 12); break;
    case 1: painter.setPen(QPen(QColor(220, 30, 30), 2)); painter.drawEllipse(3, 3, 10, 10); break;
    default: painter.setBrush(QColor::fromHsv(kind * 47 % 360, 160, 200)); painter.drawRect(3, 3, 10, 10); break;
    }
    return QIcon(pixmap);
}

void addButtons(QDialog* dialog, QLayout* layout)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
}

QDialog* nameAndAddress(QWidget* parent, const char* title)
{
    auto* dialog = new QDialog(parent);
    dialog->setWindowTitle(QString::fromLatin1(title));
    auto* layout = new QFormLayout(dialog);
    layout->addRow(QStringLiteral("Name"), new QLineEdit(dialog));
    layout->addRow(QStringLiteral("Address"), new QLineEdit(dialog));
    addButtons(dialog, layout);
    return dialog;
}

}  // namespace

DebugList::DebugList(Kind kind, QWidget* parent) : QTreeWidget(parent), m_kind(kind)
{
    setRootIsDecorated(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setAlternatingRowColors(false);
    setStyleSheet(QStringLiteral("QTreeView::item { border: 1px solid #d0d0d0; }"));
    struct Column { const char* title; int width; };
    static const Column kCommon[] = {{"Address", 100}, {"Type", 100},      {"Access", 200},
                                     {"Opcode", 200},  {"Condition", 200}, {"Hit Count", 100}};
    static const Column kWatchColumns[] = {{"Address", 100}, {"Size", 100}, {"Hex", 200}, {"Dec", 200}, {"ASCII", 200}};
    const Column* columns = kind == kWatch ? kWatchColumns : kCommon;
    const int count = kind == kWatch ? 5 : 6;
    QStringList titles;
    for (int i = 0; i < count; ++i)
        titles << QString::fromLatin1(columns[i].title);
    setHeaderLabels(titles);
    for (int i = 0; i < count; ++i) {
        setColumnWidth(i, columns[i].width);
        headerItem()->setTextAlignment(i, Qt::AlignCenter);
    }

    // Sample rows: the image of each row after the first.
    std::vector<int> images;
    switch (kind) {
    case kBreakpoints: images = {1, 2, 3, 0, 0, 0}; break;
    case kCallStack: images = {1, 2, 0, 1, 0, 0}; break;
    default: images = {0, 0, 0, 0, 0, 0}; break;
    }
    std::vector<QIcon>& icons = m_icons;
    switch (kind) {
    case kBreakpoints: icons = {listIcon(0), listIcon(1), listIcon(2), listIcon(3)}; break;
    case kCallStack: icons = {listIcon(0), listIcon(1), listIcon(4)}; break;
    default: icons = {listIcon(5 + kind)}; break;
    }
    auto* first = new QTreeWidgetItem(this, QStringList{QStringLiteral("20000200"), QStringLiteral("xxx")});
    first->setIcon(0, icons[0]);
    for (int image : images) {
        auto* row = new QTreeWidgetItem(this, QStringList{QStringLiteral("20000380")});
        row->setIcon(0, icons[static_cast<std::size_t>(image)]);
    }
    if (kind == kBreakpoints) {
        for (int i = 0; i < topLevelItemCount(); ++i)
            topLevelItem(i)->setCheckState(0, i == 0 ? Qt::Checked : Qt::Unchecked);
        // The icon follows the check box.
        connect(this, &QTreeWidget::itemChanged, this, [this, icons](QTreeWidgetItem* item, int column) {
            const QSignalBlocker quiet(this);  // the icon change is an item change too
            if (column == 0)
                item->setIcon(0, icons[item->checkState(0) == Qt::Checked ? 0 : 1]);
        });
    }
}

void DebugList::mousePressEvent(QMouseEvent* event)
{
    QTreeWidget::mousePressEvent(event);
    iconFromCheck(event->position().toPoint());
}

void DebugList::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    iconFromCheck(event->position().toPoint());
}

void DebugList::iconFromCheck(QPoint at)
{
    if (m_kind != kBreakpoints)
        return;
    if (QTreeWidgetItem* item = itemAt(at)) {
        const QSignalBlocker quiet(this);
        item->setIcon(0, m_icons[item->checkState(0) == Qt::Checked ? 0 : 1]);
    }
}

QDialog* DebugList::makeAddDialog()
{
    switch (m_kind) {
    case kBreakpoints: {
        auto* dialog = new QDialog(this);
        dialog->setWindowTitle(QStringLiteral("Add breakpoint"));
        auto* layout = new QVBoxLayout(dialog);
        layout->addWidget(new QCheckBox(QStringLiteral("On change"), dialog));
        auto* form = new QFormLayout;
        form->addRow(QStringLiteral("Address"), new QLineEdit(dialog));
        form->addRow(QStringLiteral("Conditioin"), new QLineEdit(dialog));
        layout->addLayout(form);
        auto* kinds = new QHBoxLayout;
        auto* execute = new QRadioButton(QStringLiteral("Execute"), dialog);
        execute->setChecked(true);
        kinds->addWidget(execute);
        kinds->addWidget(new QRadioButton(QStringLiteral("Memory"), dialog));
        layout->addLayout(kinds);
        auto* accesses = new QGridLayout;
        const char* names[] = {"RB", "RW", "RL", "WB", "WW", "WL"};
        for (int i = 0; i < 6; ++i)
            accesses->addWidget(new QCheckBox(QString::fromLatin1(names[i]), dialog), i / 3, i % 3);
        layout->addLayout(accesses);
        addButtons(dialog, layout);
        return dialog;
    }
    case kWatch: {
        auto* dialog = new QDialog(this);
        dialog->setWindowTitle(QStringLiteral("Add watch value"));
        auto* layout = new QVBoxLayout(dialog);
        auto* form = new QFormLayout;
        form->addRow(QStringLiteral("Address"), new QLineEdit(dialog));
        layout->addLayout(form);
        auto* sizes = new QHBoxLayout;
        for (const char* name : {"Byte", "Word", "DWord"})
            sizes->addWidget(new QRadioButton(QString::fromLatin1(name), dialog));
        layout->addLayout(sizes);
        addButtons(dialog, layout);
        return dialog;
    }
    case kBookmarks: return nameAndAddress(this, "Add bookmark");
    case kFunctions: return nameAndAddress(this, "Add function");
    default: return nullptr;
    }
}

void DebugList::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_kind == kCallStack)
        return;
    QMenu menu(this);
    if (itemAt(event->pos())) {
        menu.addAction(QStringLiteral("Enable"));
        menu.addAction(QStringLiteral("Edit..."));
        menu.addSeparator();
    }
    menu.addAction(QStringLiteral("Add new..."));
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen && chosen->text() != QLatin1String("Enable")) {
        QDialog* dialog = makeAddDialog();
        runDialog(dialog);
        delete dialog;
    }
}

ListPane::ListPane(DebugList::Kind kind, QWidget* parent) : QWidget(parent), m_list(new DebugList(kind, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_list);
}
