#include "ui/host/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(const QString& version, const QString& info, const QString& credits, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Kest"));
    auto* layout = new QVBoxLayout(this);
    auto* header = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().pixmap(32, 32));
    header->addWidget(icon);
    auto* lines = new QVBoxLayout;
    auto* versionLine = new QLabel(version, this);
    versionLine->setObjectName(QStringLiteral("version"));
    auto* infoLine = new QLabel(info, this);
    infoLine->setObjectName(QStringLiteral("info"));
    lines->addWidget(versionLine);
    lines->addWidget(infoLine);
    header->addLayout(lines, 1);
    layout->addLayout(header);
    static const char* const kLinks[] = {
        "<a href=\"https://www.sega.com/\">Sega</a>",
        "<a href=\"https://www.qt.io/\">Qt</a>",
        "<a href=\"https://www.libsdl.org/\">SDL</a>",
    };
    for (const char* link : kLinks) {
        auto* label = new QLabel(QString::fromUtf8(link), this);
        label->setOpenExternalLinks(true);
        layout->addWidget(label);
    }
    auto* text = new QPlainTextEdit(credits, this);
    text->setObjectName(QStringLiteral("credits"));
    text->setReadOnly(true);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}
