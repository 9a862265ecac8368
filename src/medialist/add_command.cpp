// The Add command of the main dialog: choose files, measure them, append them.
#include "app/main_dlg.h"

#include "app/paths.h"
#include "app/prompter.h"
#include "app/settings_store.h"
#include "compose/failure_text.h"
#include "medialist/media_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QProgressDialog>
#include <QUrl>

#include <thread>

namespace sonaweld {
namespace {

// Measuring that takes longer than this shows a progress window.
constexpr int kProgressDelayMs = 500;

// Until the progress window appears the dialog would take clicks and keys;
// while files are being measured it must not start another command.
class InputBlocker : public QObject
{
public:
    explicit InputBlocker(QWidget *window)
        : window_(window)
    {
        qApp->installEventFilter(this);
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    }
    ~InputBlocker() override
    {
        QGuiApplication::restoreOverrideCursor();
        qApp->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || (widget != window_ && !window_->isAncestorOf(widget)))
            return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Drop:
            return true;
        case QEvent::Close:
            event->ignore();
            return true;
        default:
            return false;
        }
    }

private:
    QWidget *window_;
};

} // namespace

bool CMainDlg::probeDuration(const QString &path, ReferenceTime &duration, const Measurement *measured)
{
    const Measurement m = measured ? *measured : measureFile(factory_, path);
    if (m.step == MeasureStep::CannotRender && m.result.code == media::Code::kNoAudio) {
        // Our own refusals know the reason (no sound track, a pipe, an empty
        // file); advice about decoders would send the user the wrong way.
        prompter_.error(QStringLiteral("Cannot open %1.\n%2.").arg(path, QString::fromStdString(failureText(m.result))));
    } else if (m.step == MeasureStep::CannotRender && m.result.code != media::Code::kAbort) {
        prompter_.error(QStringLiteral("Cannot open %1. You need to install appropriate decoders.\n"
                                       "Or the file is corrupt.")
                            .arg(path));
    }
    if (m.step != MeasureStep::Measured)
        return false;
    duration = m.duration;
    return true;
}

std::vector<Measurement> CMainDlg::measureOffThread(const QStringList &paths, bool &cancelled)
{
    std::atomic<bool> cancel{false};
    std::vector<Measurement> results;
    const InputBlocker blocker(this);
    QEventLoop loop;
    QProgressDialog progress(QStringLiteral("Measuring the files..."), QStringLiteral("Cancel"), 0,
                             static_cast<int>(paths.size()), this);
    progress.setWindowTitle(kApplicationName);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(kProgressDelayMs);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setValue(0);
    connect(&progress, &QProgressDialog::canceled, &loop, [&] { cancel = true; });

    std::thread worker([&] {
        results = measureFiles(factory_, paths, &cancel, [&](int count) {
            QMetaObject::invokeMethod(&progress, [&progress, &paths, count] {
                progress.setLabelText(QStringLiteral("Measuring file %1 of %2...").arg(count).arg(paths.size()));
                progress.setValue(count);
            }, Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    // Progress updates still queued refer to the dialog about to go away.
    QCoreApplication::removePostedEvents(&progress);
    cancelled = cancel.load();
    return results;
}

void CMainDlg::OnAdd()
{
    const QString folder = SettingsStore::getProfileString(SettingsKeys::kOption,
                                                           SettingsKeys::kLastPhotoFolder, QString());
    const QStringList paths = prompter_.openFileNames(QStringLiteral("Select Media Files..."), folder,
                                                      mediaFileFilters());
    if (paths.isEmpty())
        return;
    addFiles(paths, paths.size() > 1);
}

std::optional<QStringList> CMainDlg::pathsThatFit(const QStringList &chosen, bool several)
{
    // A path the platform cannot hold is refused whole, never cut, and at
    // once: the user hears of it before a long selection is measured.
    QStringList paths;
    for (const QString &path : chosen) {
        if (pathFits(path)) {
            paths << path;
            continue;
        }
        prompter_.error(pathTooLongMessage(path));
        if (!several)
            return std::nullopt;
    }
    return paths;
}

bool CMainDlg::measureBatch(const QStringList &batch, bool several, QStringList &accepted,
                            std::vector<ReferenceTime> &durations)
{
    bool cancelled = false;
    const std::vector<Measurement> measured = measureOffThread(batch, cancelled);
    if (cancelled)
        return false;
    for (int i = 0; i < batch.size(); ++i) {
        const QString &path = batch[i];
        ReferenceTime duration = 0;
        if (!probeDuration(path, duration, &measured[static_cast<size_t>(i)])) {
            if (several) {
                prompter_.error(QStringLiteral("Can not get the duration of %1").arg(path));
                continue;
            }
            prompter_.error(QStringLiteral("Can not get the duration of the clip!"));
            return false;
        }
        accepted << path;
        durations.push_back(duration);
    }
    return true;
}

void CMainDlg::addFiles(const QStringList &chosen, bool several)
{
    const std::optional<QStringList> paths = pathsThatFit(chosen, several);
    if (!paths)
        return;

    // Only as many files are measured as the list has room for: a folder of
    // thousands would otherwise be read in full to be mostly refused. A file
    // that cannot be measured leaves its place to the next one.
    QStringList accepted;
    std::vector<ReferenceTime> durations;
    qsizetype next = 0;
    while (next < paths->size() && items_.itemCount() + accepted.size() < kMaxItems) {
        const QStringList batch = paths->mid(next, kMaxItems - items_.itemCount() - accepted.size());
        next += batch.size();
        if (!measureBatch(batch, several, accepted, durations))
            return;
    }

    int notAdded = static_cast<int>(paths->size() - next);
    for (int i = 0; i < accepted.size(); ++i) {
        if (!items_.append(accepted[i], durations[static_cast<size_t>(i)]))
            ++notAdded;
    }
    if (notAdded > 0) {
        prompter_.appMessage(
            QStringLiteral("%1 of the chosen files were not added: the list holds at most %2 files.")
                .arg(notAdded)
                .arg(kMaxItems));
        if (!several)
            return;
    }
    refreshItemList();
    if (items_.itemCount() > 0) {
        SettingsStore::writeProfileString(SettingsKeys::kOption, SettingsKeys::kLastPhotoFolder,
                                          folderOfPath(items_.pathAt(items_.itemCount() - 1)));
    }
}

void CMainDlg::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls()) {
        for (const QUrl &url : event->mimeData()->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
}

QStringList CMainDlg::expandFolders(const QStringList &paths)
{
    QStringList files;
    for (const QString &path : paths) {
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        if (!folderCanBeListed(path)) {
            prompter_.error(QStringLiteral("The folder %1 cannot be read.").arg(path));
            continue;
        }
        const QStringList inside = mediaFilesInFolder(path);
        if (inside.isEmpty())
            prompter_.appMessage(QStringLiteral("There are no media files in %1.").arg(path));
        files << inside;
    }
    return files;
}

void CMainDlg::addCommandLineFiles(const QStringList &paths)
{
    const QStringList files = expandFolders(paths);
    if (!files.isEmpty())
        addFiles(files, files.size() > 1);
}

void CMainDlg::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << QDir::toNativeSeparators(url.toLocalFile());
    }
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    const QStringList files = expandFolders(paths);
    // A drop is treated as a choice of several files, whatever their number:
    // a failure is reported by name.
    if (!files.isEmpty())
        addFiles(files, true);
}

} // namespace sonaweld
