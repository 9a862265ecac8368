#include "support/scripted_prompter.h"

#include <gtest/gtest.h>

namespace sonaweld::test {

void ScriptedPrompter::appMessage(const QString &text)
{
    shown.append({text, kApplicationName, MessageButtons::Ok, MessageIcon::Exclamation, true, owner});
}

Answer ScriptedPrompter::message(const QString &text, const QString &caption,
                                 MessageButtons buttons, MessageIcon icon)
{
    shown.append({text, caption, buttons, icon, false, owner});
    if (buttons == MessageButtons::Ok)
        return Answer::Ok;
    if (answers.isEmpty()) {
        ADD_FAILURE() << "unscripted question: " << text.toStdString();
        return Answer::No;
    }
    return answers.dequeue();
}

QStringList ScriptedPrompter::openFileNames(const QString &title, const QString &folder,
                                            const QList<FileFilter> &filters)
{
    fileDialogs.append({title, folder, filters, owner});
    return openResults.isEmpty() ? QStringList() : openResults.dequeue();
}

QString ScriptedPrompter::saveFileName(const QString &title, const QString &initialPath,
                                       const QList<FileFilter> &filters, int *selectedFilter)
{
    const int openedOn = selectedFilter ? *selectedFilter : -1;
    fileDialogs.append({title, initialPath, filters, owner, openedOn});
    const QString chosen = saveResults.isEmpty() ? QString() : saveResults.dequeue();
    // A cancelled dialog chooses no entry either.
    if (!chosen.isEmpty() && !saveFilterChoices.isEmpty()) {
        const int entry = saveFilterChoices.dequeue();
        if (selectedFilter)
            *selectedFilter = entry;
    }
    return chosen;
}

QStringList ScriptedPrompter::texts() const
{
    QStringList out;
    for (const Shown &s : shown)
        out.append(s.text);
    return out;
}

} // namespace sonaweld::test
