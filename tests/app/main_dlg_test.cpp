#include "app/about_dlg.h"
#include "app/dialog_units.h"
#include "app/main_dlg.h"
#include "app/settings_store.h"
#include "medialist/item_list_view.h"
#include "support/recording_launcher.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"
#include "ui/image_button.h"

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTimer>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

class MainDlgTest : public ::testing::Test
{
protected:
    TempSettings settings;
    ScriptedPrompter prompter;

    void pressKey(QWidget *target, int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QApplication::processEvents();
    }
};

struct ButtonExpectation
{
    int id;
    const char *caption;
    const char *tooltip;
    int x, y, w, h;
    bool icon;
};

} // namespace

TEST_F(MainDlgTest, ControlsCarryTheirCaptionsTooltipsIconsAndGeometry)
{
    CMainDlg dlg(prompter);
    const ButtonExpectation expected[] = {
        {1006, "Add", "Add audio or video files to list", 9, 5, 46, 32, true},
        {1003, "Options", "Customize output options", 59, 5, 46, 32, true},
        {1000, "Join", "Join the files to wav", 109, 5, 46, 32, true},
        {57670, "&Help", "Help", 160, 5, 46, 32, true},
        {1, "Exit", "Exit", 210, 5, 46, 32, true},
        {1031, "", "Move item up", 232, 44, 24, 16, true},
        {1032, "", "Move item down", 232, 71, 24, 16, true},
        {1029, "", "Delete selected item", 232, 98, 24, 16, true},
        {1030, "", "Delete all items", 232, 125, 24, 16, true},
        {1047, "Homepage", "Homepage", 95, 149, 42, 16, false},
        {1042, "About", "About", 180, 149, 42, 16, false},
    };
    const DialogUnits units(dlg.font());
    ASSERT_GT(units.baseX(), 0);
    for (const auto &e : expected) {
        CImageButton *b = dlg.button(e.id);
        ASSERT_NE(b, nullptr) << e.id;
        EXPECT_EQ(b->text(), e.caption) << e.id;
        EXPECT_EQ(b->toolTip(), e.tooltip) << e.id;
        EXPECT_EQ(!b->icon().isNull(), e.icon) << e.id;
        EXPECT_EQ(b->geometry(), units.map(e.x, e.y, e.w, e.h)) << e.id;
    }
    // Captioned icon buttons put the icon above the caption.
    EXPECT_EQ(dlg.button(1006)->align(), CImageButton::IconAboveCaption);
    EXPECT_FALSE(dlg.button(1006)->icon().isNull());
    EXPECT_TRUE(dlg.button(1031)->text().isEmpty());
    EXPECT_FALSE(dlg.button(1031)->icon().isNull());

    EXPECT_EQ(dlg.windowTitle(), "Sonaweld");
    EXPECT_FALSE(dlg.windowIcon().isNull());
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_EQ(dlg.itemList()->geometry(), units.map(7, 44, 219, 99));
}

TEST_F(MainDlgTest, DialogUnitsFollowThePlatformRule)
{
    const DialogUnits units(dialogTemplateFont());
    // x·base/4 and y·base/8, rounded.
    EXPECT_EQ(units.mapX(4), units.baseX());
    EXPECT_EQ(units.mapY(8), units.baseY());
    EXPECT_EQ(units.mapX(46), (46 * units.baseX() + 2) / 4);
    EXPECT_EQ(units.mapY(99), (99 * units.baseY() + 4) / 8);
}

TEST_F(MainDlgTest, TabOrderAndInitialFocus)
{
    CMainDlg dlg(prompter);
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), dlg.button(ControlId::kHelp));

    const int order[] = {ControlId::kHelp,   ControlId::kJoin,     ControlId::kOptions,
                         ControlId::kAdd,    ControlId::kListItems, ControlId::kDelete,
                         ControlId::kDeleteAll, ControlId::kMoveUp, ControlId::kMoveDown,
                         ControlId::kAbout,  ControlId::kHomepage, ControlId::kOk};
    QWidget *w = dlg.button(ControlId::kHelp);
    for (size_t i = 1; i < std::size(order); ++i) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !w->isVisible() || w->parentWidget() != &dlg)
            w = w->nextInFocusChain();
        EXPECT_EQ(w->objectName(), QStringLiteral("control%1").arg(order[i])) << i;
    }
}

TEST_F(MainDlgTest, StatusLineShowsTheOutputFileAfterStart)
{
    CMainDlg fresh(prompter);
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    ASSERT_FALSE(music.isEmpty());
    EXPECT_EQ(fresh.statusText(), "Output File: " + QDir::toNativeSeparators(music) + "/sonaweld.wav");

    settings.set("Settings", "OutputName", "/srv/joined.wav");
    settings.set("Settings", "OutputWidth", 720);
    CMainDlg stored(prompter);
    EXPECT_EQ(stored.statusText(), "Output File: /srv/joined.wav");
    EXPECT_EQ(stored.outputSettings().videoWidth, 720);
    EXPECT_EQ(stored.outputSettings().videoHeight, 240);
    EXPECT_TRUE(prompter.shown.isEmpty());
}

TEST_F(MainDlgTest, FrameRateIndexAtStart)
{
    settings.set("Settings", "OutputFrameRateIndex", 7);
    {
        CMainDlg dlg(prompter);
        EXPECT_EQ(dlg.outputSettings().frameRateIndex, 0);
        EXPECT_DOUBLE_EQ(dlg.outputSettings().frameRate, 23.976);
    }
    settings.set("Settings", "OutputFrameRateIndex", -1);
    {
        CMainDlg dlg(prompter);
        EXPECT_EQ(dlg.outputSettings().frameRateIndex, 0);
        EXPECT_DOUBLE_EQ(dlg.outputSettings().frameRate, 23.976);
    }
    settings.set("Settings", "OutputFrameRateIndex", 5);
    {
        CMainDlg dlg(prompter);
        EXPECT_EQ(dlg.outputSettings().frameRateIndex, 5);
        EXPECT_DOUBLE_EQ(dlg.outputSettings().frameRate, 23.976);
    }
    settings.set("Settings", "OutputFrameRate", "12.5");
    {
        CMainDlg dlg(prompter);
        EXPECT_DOUBLE_EQ(dlg.outputSettings().frameRate, 12.5);
    }
}

TEST_F(MainDlgTest, CloseIsRefusedWhileConvertingAndAcceptedAfter)
{
    CMainDlg dlg(prompter);
    dlg.show();
    dlg.setConverting(true);

    EXPECT_FALSE(dlg.close());
    EXPECT_TRUE(dlg.isVisible());
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].text, "Please first stop Convert");
    EXPECT_TRUE(prompter.shown[0].appBox);
    EXPECT_EQ(prompter.shown[0].caption, "Sonaweld");
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Exclamation);

    // The Exit button posts the request; the guard answers it.
    dlg.button(ControlId::kOk)->click();
    QApplication::processEvents();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(prompter.shown.size(), 2);

    dlg.setConverting(false);
    dlg.button(ControlId::kOk)->click();
    QApplication::processEvents();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(prompter.shown.size(), 2);
}

TEST_F(MainDlgTest, EnterInTheListAndEscTakeTheClosePath)
{
    CMainDlg dlg(prompter);
    dlg.show();
    dlg.setConverting(true);

    pressKey(dlg.itemList(), Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    pressKey(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(prompter.texts(),
              QStringList({"Please first stop Convert", "Please first stop Convert"}));

    dlg.setConverting(false);
    pressKey(dlg.itemList(), Qt::Key_Enter);
    EXPECT_FALSE(dlg.isVisible());

    CMainDlg second(prompter);
    second.show();
    pressKey(&second, Qt::Key_Escape);
    EXPECT_FALSE(second.isVisible());
}

TEST_F(MainDlgTest, EnterOnAFocusedButtonPressesThatButton)
{
    // Two items, none selected: what Enter on each focused button leads to.
    struct Case
    {
        int id;
        QStringList launches;
        QStringList shown;
        int itemsAfter;
        int fileDialogs = 0;
        bool openAfter = true;
    };
    const QString selectItems = "Please select items!";
    const Case cases[] = {
        {ControlId::kHomepage, {"url https://www.quillory.com/"}, {}, 2},
        {ControlId::kDelete, {}, {selectItems}, 2},
        {ControlId::kMoveDown, {}, {selectItems}, 2},
        {ControlId::kMoveUp, {}, {selectItems}, 2},
        {ControlId::kDeleteAll, {}, {}, 0},
        {ControlId::kAdd, {}, {}, 2, 1},
        {ControlId::kOk, {}, {}, 2, 0, false},
    };
    for (const Case &c : cases) {
        ScriptedPrompter seen;
        RecordingLauncher launcher;
        CMainDlg dlg(seen);
        dlg.setLauncher(&launcher);
        dlg.items().append("/music/a.wav", kUnitsPerSecond);
        dlg.items().append("/music/b.wav", kUnitsPerSecond);
        dlg.refreshItemList();
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        dlg.button(c.id)->setFocus();
        pressKey(dlg.button(c.id), Qt::Key_Return);
        EXPECT_EQ(launcher.launches, c.launches) << c.id;
        EXPECT_EQ(seen.texts(), c.shown) << c.id;
        EXPECT_EQ(dlg.items().itemCount(), c.itemsAfter) << c.id;
        EXPECT_EQ(seen.fileDialogs.size(), c.fileDialogs) << c.id;
        EXPECT_EQ(dlg.isVisible(), c.openAfter) << c.id << (c.openAfter ? ": Enter went to Exit" : ": Exit stayed open");
    }
}

TEST_F(MainDlgTest, EnterOnTheFocusedAboutButtonOpensTheBoxWhoseOkEnterCloses)
{
    CMainDlg dlg(prompter);
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    bool opened = false;
    QTimer::singleShot(0, [&] {
        const auto closeBox = qScopeGuard([] {
            if (QWidget *open = QApplication::activeModalWidget())
                open->close();
        });
        auto *about = qobject_cast<CAboutDlg *>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr) << "Enter did not open the About box";
        opened = true;
        QWidget *ok = about->findChild<QPushButton *>("control1");
        ASSERT_NE(ok, nullptr);
        ok->setFocus();
        pressKey(ok, Qt::Key_Return);
        EXPECT_FALSE(about->isVisible());
        EXPECT_EQ(about->result(), QDialog::Accepted);
    });
    dlg.button(ControlId::kAbout)->setFocus();
    pressKey(dlg.button(ControlId::kAbout), Qt::Key_Return);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(MainDlgTest, ClosingOffersTheProductPageWithoutAnOwnerAndRenewsTheTimeEitherWay)
{
    constexpr std::int64_t kNow = 1'780'000'000; // 2026-05-28
    constexpr std::int64_t kLongAgo = kNow - 181 * 86400;
    struct Case
    {
        Answer answer;
        QStringList launches;
    };
    const Case cases[] = {
        {Answer::Yes, {"url https://www.quillory.com/sonaweld/"}},
        {Answer::No, {}},
    };
    for (const Case &c : cases) {
        TempSettings store;
        store.set("Setup", "t_first_update", static_cast<int>(kLongAgo));
        ScriptedPrompter seen;
        RecordingLauncher launcher;
        CMainDlg dlg(seen);
        dlg.setLauncher(&launcher);
        dlg.setClock([] { return kNow; });
        // The window's boxes belong to it until it closes.
        seen.owner = &dlg;
        seen.answers.enqueue(c.answer);
        dlg.show();
        dlg.button(ControlId::kOk)->click();
        QApplication::processEvents();
        EXPECT_FALSE(dlg.isVisible());
        ASSERT_EQ(seen.shown.size(), 1);
        EXPECT_EQ(seen.shown[0].caption, "Update the program");
        EXPECT_EQ(seen.shown[0].text, "Do you want to check the lastest version on our website?");
        EXPECT_EQ(seen.shown[0].buttons, MessageButtons::YesNo);
        EXPECT_EQ(seen.shown[0].icon, MessageIcon::None);
        EXPECT_FALSE(seen.shown[0].appBox);
        EXPECT_EQ(seen.shown[0].owner, nullptr) << "the prompt belongs to no window";
        EXPECT_EQ(launcher.launches, c.launches);
        EXPECT_EQ(store.store().value("Setup/t_first_update").toLongLong(), kNow);
    }
}

TEST_F(MainDlgTest, GroupBoxDoesNotSwallowButtonClicks)
{
    CMainDlg dlg(prompter);
    dlg.show();
    CImageButton *add = dlg.button(ControlId::kAdd);
    QWidget *hit = dlg.childAt(add->geometry().center());
    ASSERT_NE(hit, nullptr);
    EXPECT_TRUE(hit == add || add->isAncestorOf(hit));
}

TEST_F(MainDlgTest, StatusLineProgressAndFrameSitWhereTheTemplatePutsThem)
{
    CMainDlg dlg(prompter);
    dlg.show();
    const DialogUnits units(dlg.font());

    auto *status = dlg.findChild<QLabel *>(QStringLiteral("control%1").arg(ControlId::kStatus));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->geometry(), units.map(7, 169, 251, 10));
    EXPECT_EQ(status->frameStyle(), QFrame::Panel | QFrame::Sunken);

    // Hidden until a join reports progress; never a tab stop.
    auto *progress = dlg.findChild<QProgressBar *>();
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->geometry(), units.map(7, 180, 251, 3));
    EXPECT_FALSE(progress->isVisible());
    EXPECT_FALSE(progress->isTextVisible());
    EXPECT_EQ(progress->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);

    auto *frame = dlg.findChild<QGroupBox *>();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->geometry(), units.map(7, 0, 251, 39));
    EXPECT_EQ(frame->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainDlgTest, EachListCommandButtonRunsItsCommand)
{
    // Two items, none selected: what a click on each button leads to.
    struct Case
    {
        int id;
        QStringList shown;
        int fileDialogs;
        int itemsAfter;
    };
    const QString selectItems = "Please select items!";
    const Case cases[] = {
        {ControlId::kDelete, {selectItems}, 0, 2},
        {ControlId::kMoveUp, {selectItems}, 0, 2},
        {ControlId::kMoveDown, {selectItems}, 0, 2},
        {ControlId::kDeleteAll, {}, 0, 0},
        {ControlId::kAdd, {}, 1, 2}, // the file dialog, cancelled
    };
    for (const Case &c : cases) {
        ScriptedPrompter seen;
        CMainDlg dlg(seen);
        dlg.items().append("/music/a.wav", kUnitsPerSecond);
        dlg.items().append("/music/b.wav", kUnitsPerSecond);
        dlg.refreshItemList();
        dlg.button(c.id)->click();
        EXPECT_EQ(seen.texts(), c.shown) << c.id;
        EXPECT_EQ(seen.fileDialogs.size(), c.fileDialogs) << c.id;
        EXPECT_EQ(dlg.items().itemCount(), c.itemsAfter) << c.id;
    }
    // Join checks the list before anything else.
    CMainDlg empty(prompter);
    empty.button(ControlId::kJoin)->click();
    EXPECT_EQ(prompter.texts(), QStringList({"Please add audio or video files into the list"}));
}
