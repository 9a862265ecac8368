// The Join command and the supervision of a running join.
#include "app/main_dlg.h"

#include "app/paths.h"
#include "app/prompter.h"
#include "app/settings_store.h"
#include "compose/export_composer.h"
#include "compose/failure_text.h"
#include "ui/image_button.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProgressBar>


namespace sonaweld {
bool CMainDlg::fileExists(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

void CMainDlg::OnJoin()
{
    if (items_.itemCount() == 0) {
        prompter_.appMessage(QStringLiteral("Please add audio or video files into the list"));
        return;
    }
    if (items_.itemCount() > kMaxItems) {
        prompter_.appMessage(
            QStringLiteral("The video files are too many! Please delete some files in the list."));
        return;
    }
    if (converting_ != 0) {
        // Stop: a source whose read never returned is named, since the
        // file then ends where that source hung rather than where Stop was.
        if (const media::Result stopped = endConversion(); stopped.failed())
            reportFailedJoin(QString::fromStdString(failureText(stopped)));
        return;
    }

    const QString output = output_.outputPath;
    if (fileExists(output)) {
        // Replacing a file that is also a source would delete that source.
        for (int i = 0; i < items_.itemCount(); ++i) {
            if (sameFile(output, items_.pathAt(i))) {
                prompter_.error(QStringLiteral("%1 is one of the files to join. Please choose another "
                                               "output file in Options.")
                                    .arg(output));
                return;
            }
        }
        const Answer answer = prompter_.message(
            QStringLiteral("%1 exists. Do you want to replace it?").arg(output), QStringLiteral("Warning"),
            MessageButtons::YesNo, MessageIcon::Exclamation);
        if (answer != Answer::Yes)
            return;
        QFile::remove(output);
    }
    if (!ensureOutputFolder(output))
        return;

    disableDecoderFeedback();

    ExportComposer composer(factory_, prompter_, *this, conversion_);
    composer.setLocateMissing([this](const std::string &missing) { return locateMissingSource(missing); });
    if (composer.composeTimeline(items_) >= 0)
        composer.startExport(conversion_.timeline, output_);
    // A start that failed has been told; what it built serves nothing.
    if (converting_ == 0)
        conversion_.release();
}

// The default output lies in the user's Music folder, which a fresh account
// may not have yet: that one folder is made. Any other missing folder was
// chosen by the user, who is told which it is rather than having folders
// appear where a typing mistake put them.
bool CMainDlg::ensureOutputFolder(const QString &output)
{
    if (output.isEmpty())
        return true; // the writer names what is wrong with it
    const QString folder = QFileInfo(output).absolutePath();
    if (QFileInfo(folder).isDir())
        return true;
    const QString music = musicFolder();
#ifdef _WIN32
    constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseInsensitive;
#else
    constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseSensitive;
#endif
    if (!music.isEmpty()
        && QDir::cleanPath(QDir(music).absolutePath()).compare(QDir::cleanPath(folder), kFileNameCase) == 0) {
        if (QDir().mkpath(folder))
            return true;
        prompter_.error(QStringLiteral("Cannot create the folder %1 for %2.")
                            .arg(QDir::toNativeSeparators(folder), output));
        return false;
    }
    prompter_.error(QStringLiteral("The folder %1 does not exist. Please choose another output file in Options.")
                        .arg(QDir::toNativeSeparators(folder)));
    return false;
}

std::string CMainDlg::locateMissingSource(const std::string &missing)
{
    QString name;
    fileNameOfPath(QString::fromStdString(missing), name);
    const QStringList chosen = prompter_.openFileNames(
        QStringLiteral("Where is %1?").arg(name), QString(),
        {{QStringLiteral("Any Files (*.*)"), QStringLiteral("*.*;")}});
    if (chosen.isEmpty())
        return {};
    const QString replacement = chosen.first();
    // The stand-in passes the same checks as a file the user adds, and it
    // must not be the file this join is about to write over.
    // The output was deleted when the user agreed to replace it, so the
    // names are compared as well as the files.
    const auto absolute = [](const QString &path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); };
    if (sameFile(replacement, output_.outputPath) || absolute(replacement) == absolute(output_.outputPath)) {
        prompter_.error(QStringLiteral("%1 is the output file and cannot stand in for %2.")
                            .arg(replacement, QString::fromStdString(missing)));
        return {};
    }
    ReferenceTime duration = 0;
    if (!probeDuration(replacement, duration)) {
        prompter_.error(QStringLiteral("Can not get the duration of %1").arg(replacement));
        return {};
    }
    return replacement.toStdString();
}

void CMainDlg::conversionStarted()
{
    converting_ = 1;
    elapsedSeconds_ = 0;
    button(ControlId::kJoin)->setText(QStringLiteral("Stop"));
    progress_->setValue(0);
    progress_->show();
    conversionTimer_.start();
}

editing::EventQueue::Notify CMainDlg::graphNotifier()
{
    // Runs on a streaming thread: only posts. The hook is cleared before
    // this window goes away.
    return [this] { QCoreApplication::postEvent(this, new QEvent(kGraphNotify)); };
}

bool CMainDlg::event(QEvent *e)
{
    if (e->type() == kGraphNotify) {
        OnGraphNotify();
        return true;
    }
    return QDialog::event(e);
}

int CMainDlg::progressPercent() const
{
    return progress_->value();
}

void CMainDlg::OnTimer()
{
    ++elapsedSeconds_;
    const int s = elapsedSeconds_;
    setStatusText(QString::asprintf("Please wait... Used Time: %02d:%02d:%02d", s / 3600, (s % 3600) / 60, s % 60));
    if (conversion_.mediaControl)
        progress_->setValue(static_cast<int>(conversion_.mediaControl->progress() * 100));
}

void CMainDlg::OnGraphNotify()
{
    editing::GraphEvent event;
    while (conversion_.mediaEvent && conversion_.mediaEvent->events().getEvent(event)) {
        const long code = event.code;
        const QString reason = QString::fromStdString(failureText(event.failure));
        conversion_.mediaEvent->events().freeEventParams(event);
        if (code == editing::EventCode::kComplete) {
            endConversion();
            progress_->setValue(100);
        } else if (code == editing::EventCode::kErrorAbort) {
            endConversionWithError(reason);
        }
    }
}

media::Result CMainDlg::endConversion()
{
    conversionTimer_.stop();
    const media::Result stopped = conversion_.release();
    button(ControlId::kJoin)->setText(QStringLiteral("Join"));
    // A stopped or failed run leaves no share of a file that will not come.
    progress_->setValue(0);
    converting_ = 0;
    elapsedSeconds_ = 0;
    setStatusText(QStringLiteral("Done. Output File: %1").arg(output_.outputPath));
    return stopped;
}

void CMainDlg::endConversionWithError(const QString &reason)
{
    endConversion();
    reportFailedJoin(reason);
}

void CMainDlg::reportFailedJoin(const QString &reason)
{
    setStatusText(QStringLiteral("The join failed. Output File: %1").arg(output_.outputPath));
    prompter_.error(QStringLiteral("The join stopped because of an error:\n%1").arg(reason));
}

} // namespace sonaweld
