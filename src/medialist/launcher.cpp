#include "medialist/launcher.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QUrl>

namespace sonaweld {

QString SystemLauncher::playerPath() const
{
#ifdef Q_OS_WIN
    return windowsMediaPlayerPath(QDir::toNativeSeparators(QDir::tempPath()));
#else
    // No Windows Media Player here; the caller falls back to the shell.
    return QString();
#endif
}

void SystemLauncher::startDetached(const QString &program, const QStringList &arguments)
{
#ifdef Q_OS_WIN
    // The player takes the rest of its command line as the file, blanks and
    // all; Qt's own quoting would hand it a quoted path instead.
    QProcess process;
    process.setProgram(program);
    process.setNativeArguments(arguments.join(QLatin1Char(' ')));
    process.startDetached();
#else
    QProcess::startDetached(program, arguments);
#endif
}

void SystemLauncher::openWithShell(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

Launcher &systemLauncher()
{
    static SystemLauncher launcher;
    return launcher;
}

QString windowsMediaPlayerPath(const QString &tempFolder)
{
    return tempFolder.left(3) + QStringLiteral("Program Files\\Windows Media Player\\mplayer2.exe");
}

} // namespace sonaweld
