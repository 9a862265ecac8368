#include "app/main_app.h"

#include "app/main_dlg.h"
#include "app/prompter.h"
#include "app/qt_prompter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMetaObject>

namespace sonaweld {

QStringList filesFromArguments(const QStringList &arguments, const QString &currentFolder)
{
    QStringList files;
    const QDir current(currentFolder);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].isEmpty())
            continue;
        files << QDir::toNativeSeparators(QDir::cleanPath(current.absoluteFilePath(arguments[i])));
    }
    return files;
}

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quillory"));
    // Set before the first window exists: that is when X11 takes it as the
    // window class.
    QCoreApplication::setApplicationName(QStringLiteral("Sonaweld"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quillory.Sonaweld"));
}

int CMainApp::InitInstance()
{
    QtPrompter prompter;
    return InitInstance(prompter, QCoreApplication::arguments());
}

int CMainApp::InitInstance(Prompter &prompter, const QStringList &arguments)
{
    setApplicationIdentity();
    CMainDlg dialog(prompter);
    const PrompterOwnerScope owner(prompter, &dialog);
    const QStringList files = filesFromArguments(arguments);
    // Queued, so the files are measured in the shown dialog, under its
    // progress window, and their messages belong to it.
    if (!files.isEmpty())
        QMetaObject::invokeMethod(&dialog, [&dialog, files] { dialog.addCommandLineFiles(files); },
                                  Qt::QueuedConnection);
    dialog.exec();
    return 0;
}

} // namespace sonaweld
