#include "ui/debugger/memory_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QTreeWidget>

#include "ui/debugger/mem_ctrl.h"

namespace {

const QString kBlank = QStringLiteral("        ");
// Marks the entries made from a typed address.
constexpr int kUserEntry = Qt::UserRole + 1;

}  // namespace

MemoryTemp::MemoryTemp(CSystem& machine, QWidget* parent)
    : QWidget(parent), m_view(new KestMemCtrl(machine, this)), m_tree(new QTreeWidget(this)),
      m_editor(new QLineEdit(m_tree->viewport()))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_tree);
    layout->addWidget(m_view, 1);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(false);
    m_tree->setFixedWidth(110);
    m_tree->installEventFilter(this);
    m_view->setFont(QStringLiteral("Courier New"), 20);
    m_view->setMinimumSize(m_view->cellWidth() * MemCtrl::kRowLength + 4,
                           m_view->lineHeight() * (MemCtrl::kDataRows + 1) + 4);

    m_editor->hide();
    m_editor->setMaxLength(8);
    m_editor->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,8}")), m_editor));
    connect(m_editor, &QLineEdit::textEdited, m_editor, [this](const QString& text) {
        const int at = m_editor->cursorPosition();
        m_editor->setText(text.toUpper());
        m_editor->setCursorPosition(at);
    });
    m_editor->installEventFilter(this);

    static const struct { const char* name; u32 address; } kRegions[] = {
        {"BIOS", 0x20000000},   {"BACKUP", 0x20180000}, {"WORKL", 0x20200000}, {"WORKH", 0x26000000},
        {"CS0", 0x22000000},    {"CS1", 0x24000000},    {"SCSP", 0x25A00000},  {"VDP1V", 0x25C00000},
        {"VDP1F0", 0x25C80000}, {"VDP1F1", 0x25CC0000}, {"VDP2C", 0x25F00000}, {"VDP2V", 0x25E00000},
    };
    for (const auto& region : kRegions)
        addEntry(QString::fromLatin1(region.name), region.address);
    addEntry(kBlank, 0);

    connect(m_tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { onSelect(item); });
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item && item->text(0) != kBlank)
            onSelect(item);
    });
    // Only an address the user typed opens again; the named regions,
    // even those that may be deleted, keep their address.
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item && item->data(0, kUserEntry).toBool())
            editEntry(item);
    });
    m_tree->setCurrentItem(m_tree->topLevelItem(0));
}

void MemoryTemp::addEntry(const QString& name, u32 address)
{
    auto* item = new QTreeWidgetItem(m_tree, QStringList(name));
    item->setData(0, Qt::UserRole, QVariant::fromValue<quint32>(address));
}

bool MemoryTemp::isFixed(QTreeWidgetItem* item) const
{
    static const char* const kKept[] = {"BIOS", "BACKUP", "WORKL", "WORKH", "CS0", "CS1", "VDP1V", "VDP2C", "VDP2V"};
    if (!item || item->text(0) == kBlank)
        return true;
    for (const char* name : kKept) {
        if (item->text(0) == QLatin1String(name))
            return true;
    }
    return false;
}

void MemoryTemp::onSelect(QTreeWidgetItem* item)
{
    if (!item)
        return;
    if (item->text(0) == kBlank) {
        editEntry(item);
        return;
    }
    m_view->goTo(item->data(0, Qt::UserRole).value<quint32>());
    m_view->setFocus();
}

void MemoryTemp::editEntry(QTreeWidgetItem* item)
{
    m_editing = item;
    m_editor->setGeometry(m_tree->visualItemRect(item));
    m_editor->setText(item->text(0) == kBlank ? QString() : item->text(0));
    m_editor->show();
    m_editor->setFocus();
}

void MemoryTemp::applyEditor()
{
    QTreeWidgetItem* item = m_editing;
    const QString text = m_editor->text();
    m_editor->hide();
    m_editing = nullptr;
    if (!item || text.isEmpty())
        return;
    bool ok = false;
    const u32 address = text.toUInt(&ok, 16);
    const bool wasBlank = item->text(0) == kBlank;
    item->setText(0, QStringLiteral("%1").arg(ok ? address : 0u, 8, 16, QLatin1Char('0')).toUpper());
    item->setData(0, Qt::UserRole, QVariant::fromValue<quint32>(ok ? address : 0u));
    item->setData(0, kUserEntry, true);
    if (wasBlank)
        addEntry(kBlank, 0);
    m_view->goTo(ok ? address : 0u);
}

void MemoryTemp::deleteSelected()
{
    QTreeWidgetItem* item = m_tree->currentItem();
    if (!isFixed(item))
        delete item;
}

bool MemoryTemp::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_editor) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                applyEditor();
                return true;
            }
            if (key == Qt::Key_Escape) {
                m_editor->clear();
                m_editor->hide();
                m_editing = nullptr;
                return true;
            }
            if (key == Qt::Key_Up || key == Qt::Key_Down)
                return true;
        } else if (event->type() == QEvent::FocusOut) {
            m_editor->hide();
        }
    } else if (watched == m_tree && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        deleteSelected();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

MemoryDlg::MemoryDlg(CSystem& machine, QWidget* parent) : QDialog(parent), m_pane(new MemoryTemp(machine, this))
{
    setWindowTitle(QStringLiteral("Memory"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pane);
}
