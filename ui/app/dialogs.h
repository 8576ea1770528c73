#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The window's message boxes and choosers, behind one interface so tests
// can answer them.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual void message(QWidget* parent, const QString& text) = 0;
    // The chosen file, or an empty text when cancelled.
    virtual QString openFile(QWidget* parent, const QString& filter) = 0;
    // One of the drives, or an empty text when cancelled.
    virtual QString chooseDrive(QWidget* parent, const QStringList& drives) = 0;
    virtual void about(QWidget* parent, const QString& version, const QString& info, const QString& credits) = 0;
};

// The real ones, modal.
class QtDialogs : public Dialogs {
public:
    void message(QWidget* parent, const QString& text) override;
    QString openFile(QWidget* parent, const QString& filter) override;
    QString chooseDrive(QWidget* parent, const QStringList& drives) override;
    void about(QWidget* parent, const QString& version, const QString& info, const QString& credits) override;
};
