#include "ui/app/dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "ui/host/about_dialog.h"

void QtDialogs::message(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QStringLiteral("Kest"), text);
}

int QtDialogs::choose(QWidget* parent, const QString& text, const QStringList& answers)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Kest"), text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> buttons;
    for (const QString& answer : answers)
        buttons << box.addButton(answer, QMessageBox::AcceptRole);
    box.setDefaultButton(static_cast<QPushButton*>(buttons.first()));
    box.setEscapeButton(buttons.last());
    box.exec();
    // Closed some other way (a signal): as Escape.
    const qsizetype chosen = buttons.indexOf(box.clickedButton());
    return static_cast<int>(chosen < 0 ? buttons.size() - 1 : chosen);
}

QString QtDialogs::openFile(QWidget* parent, const QString& filter)
{
    const QString path = QFileDialog::getOpenFileName(parent, QString(), m_folder, filter);
    remember(path);
    return path;
}

void QtDialogs::remember(const QString& path)
{
    if (!path.isEmpty())
        m_folder = QFileInfo(path).absolutePath();
}

QString QtDialogs::chooseDrive(QWidget* parent, const QStringList& drives)
{
    bool ok = false;
    const QString drive =
        QInputDialog::getItem(parent, QStringLiteral("Kest"), QStringLiteral("Select CD drive:"), drives, 0, false, &ok);
    return ok ? drive : QString();
}

void QtDialogs::about(QWidget* parent, const QString& version, const QString& info, const QString& credits)
{
    CAboutDlg dialog(version, info, credits, parent);
    dialog.exec();
}
