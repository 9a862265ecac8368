#pragma once

#include "app/prompter.h"

#include <QList>
#include <QQueue>

namespace sonaweld::test {

// Stands in for every box and file dialog: records what the user would have
// seen and answers from a script. An unscripted question fails the test.
class ScriptedPrompter : public Prompter
{
public:
    struct Shown
    {
        QString text;
        QString caption;
        MessageButtons buttons;
        MessageIcon icon;
        bool appBox;
        QWidget *owner = nullptr;
    };

    void appMessage(const QString &text) override;
    Answer message(const QString &text, const QString &caption, MessageButtons buttons,
                   MessageIcon icon) override;
    QStringList openFileNames(const QString &title, const QString &folder,
                              const QList<FileFilter> &filters) override;
    QString saveFileName(const QString &title, const QString &initialPath,
                         const QList<FileFilter> &filters, int *selectedFilter = nullptr) override;

    QList<Shown> shown;
    QQueue<Answer> answers;
    QQueue<QStringList> openResults;
    QQueue<QString> saveResults;
    // The filter entry each accepted save dialog is left on; when the queue
    // is empty the entry it opened on stays chosen.
    QQueue<int> saveFilterChoices;

    struct FileDialog
    {
        QString title;
        QString folder;
        QList<FileFilter> filters;
        QWidget *owner = nullptr;
        // The entry selected as a save dialog opened; -1 when its caller
        // did not ask which one was chosen.
        int openedOnFilter = -1;
    };
    QList<FileDialog> fileDialogs;

    QStringList texts() const;

    QWidget *exchangeOwner(QWidget *next) override
    {
        QWidget *previous = owner;
        owner = next;
        return previous;
    }
    // The window boxes currently belong to.
    QWidget *owner = nullptr;
};

} // namespace sonaweld::test

#include <ostream>

// Readable QString output in test failures.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
