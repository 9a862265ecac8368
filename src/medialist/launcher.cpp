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

void SystemLauncher::startCommandLine(const QString &commandLine, const QString &program)
{
#ifdef Q_OS_WIN
    // The line goes to the system as it is: Qt would quote a program whose
    // path has blanks, and the programs started here take the rest of the
    // line as their file.
    std::wstring line = commandLine.toStdWString();
    const std::wstring application = QDir::toNativeSeparators(program).toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(program.isEmpty() ? nullptr : application.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                       nullptr, nullptr, &startup, &started)) {
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
#else
    // No system call takes a whole line here: the named program gets the
    // rest of the line as its one argument, blanks and all.
    const QString prefix = program + QLatin1Char(' ');
    if (!program.isEmpty() && commandLine.startsWith(prefix)) {
        QProcess::startDetached(program, {commandLine.mid(prefix.size())});
        return;
    }
    QStringList words = QProcess::splitCommand(commandLine);
    if (!words.isEmpty()) {
        const QString first = words.takeFirst();
        QProcess::startDetached(first, words);
    }
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

namespace {

Launcher *standInLauncher = nullptr;

} // namespace

Launcher &systemLauncher()
{
    static SystemLauncher launcher;
    return standInLauncher ? *standInLauncher : launcher;
}

void replaceSystemLauncher(Launcher *standIn)
{
    standInLauncher = standIn;
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
