#include "app/qt_prompter.h"

#include <QFileDialog>
#include <QMessageBox>

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

QStringList QtPrompter::openFileNames(const QString &title, const QString &folder,
                                      const QStringList &filters)
{
    QString selected = filters.value(0);
    return QFileDialog::getOpenFileNames(owner_, title, folder, filters.join(QStringLiteral(";;")),
                                         &selected);
}

QString QtPrompter::saveFileName(const QString &title, const QString &initialPath,
                                 const QStringList &filters)
{
    QString selected = filters.value(0);
    return QFileDialog::getSaveFileName(owner_, title, initialPath,
                                        filters.join(QStringLiteral(";;")), &selected);
}

} // namespace sonaweld
