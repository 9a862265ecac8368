#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace sonaweld {

// How the platform opens a file for listening. The double click on the item
// list goes through this seam, so tests record the launches instead of
// starting players.
class Launcher
{
public:
    virtual ~Launcher() = default;

    // The dedicated player the platform offers; empty when there is none.
    virtual QString playerPath() const = 0;
    // Starts a whole command line, as the platform's program-launch call
    // does, and does not wait: nothing in it is quoted for the caller.
    // `program`, when given, is the file to run: the line's first word is
    // then not looked for, so a program path with blanks cannot start
    // another program ("C:\Program.exe" for "C:\Program Files\...").
    // Empty: the system finds the program the line starts with.
    virtual void startCommandLine(const QString &commandLine, const QString &program) = 0;
    // The shell's "open" on `path`: the application associated with its type.
    virtual void openWithShell(const QString &path) = 0;
    // The shell's "open" on an address: the user's browser for a web page.
    // False when nothing could be started.
    virtual bool openUrl(const QUrl &url) = 0;
};

// Launches for real. Failures are not reported: the user sees whether a
// player came up.
class SystemLauncher : public Launcher
{
public:
    QString playerPath() const override;
    void startCommandLine(const QString &commandLine, const QString &program) override;
    void openWithShell(const QString &path) override;
    bool openUrl(const QUrl &url) override;
};

// The launcher used when none was set: the system's own, unless a stand-in
// has taken its place for the whole process.
Launcher &systemLauncher();
// Puts `standIn` in the system launcher's place; nullptr restores the
// system's own. Test programs do this first, so that no test starts a real
// player or browser through a window that was given no launcher.
void replaceSystemLauncher(Launcher *standIn);

// What a dedicated player is started with: its path, one blank and the
// file, neither quoted. The player takes the rest of its command line as
// the file, blanks and all.
QString playerCommandLine(const QString &player, const QString &file);

// Windows Media Player on the drive of the temporary-files folder:
// "C:\Users\me\Temp\" gives "C:\Program Files\Windows Media Player\mplayer2.exe".
QString windowsMediaPlayerPath(const QString &tempFolder);

} // namespace sonaweld
