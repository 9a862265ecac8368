#include "support/recording_launcher.h"

#include <gtest/gtest.h>

namespace sonaweld::test {

void RecordingLauncher::startCommandLine(const QString &commandLine, const QString &program)
{
    launches << (program.isEmpty() ? "run " + commandLine : "run " + commandLine + " as " + program);
}

bool RecordingLauncher::openUrl(const QUrl &url)
{
    launches << "url " + url.toString();
    return browserStarts;
}

namespace {

class RefusingLauncher : public Launcher
{
public:
    QString playerPath() const override { return QString(); }
    void startCommandLine(const QString &commandLine, const QString &) override
    {
        ADD_FAILURE() << "a test started a real program: " << commandLine.toStdString();
    }
    void openWithShell(const QString &path) override
    {
        ADD_FAILURE() << "a test opened a file with the real shell: " << path.toStdString();
    }
    bool openUrl(const QUrl &url) override
    {
        ADD_FAILURE() << "a test opened a real browser: " << url.toString().toStdString();
        return false;
    }
};

class RefusingLinkShell : public LinkShell
{
public:
    int open(const QString &address) override
    {
        ADD_FAILURE() << "a link opened a real browser: " << address.toStdString();
        return ShellResult::kNoAssociation;
    }
    void beep() override {}
};

} // namespace

void refuseSystemLaunches()
{
    static RefusingLauncher launcher;
    static RefusingLinkShell shell;
    replaceSystemLauncher(&launcher);
    replaceSystemLinkShell(&shell);
}

} // namespace sonaweld::test
