#include "support/media_fixtures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace sonaweld::test;

namespace {

// The built program, started as a desktop starts it, with its own empty home
// so that what it saves can be read back and no user's settings are touched.
class ProgramProcess
{
public:
    QTemporaryDir home;
    QProcess app;

    ProgramProcess()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        app.setProcessEnvironment(env);
    }
    ~ProgramProcess()
    {
        if (app.state() == QProcess::NotRunning)
            return;
        app.terminate();
        if (!app.waitForFinished(5000)) {
            app.kill();
            app.waitForFinished();
        }
    }

    // Qt's own platform option comes first, as the real command line may
    // give it; the program must not take it for a file.
    void start(const QStringList &arguments)
    {
        app.start(QStringLiteral(SONAWELD_GUI_PATH), QStringList{"-platform", "offscreen"} + arguments);
    }

    QString savedSetting(const QString &key) const
    {
        const QString file = home.path() + "/.config/Quillory/Sonaweld.conf";
        if (!QFile::exists(file))
            return {};
        return QSettings(file, QSettings::IniFormat).value(key).toString();
    }
};

} // namespace

// The program as the README starts it: it opens its window and stays up.
TEST(Startup, TheApplicationStartsAndStaysUp)
{
    ProgramProcess program;
    program.start({});
    ASSERT_TRUE(program.app.waitForStarted(10000));
    EXPECT_FALSE(program.app.waitForFinished(2000)) << program.app.readAllStandardError().toStdString();
    EXPECT_EQ(program.app.state(), QProcess::Running);
}

// An option the program does not take is a mistake on a command line, not a
// file: the usage, status 2, and no window (which would keep it running).
TEST(Startup, AnUnknownOptionGivesTheUsageAndNoWindow)
{
    ProgramProcess program;
    program.start({"--frobnicate"});
    ASSERT_TRUE(program.app.waitForFinished(10000)) << "the window opened";
    EXPECT_EQ(program.app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.app.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(program.app.readAllStandardError());
    EXPECT_TRUE(err.contains("unknown option '--frobnicate'; usage: sonaweld [--] [FILE | FOLDER]...\n"))
        << err.toStdString();
    EXPECT_TRUE(program.app.readAllStandardOutput().isEmpty());
    EXPECT_FALSE(QFile::exists(program.home.path() + "/.config/Quillory/Sonaweld.conf"));
}

// Over SSH or in a script there is no display: the answers that need no
// window come without one, and the toolkit is never started (it would abort
// for want of a display).
TEST(Startup, HelpVersionAndAnUnknownOptionNeedNoDisplay)
{
    struct Case
    {
        QStringList arguments;
        int status;
        QString out;
        QString err;
    };
    const Case cases[] = {
        {{"--version"}, 0, "sonaweld 3.1.2.1\n", ""},
        {{"--help"}, 0, "usage: sonaweld [--] [FILE | FOLDER]...\n", ""},
        {{"-h"}, 0, "usage: sonaweld [--] [FILE | FOLDER]...\n", ""},
        {{"-style", "fusion", "--version"}, 0, "sonaweld 3.1.2.1\n", ""},
        {{"-x"}, 2, "", "sonaweld: unknown option '-x'; usage: sonaweld [--] [FILE | FOLDER]...\n"},
    };
    for (const Case &c : cases) {
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(SONAWELD_GUI_PATH), c.arguments);
        ASSERT_TRUE(app.waitForFinished(10000)) << c.arguments.join(' ').toStdString();
        const QString out = QString::fromLocal8Bit(app.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(app.readAllStandardError());
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << err.toStdString();
        EXPECT_EQ(app.exitCode(), c.status) << c.arguments.join(' ').toStdString() << ": " << err.toStdString();
        // The help goes on past its usage line.
        if (c.out.isEmpty())
            EXPECT_TRUE(out.isEmpty()) << out.toStdString();
        else
            EXPECT_TRUE(out.startsWith(c.out)) << out.toStdString();
        EXPECT_EQ(err, c.err);
    }
}

// "Open with" through main() itself: the real argument vector, with Qt's own
// options in it, reaches the list. The program saves the folder of the last
// file after a batch is added; a batch with a file it cannot read stops at a
// message box nobody answers, so nothing is saved then. That A/x.wav was
// opened and the batch still ended in B/ means both files joined the list.
TEST(Startup, FilesOnTheRealCommandLineAreAdded)
{
    MediaFixtures media;
    ASSERT_TRUE(QDir(media.dir()).mkpath("A"));
    ASSERT_TRUE(QDir(media.dir()).mkpath("B"));
    const QString first = media.constantWav("A/x.wav", 4410, 44100, 2, 1);
    const QString second = media.constantWav("B/y.wav", 4410, 44100, 2, 1);

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(media.path("A")).constData(), IN_OPEN), 0);

    ProgramProcess program;
    program.start({first, second});
    ASSERT_TRUE(program.app.waitForStarted(10000));

    bool firstOpened = false;
    QString saved;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000 && program.app.state() == QProcess::Running) {
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
            for (char *at = events; at < events + n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                if (event->len > 0 && QString::fromLocal8Bit(event->name) == "x.wav")
                    firstOpened = true;
                at += sizeof(inotify_event) + event->len;
            }
        }
        saved = program.savedSetting("Option/LastPhotoFolder");
        if (!saved.isEmpty() && firstOpened)
            break;
        QThread::msleep(50);
    }
    ::close(watch);
    const QString err = QString::fromLocal8Bit(program.app.readAllStandardError());
    EXPECT_EQ(program.app.state(), QProcess::Running) << err.toStdString();
    EXPECT_TRUE(firstOpened) << "A/x.wav was never read";
    EXPECT_EQ(saved.toStdString(), (media.path("B") + "/").toStdString()) << err.toStdString();
}
