#pragma once

#include "app/prompter.h"

#include <QPointer>
#include <QWidget>

namespace sonaweld {

// File-dialog filter strings: "Description (pattern pattern ...)".
QStringList qtNameFilters(const QList<FileFilter> &filters);

// Message boxes and file dialogs on Qt Widgets, owned by one window.
class QtPrompter : public Prompter
{
public:
    void setOwner(QWidget *owner) { owner_ = owner; }
    QWidget *exchangeOwner(QWidget *owner) override
    {
        QWidget *previous = owner_;
        owner_ = owner;
        return previous;
    }

    void appMessage(const QString &text) override;
    Answer message(const QString &text, const QString &caption, MessageButtons buttons,
                   MessageIcon icon) override;
    QStringList openFileNames(const QString &title, const QString &folder,
                              const QList<FileFilter> &filters) override;
    QString saveFileName(const QString &title, const QString &initialPath,
                         const QList<FileFilter> &filters, int *selectedFilter = nullptr) override;

private:
    QPointer<QWidget> owner_;
};

} // namespace sonaweld
