#include "app/about_dlg.h"
#include "app/help.h"
#include "app/main_dlg.h"
#include "app/settings_store.h"
#include "app/update_prompt.h"
#include "app/web_links.h"
#include "medialist/launcher.h"
#include "support/recording_launcher.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"
#include "ui/image_button.h"
#include "ui/link_label.h"
#include "ui/resource_icons.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QMouseEvent>
#include <QTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

constexpr std::int64_t kNow = 1'780'000'000; // 2026-05-28

class UpdatePromptTest : public ::testing::Test
{
protected:
    TempSettings settings;
    ScriptedPrompter prompter;
    RecordingLauncher launcher;

    void storeFirstUpdate(std::int64_t seconds) { settings.set("Setup", "t_first_update", static_cast<int>(seconds)); }
    std::int64_t storedFirstUpdate() { return settings.store().value("Setup/t_first_update").toLongLong(); }
    void close(std::int64_t now) { showUpdatePrompt(prompter, launcher, "https://example.org/p", now); }
};

} // namespace

TEST_F(UpdatePromptTest, TheFirstCloseOnlyStartsThePeriod)
{
    close(kNow);
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_EQ(storedFirstUpdate(), kNow);
}

TEST_F(UpdatePromptTest, OffersOnlyOnceMoreThan180DaysHavePassed)
{
    storeFirstUpdate(kNow - kUpdatePromptInterval);
    close(kNow);
    EXPECT_TRUE(prompter.shown.isEmpty()) << "exactly 180 days is not more than 180 days";
    EXPECT_EQ(storedFirstUpdate(), kNow - kUpdatePromptInterval);

    storeFirstUpdate(kNow - kUpdatePromptInterval - 1);
    prompter.answers.enqueue(Answer::No);
    close(kNow);
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].caption, "Update the program");
    EXPECT_EQ(prompter.shown[0].text, "Do you want to check the lastest version on our website?");
    EXPECT_EQ(prompter.shown[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(launcher.launches.isEmpty());
    // No still starts the next period.
    EXPECT_EQ(storedFirstUpdate(), kNow);
    close(kNow + 1);
    EXPECT_EQ(prompter.shown.size(), 1);
}

TEST_F(UpdatePromptTest, AFutureTimeWaitsUntilItIs180DaysOld)
{
    const std::int64_t future = kNow + 1000;
    storeFirstUpdate(future);
    close(kNow);
    close(future + kUpdatePromptInterval);
    EXPECT_TRUE(prompter.shown.isEmpty());
    prompter.answers.enqueue(Answer::Yes);
    close(future + kUpdatePromptInterval + 1);
    EXPECT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(launcher.launches, QStringList({"url https://example.org/p"}));
}

TEST_F(UpdatePromptTest, ABrowserThatCannotStartIsToldAndThePeriodStillRenews)
{
    storeFirstUpdate(kNow - kUpdatePromptInterval - 100);
    launcher.browserStarts = false;
    prompter.answers.enqueue(Answer::Yes);
    close(kNow);
    ASSERT_EQ(prompter.shown.size(), 2);
    EXPECT_EQ(prompter.shown[1].caption, "unknown errors");
    EXPECT_TRUE(prompter.shown[1].text.startsWith("The Program does not launch your web browser to access "));
    EXPECT_TRUE(prompter.shown[1].text.endsWith(" ,\nPlease launch your web browser and input the URL manually."));
    EXPECT_EQ(storedFirstUpdate(), kNow);
}

TEST_F(UpdatePromptTest, StoredTimesCountAsUnsignedUntil2106)
{
    // Seconds since 1970 as the stored 32 bits hold them.
    constexpr std::int64_t k2038 = 0x80000000LL; // 2038-01-19 03:14:08
    constexpr std::int64_t k2106 = 0xFFFFFFFFLL; // 2106-02-07 06:28:15
    struct Case
    {
        std::optional<std::int64_t> stored; // nothing: no value yet
        std::int64_t now;
        bool prompted;
    };
    const Case cases[] = {
        // The first close only starts the period, on either side of 2038.
        {std::nullopt, k2038 - 10, false},
        {std::nullopt, k2038 + 10, false},
        {std::nullopt, k2106 - 10, false},
        // Across the 2038 boundary 20 seconds are 20 seconds.
        {k2038 - 10, k2038 + 10, false},
        {k2038 + 5, k2038 + 5 + kUpdatePromptInterval, false},
        {k2038 + 5, k2038 + 6 + kUpdatePromptInterval, true},
        {k2106 - kUpdatePromptInterval, k2106, false},
        {k2106 - kUpdatePromptInterval - 1, k2106, true},
    };
    for (const Case &c : cases) {
        TempSettings store;
        ScriptedPrompter seen;
        if (c.stored)
            store.set("Setup", "t_first_update", static_cast<int>(static_cast<std::uint32_t>(*c.stored)));
        seen.answers.enqueue(Answer::No);
        showUpdatePrompt(seen, launcher, "https://example.org/p", c.now);
        const std::string which = std::to_string(c.stored.value_or(-1)) + " at " + std::to_string(c.now);
        EXPECT_EQ(seen.shown.size(), c.prompted ? 1 : 0) << which;
        // The same 32 bits as always, read unsigned.
        const auto written = static_cast<std::uint32_t>(store.store().value("Setup/t_first_update").toInt());
        const std::int64_t expected = !c.stored || c.prompted ? c.now : *c.stored;
        EXPECT_EQ(written, static_cast<std::uint32_t>(expected)) << which;
        // A second close at once never prompts.
        showUpdatePrompt(seen, launcher, "https://example.org/p", c.now);
        EXPECT_EQ(seen.shown.size(), c.prompted ? 1 : 0) << which;
    }
}

TEST(Help, TheViewerCommandLineHasOneBlankAndNoQuotes)
{
    EXPECT_EQ(helpCommandLine("C:\\Program Files\\Sonaweld\\"),
              "hh.exe C:\\Program Files\\Sonaweld\\help.chm::/Introduction.htm");
    EXPECT_EQ(helpCommandLine(""), "hh.exe help.chm::/Introduction.htm");
}

TEST(Help, PagesAreFoundBesideTheProgramOrWhereItIsInstalled)
{
    QTemporaryDir root;
    const QDir dir(root.path());
    dir.mkpath("bin");
    EXPECT_EQ(helpIntroductionPage(dir.filePath("bin")), "");
    dir.mkpath("share/sonaweld/help");
    QFile(dir.filePath("share/sonaweld/help/Introduction.htm")).open(QIODevice::WriteOnly);
    EXPECT_EQ(helpIntroductionPage(dir.filePath("bin")), dir.filePath("share/sonaweld/help/Introduction.htm"));
    dir.mkpath("bin/help");
    QFile(dir.filePath("bin/help/Introduction.htm")).open(QIODevice::WriteOnly);
    EXPECT_EQ(helpIntroductionPage(dir.filePath("bin")), dir.filePath("bin/help/Introduction.htm"));
}

TEST(Help, EveryPageLinkedFromTheHelpExists)
{
    const QDir help(QStringLiteral(SONAWELD_HELP_DIR));
    ASSERT_TRUE(help.exists("Introduction.htm"));
    const QRegularExpression link(QStringLiteral("href=\"([^\"#:]+)\""));
    int links = 0;
    for (const QString &page : help.entryList({"*.htm"})) {
        QFile file(help.filePath(page));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        for (auto it = link.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            ++links;
            EXPECT_TRUE(help.exists(target)) << page.toStdString() << " links to missing " << target.toStdString();
        }
    }
    EXPECT_GT(links, 10);
}

TEST(Help, HelpF1AndHomepageOpenTheirPages)
{
    TempSettings settings;
    ScriptedPrompter prompter;
    RecordingLauncher launcher;
    CMainDlg dlg(prompter);
    dlg.setLauncher(&launcher);
    dlg.button(ControlId::kHelp)->click();
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &f1);
    QKeyEvent shiftF1(QEvent::KeyPress, Qt::Key_F1, Qt::ShiftModifier);
    QApplication::sendEvent(&dlg, &shiftF1);
    dlg.button(ControlId::kHomepage)->click();
#ifdef _WIN32
    const QString help = "run " + helpCommandLine(QDir::toNativeSeparators(QApplication::applicationDirPath()) + "\\");
#else
    const QString help = "url " + QUrl::fromLocalFile(QDir(QApplication::applicationDirPath()).filePath("help/Introduction.htm")).toString();
#endif
    ASSERT_EQ(launcher.launches.size(), 3) << launcher.launches.join('\n').toStdString();
    EXPECT_EQ(launcher.launches[0], help);
    EXPECT_EQ(launcher.launches[1], help);
    EXPECT_TRUE(launcher.launches[2].startsWith("url https://")) << launcher.launches[2].toStdString();
    EXPECT_TRUE(prompter.shown.isEmpty());
}

TEST(AboutBox, ShowsTheVersionAndTheTwoUnderlinedLinks)
{
    TempSettings settings;
    ScriptedPrompter prompter;
    CMainDlg dlg(prompter);
    bool shown = false;
    QTimer::singleShot(0, [&] {
        // However the checks end, the box closes, or the test would wait on it.
        const auto closeBox = qScopeGuard([] {
            if (QWidget *open = QApplication::activeModalWidget())
                open->close();
        });
        auto *about = qobject_cast<CAboutDlg *>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        shown = true;
        EXPECT_EQ(about->windowTitle(), "About Sonaweld");
        QStringList texts;
        for (const QLabel *label : about->findChildren<QLabel *>())
            texts << label->text();
        EXPECT_TRUE(texts.contains("Sonaweld Version 3.1.2.1")) << texts.join('|').toStdString();
        CLinkLabel *home = about->link(AboutControlId::kLinkHome);
        CLinkLabel *support = about->link(AboutControlId::kLinkSupport);
        ASSERT_TRUE(home && support);
        EXPECT_EQ(home->url(), WebLinks::kHomePage);
        EXPECT_EQ(support->url(), WebLinks::kContactPage);
        EXPECT_EQ(support->text(), "Support Email: Click here");
        EXPECT_EQ(home->underlineMode(), 1);
        EXPECT_TRUE(home->font().underline());
        EXPECT_TRUE(support->font().underline());
        auto *ok = about->findChild<QPushButton *>("control1");
        ASSERT_NE(ok, nullptr);
        EXPECT_TRUE(ok->isDefault());
        // A click opens the contact page.
        RecordingLinkShell shell;
        support->setShell(&shell);
        const QPointF at(3, support->height() / 2);
        QMouseEvent press(QEvent::MouseButtonPress, at, support->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(support, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, support->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(support, &release);
        EXPECT_EQ(shell.opened, QStringList({WebLinks::kContactPage}));
        support->setShell(nullptr);
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(about, &esc);
    });
    dlg.button(ControlId::kAbout)->click();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(prompter.shown.isEmpty());
}

TEST(Resources, EveryIconCursorAndTheHoverSoundLoad)
{
    for (int id : {IconId::kMainFrame, IconId::kAdd, IconId::kOptions, IconId::kHelp, IconId::kMoveUp,
                   IconId::kMoveDown, IconId::kDelete, IconId::kDeleteAll, IconId::kExit, IconId::kJoin}) {
        const QImage image = iconForResource(id).pixmap(32, 32).toImage();
        ASSERT_FALSE(image.isNull()) << id;
        // Drawn, not blank: some pixels are opaque.
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) > 200;
        EXPECT_GT(opaque, 50) << id;
        // Sharp at twice the size as well.
        EXPECT_EQ(iconForResource(id).pixmap(64, 64).width(), 64) << id;
    }
    EXPECT_TRUE(iconForResource(12345).isNull());
    EXPECT_FALSE(cursorForResource(kHandCursorId).pixmap().isNull());

    QFile sound(":" + soundForResource(kHoverSoundId).path());
    ASSERT_TRUE(sound.open(QIODevice::ReadOnly)) << soundForResource(kHoverSoundId).toString().toStdString();
    const QByteArray wav = sound.readAll();
    EXPECT_TRUE(wav.startsWith("RIFF") && wav.mid(8, 4) == "WAVE");
    EXPECT_GT(wav.size(), 500);
}

TEST(Launches, OneThatReachesTheSystemFailsTheTest)
{
    // What test programs put in place of the system's launcher and link
    // shell: a window given no stand-in fails its test instead of starting
    // the user's browser.
    EXPECT_NONFATAL_FAILURE(systemLauncher().openUrl(QUrl("https://example.org/")), "a real browser");
    EXPECT_NONFATAL_FAILURE(systemLauncher().startCommandLine("player song.mp3", "player"), "a real program");
    EXPECT_NONFATAL_FAILURE(systemLinkShell().open("https://example.org/"), "a real browser");
    TempSettings settings;
    ScriptedPrompter prompter;
    CMainDlg dlg(prompter);
    EXPECT_NONFATAL_FAILURE(dlg.button(ControlId::kHomepage)->click(), "https://www.quillory.com/");
}
