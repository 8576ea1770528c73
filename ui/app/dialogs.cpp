#include "ui/app/dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "ui/host/about_dialog.h"

void QtDialogs::message(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QStringLiteral("Kest"), text);
}

QString QtDialogs::openFile(QWidget* parent, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
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
