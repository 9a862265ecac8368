#include "app/main_app.h"

#include "app/main_dlg.h"
#include "app/prompter.h"
#include "app/qt_prompter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMetaObject>

#include <cstdio>

namespace sonaweld {

QStringList filesFromArguments(const QStringList &arguments, const QString &currentFolder)
{
    QStringList files;
    const QDir current(currentFolder);
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].isEmpty())
            continue;
        if (arguments[i] == QStringLiteral("--") && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        files << QDir::toNativeSeparators(QDir::cleanPath(current.absoluteFilePath(arguments[i])));
    }
    return files;
}

QString unknownOption(const QStringList &arguments, const QString &currentFolder)
{
    const QDir current(currentFolder);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QStringLiteral("--"))
            return {};
        // A lone "-" is a file name to most programs; here it is no option.
        if (argument.size() > 1 && argument.startsWith(u'-') && !QFileInfo::exists(current.absoluteFilePath(argument)))
            return argument;
    }
    return {};
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
    if (const QString option = unknownOption(arguments); !option.isEmpty()) {
        std::fprintf(stderr, "sonaweld: unknown option '%s'; %s\n", option.toLocal8Bit().constData(), kUsage);
        return 2;
    }
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
