// Kest, the desktop program: the main window on the emulator.
#include <QApplication>
#include <QDir>

#include "ui/app/dialogs.h"
#include "ui/app/kest_app.h"
#include "ui/app/main_frame.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kest"));
    const QString startFolder = QDir::currentPath();
    const QString folder = CKestApp::setWorkingDirectory();
    QtDialogs dialogs;
    CMainFrame frame(folder.toStdString(), dialogs);
    if (!frame.create())
        return 1;
    frame.show();
    CKestApp::endOnSignals(frame);
    const QString path = CKestApp::commandLine(QCoreApplication::arguments(), startFolder);
    if (!path.isEmpty())
        frame.openFile(path, 0);
    return CKestApp::run(frame);
}
