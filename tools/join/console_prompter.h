#pragma once

#include "app/prompter.h"

namespace sonaweld {

// Messages go to standard error; questions are answered No, since a
// command line tool must never wait for an answer nobody gives.
class ConsolePrompter : public Prompter
{
public:
    void appMessage(const QString &text) override;
    Answer message(const QString &text, const QString &caption, MessageButtons buttons,
                   MessageIcon icon) override;
    QStringList openFileNames(const QString &, const QString &, const QList<FileFilter> &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QList<FileFilter> &) override { return {}; }
};

} // namespace sonaweld
