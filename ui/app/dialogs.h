#pragma once

#include <QString>
#include <QStringList>
#include <utility>

class QWidget;

// The window's message boxes and choosers, behind one interface so tests
// can answer them.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual void message(QWidget* parent, const QString& text) = 0;
    // A question with a button for each answer, the first the default and
    // the last the one Escape, or a box closed, gives: the index chosen.
    virtual int choose(QWidget* parent, const QString& text, const QStringList& answers) = 0;
    // The chosen file, or an empty text when cancelled.
    virtual QString openFile(QWidget* parent, const QString& filter) = 0;
    // One of the drives, or an empty text when cancelled.
    virtual QString chooseDrive(QWidget* parent, const QStringList& drives) = 0;
    virtual void about(QWidget* parent, const QString& version, const QString& info, const QString& credits) = 0;
};

// The real ones, modal. The file chooser starts in the folder the user
// started the program in, then in the folder of the last file chosen.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QString startFolder = QString()) : m_folder(std::move(startFolder)) {}
    const QString& folder() const { return m_folder; }

    void message(QWidget* parent, const QString& text) override;
    int choose(QWidget* parent, const QString& text, const QStringList& answers) override;
    QString openFile(QWidget* parent, const QString& filter) override;
    QString chooseDrive(QWidget* parent, const QStringList& drives) override;
    void about(QWidget* parent, const QString& version, const QString& info, const QString& credits) override;

    // The folder the next chooser starts in, after path was chosen.
    void remember(const QString& path);

private:
    QString m_folder;
};
