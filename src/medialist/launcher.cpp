#include "medialist/launcher.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QUrl>

#ifdef Q_OS_WIN
#include <string>
#include <windows.h>
#endif

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
    // Started the way a program-launch call starts a command line: Qt would
    // quote the program, whose path has blanks, and the player takes the
    // rest of its command line as the file.
    std::wstring line = playerCommandLine(program, arguments.join(QLatin1Char(' '))).toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
#else
    QProcess::startDetached(program, arguments);
#endif
}

void SystemLauncher::openWithShell(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool SystemLauncher::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

Launcher &systemLauncher()
{
    static SystemLauncher launcher;
    return launcher;
}

QString playerCommandLine(const QString &player, const QString &file)
{
    return player + QLatin1Char(' ') + file;
}

QString windowsMediaPlayerPath(const QString &tempFolder)
{
    return tempFolder.left(3) + QStringLiteral("Program Files\\Windows Media Player\\mplayer2.exe");
}

} // namespace sonaweld
