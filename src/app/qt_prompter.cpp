#include "app/qt_prompter.h"

#include <QFileDialog>
#include <QMessageBox>

#include <memory>

namespace sonaweld {
namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Exclamation: return QMessageBox::Warning;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void QtPrompter::appMessage(const QString &text)
{
    message(text, kApplicationName, MessageButtons::Ok, MessageIcon::Exclamation);
}

Answer QtPrompter::message(const QString &text, const QString &caption, MessageButtons buttons,
                           MessageIcon icon)
{
    QMessageBox box(boxIcon(icon), caption, text,
                    buttons == MessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                     : QMessageBox::Ok,
                    owner_);
    const int result = box.exec();
    if (buttons == MessageButtons::Ok)
        return Answer::Ok;
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

// Qt reads a filter's patterns from its last parentheses; the description is
// shown alone. "*.*" means every file, as it does on Windows.
QStringList qtNameFilters(const QList<FileFilter> &filters)
{
    QStringList out;
    for (const FileFilter &f : filters) {
        QStringList patterns;
        for (QString p : f.patterns.split(u';', Qt::SkipEmptyParts)) {
            p = p.trimmed();
            if (p == QStringLiteral("*.*"))
                p = QStringLiteral("*");
            if (!p.isEmpty())
                patterns << p;
        }
        out << QStringLiteral("%1 (%2)").arg(f.description, patterns.join(u' '));
    }
    return out;
}

namespace {

QFileDialog *makeDialog(QWidget *owner, const QString &title, const QString &start,
                        const QList<FileFilter> &filters)
{
    auto *dialog = new QFileDialog(owner, title, start);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    // The type list shows the descriptions as written; matching ignores
    // letter case, so "SONG.MP3" is a media file too.
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setFilter(dialog->filter() & ~QDir::CaseSensitive);
#ifndef _WIN32
    // Desktop-native dialogs elsewhere match patterns case-sensitively.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
#endif
    const QStringList list = qtNameFilters(filters);
    dialog->setNameFilters(list);
    if (!list.isEmpty())
        dialog->selectNameFilter(list.first());
    return dialog;
}

// The entry a dialog reports as chosen. With the patterns hidden, Qt 6.4
// reports it as shown, by its description alone; later versions give back
// the whole filter string.
int filterIndex(const QStringList &list, const QList<FileFilter> &filters, const QString &reported)
{
    const qsizetype whole = list.indexOf(reported);
    if (whole >= 0)
        return static_cast<int>(whole);
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (filters[i].description.trimmed() == reported.trimmed())
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

QStringList QtPrompter::openFileNames(const QString &title, const QString &folder,
                                      const QList<FileFilter> &filters)
{
    std::unique_ptr<QFileDialog> dialog(makeDialog(owner_, title, folder, filters));
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    return dialog->selectedFiles();
}

QString QtPrompter::saveFileName(const QString &title, const QString &initialPath,
                                 const QList<FileFilter> &filters, int *selectedFilter)
{
    std::unique_ptr<QFileDialog> dialog(makeDialog(owner_, title, initialPath, filters));
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    // Choosing a name only names the output; Join asks before replacing it.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList list = qtNameFilters(filters);
    if (selectedFilter && *selectedFilter > 0 && *selectedFilter < list.size())
        dialog->selectNameFilter(list[*selectedFilter]);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    if (selectedFilter) {
        const int chosen = filterIndex(list, filters, dialog->selectedNameFilter());
        if (chosen >= 0)
            *selectedFilter = chosen;
    }
    return dialog->selectedFiles().value(0);
}

} // namespace sonaweld
