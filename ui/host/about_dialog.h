#pragma once

#include <QDialog>
#include <QString>

// Help > About: the version, a second line from the emulator object, three
// links and the credits.
class CAboutDlg : public QDialog {
public:
    CAboutDlg(const QString& version, const QString& info, const QString& credits, QWidget* parent = nullptr);
};
