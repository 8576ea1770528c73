#include "ui/app/kest_app.h"

#include <QCoreApplication>
#include <QDir>

#include "ui/app/main_frame.h"

QString CKestApp::setWorkingDirectory()
{
    const QString folder = QCoreApplication::applicationDirPath();
    QDir::setCurrent(folder);
    return folder;
}

QString CKestApp::commandLine(const QStringList& arguments, const QString& startFolder)
{
    const QString path = commandLinePath(arguments.mid(1).join(QLatin1Char(' ')));
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    return QDir::cleanPath(QDir(startFolder).absoluteFilePath(path));
}

int CKestApp::run(CMainFrame& frame)
{
    while (!frame.quitRequested()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Only an event loop of Qt's own would delete what asked for it.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (frame.quitRequested())
            break;
        frame.update();
    }
    return 0;
}
