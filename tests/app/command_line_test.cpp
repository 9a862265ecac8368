#include "app/early_answer.h"
#include "app/main_app.h"
#include "app/main_dlg.h"
#include "app/settings_store.h"
#include "medialist/item_list_view.h"
#include "support/media_fixtures.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

// Notes with every box whether the window it belongs to was on screen.
class WatchingPrompter : public ScriptedPrompter
{
public:
    QList<bool> ownerShown;

    Answer message(const QString &text, const QString &caption, MessageButtons buttons,
                   MessageIcon icon) override
    {
        ownerShown << (owner != nullptr && owner->isVisible());
        return ScriptedPrompter::message(text, caption, buttons, icon);
    }
};

class CommandLineTest : public ::testing::Test
{
protected:
    TempSettings settings;
    WatchingPrompter prompter;
    MediaFixtures media;

    // Starts the program as the desktop would with `arguments`, waits until
    // `ready` holds for its dialog (or 30 s), runs `check` on it and closes
    // it, which ends the program.
    void runProgram(const QStringList &arguments, const std::function<bool(CMainDlg &)> &ready,
                    const std::function<void(CMainDlg &)> &check)
    {
        bool checked = false;
        QElapsedTimer clock;
        clock.start();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QList<CMainDlg *> dialogs;
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *d = qobject_cast<CMainDlg *>(w))
                    dialogs << d;
            }
            if (dialogs.isEmpty() || !dialogs[0]->isVisible())
                return;
            if (!ready(*dialogs[0]) && clock.elapsed() < 30000)
                return;
            poll.stop();
            EXPECT_EQ(dialogs.size(), 1) << "the files must join the one dialog, not open another";
            check(*dialogs[0]);
            checked = true;
            dialogs[0]->close();
        });
        poll.start(20);
        EXPECT_EQ(CMainApp().InitInstance(prompter, QStringList{"sonaweld"} + arguments), 0);
        EXPECT_TRUE(checked) << "the dialog never showed";
    }

    static QStringList pathsInList(CMainDlg &dlg)
    {
        QStringList paths;
        for (int i = 0; i < dlg.items().itemCount(); ++i)
            paths << dlg.items().pathAt(i);
        return paths;
    }

    QString cannotOpen(const QString &path)
    {
        return "Cannot open " + path + ". You need to install appropriate decoders.\nOr the file is corrupt.";
    }
};

} // namespace

TEST(CommandLine, ArgumentsAreFilesMadeAbsoluteInTheirOrder)
{
    EXPECT_EQ(filesFromArguments({"/usr/bin/sonaweld", "b.mp3", "/music/a.wav", "../up.ogg", "", "Album/",
                                  "./x/../c d.flac"},
                                 "/home/me/music"),
              QStringList({"/home/me/music/b.mp3", "/music/a.wav", "/home/me/up.ogg", "/home/me/music/Album",
                           "/home/me/music/c d.flac"}));
    EXPECT_TRUE(filesFromArguments({"sonaweld"}, "/home/me").isEmpty());
    EXPECT_TRUE(filesFromArguments({}, "/home/me").isEmpty());
    // The first "--" ends the options and is no file; a second one is.
    EXPECT_EQ(filesFromArguments({"sonaweld", "a.wav", "--", "-b.wav", "--"}, "/m"),
              QStringList({"/m/a.wav", "/m/-b.wav", "/m/--"}));
}

TEST(CommandLine, AnOptionIsUnknownUnlessAFileHasItsNameOrItFollowsTheEndOfOptions)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("-take 1.wav"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString here = dir.path();
    EXPECT_EQ(unknownOption({"sonaweld", "a.wav", "--help", "-x"}, here), "--help");
    EXPECT_EQ(unknownOption({"sonaweld", "-take 1.wav", "-v"}, here), "-v");
    EXPECT_EQ(unknownOption({"sonaweld", "-take 1.wav", "-", "a.wav"}, here), "");
    EXPECT_EQ(unknownOption({"sonaweld", "--", "--help"}, here), "");
    EXPECT_EQ(unknownOption({"sonaweld"}, here), "");
}

TEST(CommandLine, TheToolkitsOptionsAreSkippedWithTheirValuesBeforeTheToolkitStarts)
{
    struct Case
    {
        QStringList arguments;
        QStringList own;
    };
    const Case cases[] = {
        {{"sonaweld", "-platform", "offscreen", "a.wav"}, {"sonaweld", "a.wav"}},
        {{"sonaweld", "--platform", "xcb", "-style=fusion", "-reverse", "b.wav"}, {"sonaweld", "b.wav"}},
        {{"sonaweld", "-display", ":1", "-name", "x", "-stylesheet", "s.qss"}, {"sonaweld"}},
        // A value is taken even when it looks like an option.
        {{"sonaweld", "-title", "--version"}, {"sonaweld"}},
        // After "--" nothing is the toolkit's.
        {{"sonaweld", "--", "-platform", "x"}, {"sonaweld", "--", "-platform", "x"}},
        {{"sonaweld", "-platformx", "-"}, {"sonaweld", "-platformx", "-"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(withoutToolkitOptions(c.arguments), c.own) << c.arguments.join(' ').toStdString();
}

TEST(CommandLine, HelpVersionAndUnknownOptionsAreAnsweredWithoutAWindow)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("-take 1.wav"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    struct Case
    {
        QStringList arguments;
        int status; // -1: the program starts
        const char *outStart;
        const char *err;
    };
    const char *usage = "usage: sonaweld [--] [FILE | FOLDER]...\n";
    const Case cases[] = {
        {{"--version"}, 0, "sonaweld 3.1.2.1\n", ""},
        {{"a.wav", "--help"}, 0, usage, ""},
        {{"-platform", "offscreen", "-h"}, 0, usage, ""},
        {{"--bogus"}, 2, "", "sonaweld: unknown option '--bogus'; usage: sonaweld [--] [FILE | FOLDER]...\n"},
        {{"-platform", "offscreen", "-take 1.wav", "a.wav"}, -1, "", ""},
        {{"--", "--version"}, -1, "", ""},
        {{}, -1, "", ""},
    };
    for (const Case &c : cases) {
        const std::optional<EarlyAnswer> answer = earlyAnswer(QStringList{"sonaweld"} + c.arguments, dir.path());
        const std::string which = c.arguments.join(' ').toStdString();
        if (c.status < 0) {
            EXPECT_FALSE(answer.has_value()) << which;
            continue;
        }
        ASSERT_TRUE(answer.has_value()) << which;
        EXPECT_EQ(answer->status, c.status) << which;
        if (*c.outStart == '\0')
            EXPECT_TRUE(answer->out.isEmpty()) << which << ": " << answer->out.toStdString();
        else
            EXPECT_TRUE(answer->out.startsWith(c.outStart)) << which << ": " << answer->out.toStdString();
        EXPECT_EQ(answer->err, c.err) << which;
    }
    // The help names the two options it answers.
    const QString help = earlyAnswer({"sonaweld", "--help"}, dir.path())->out;
    EXPECT_TRUE(help.contains("--version") && help.contains("--help")) << help.toStdString();
}

TEST_F(CommandLineTest, OpenWithTwoFilesStartsTheProgramWithBothInTheList)
{
    // Given in the order the desktop passes them, which is not name order.
    const QString second = media.constantWav("b second.wav", 88200, 44100, 2, 1);
    const QString first = media.constantWav("a first.wav", 22050, 44100, 2, 1);
    runProgram({second, first}, [](CMainDlg &dlg) { return dlg.items().itemCount() == 2; },
               [&](CMainDlg &dlg) {
                   EXPECT_EQ(pathsInList(dlg), QStringList({second, first}));
                   EXPECT_EQ(dlg.items().durationAt(0), 2 * kUnitsPerSecond);
                   EXPECT_EQ(dlg.items().durationAt(1), kUnitsPerSecond / 2);
                   ASSERT_EQ(dlg.itemList()->rowCount(), 2);
                   EXPECT_EQ(dlg.itemList()->item(0, 0)->text(), "b second.wav");
                   EXPECT_EQ(dlg.itemList()->item(0, 1)->text(), "2");
               });
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(settings.store().value("Option/LastPhotoFolder").toString(), media.dir() + "/");
}

TEST_F(CommandLineTest, FilesThatCannotBeReadGetTheMessagesAddGives)
{
    const QString bad = media.textFile("broken.mp3", "not audio at all\n");
    runProgram({bad}, [&](CMainDlg &) { return prompter.shown.size() >= 2; },
               [](CMainDlg &dlg) { EXPECT_EQ(dlg.items().itemCount(), 0); });
    EXPECT_EQ(prompter.texts(), QStringList({cannotOpen(bad), "Can not get the duration of the clip!"}));
    // Shown over the dialog, which was already on screen.
    EXPECT_EQ(prompter.ownerShown, QList<bool>({true, true}));

    prompter.shown.clear();
    prompter.ownerShown.clear();
    const QString good = media.constantWav("good.wav", 4410, 44100, 2, 1);
    runProgram({bad, good}, [](CMainDlg &dlg) { return dlg.items().itemCount() == 1; },
               [&](CMainDlg &dlg) { EXPECT_EQ(pathsInList(dlg), QStringList({good})); });
    EXPECT_EQ(prompter.texts(), QStringList({cannotOpen(bad), "Can not get the duration of " + bad}));
}

TEST_F(CommandLineTest, AFolderStandsForTheMediaFilesInside)
{
    const QDir album(media.path("Album"));
    ASSERT_TRUE(album.mkpath("."));
    media.constantWav("Album/10.wav", 4410, 44100, 2, 1);
    media.constantWav("Album/9.wav", 4410, 44100, 2, 1);
    media.textFile("Album/info.txt", "x");
    const QString single = media.constantWav("single.wav", 4410, 44100, 2, 1);
    runProgram({single, album.path()}, [](CMainDlg &dlg) { return dlg.items().itemCount() == 3; },
               [&](CMainDlg &dlg) {
                   EXPECT_EQ(pathsInList(dlg),
                             QStringList({single, album.filePath("9.wav"), album.filePath("10.wav")}));
               });
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join('\n').toStdString();
}
