#pragma once

#include "medialist/launcher.h"
#include "ui/link_label.h"

#include <QStringList>

namespace sonaweld::test {

// Records what would have been started, as the command line or address the
// user's system would have seen: "run LINE", "run LINE as PROGRAM",
// "open PATH", "url ADDRESS".
class RecordingLauncher : public Launcher
{
public:
    QString player;
    bool browserStarts = true;
    QStringList launches;

    QString playerPath() const override { return player; }
    void startCommandLine(const QString &commandLine, const QString &program) override;
    void openWithShell(const QString &path) override { launches << "open " + path; }
    bool openUrl(const QUrl &url) override;
};

// Records the addresses a link label opens and its beeps.
class RecordingLinkShell : public LinkShell
{
public:
    int result = ShellResult::kOpened;
    QStringList opened;
    int beeps = 0;

    int open(const QString &address) override
    {
        opened << address;
        return result;
    }
    void beep() override { ++beeps; }
};

// Stands in for the system's launcher and link shell for a whole test
// program: anything that reaches them fails the running test, since it
// would have started a real player or browser.
void refuseSystemLaunches();

} // namespace sonaweld::test
