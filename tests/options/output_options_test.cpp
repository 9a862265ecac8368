#include "app/dialog_units.h"
#include "app/main_dlg.h"
#include "app/settings_store.h"
#include "options/output_options_dlg.h"
#include "support/dialog_waits.h"
#include "support/media_fixtures.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

constexpr ReferenceTime kSecond = kUnitsPerSecond;

class OutputOptionsTest : public ::testing::Test
{
protected:
    TempSettings settings;
    ScriptedPrompter prompter;

    // Runs the Options command; `act` works the dialog while it is open, as
    // the user would, and must close it.
    void runOptions(CMainDlg &dlg, const std::function<void(COutputOptionsDlg &)> &act)
    {
        bool acted = false;
        QTimer::singleShot(0, [&] {
            // However the checks end, the dialog closes, or the test would wait on it.
            const auto closeDialog = qScopeGuard([] {
                if (QWidget *open = QApplication::activeModalWidget())
                    open->close();
            });
            auto *options = qobject_cast<COutputOptionsDlg *>(QApplication::activeModalWidget());
            ASSERT_NE(options, nullptr) << "the options dialog is not open";
            acted = true;
            act(*options);
            if (options->isVisible())
                options->reject();
        });
        dlg.OnOptions();
        EXPECT_TRUE(acted);
    }

    QVariant stored(const QString &section, const QString &key) { return settings.store().value(section + u'/' + key); }

    QString listText(COutputOptionsDlg &o, int id) { return o.list(id)->currentText(); }
};

} // namespace

TEST_F(OutputOptionsTest, OpensOnTheCurrentChoicesWithOkFocusedAndDefault)
{
    settings.set("Settings", "OutputName", "/music/mix.wav");
    CMainDlg dlg(prompter);
    dlg.outputSettings().sampleRateIndex = 2;
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        EXPECT_EQ(o.windowTitle(), "Output options");
        EXPECT_EQ(o.outputFile()->text(), "/music/mix.wav");
        EXPECT_EQ(listText(o, OptionsControlId::kSampleRate), "11025");
        EXPECT_EQ(listText(o, OptionsControlId::kChannels), "Stereo");
        EXPECT_EQ(listText(o, OptionsControlId::kBits), "16");
        EXPECT_TRUE(o.okButton()->isDefault());
        EXPECT_EQ(o.focusWidget(), o.okButton());
        // Tab order: OK, Cancel, file, Browse and the three lists.
        QStringList chain;
        QWidget *w = o.okButton();
        for (int i = 0; i < 7; ++i, w = w->nextInFocusChain()) {
            while (!(w->focusPolicy() & Qt::TabFocus))
                w = w->nextInFocusChain();
            chain << w->objectName();
        }
        EXPECT_EQ(chain, QStringList({"control1", "control2", "control1022", "control1024", "control1058",
                                      "control1059", "control1060"}));
        const DialogUnits units(o.font());
        EXPECT_EQ(o.size(), QSize(units.mapX(249), units.mapY(132)));
        EXPECT_EQ(o.outputFile()->geometry(), units.map(56, 7, 141, 14));
        EXPECT_EQ(o.okButton()->geometry(), units.map(52, 111, 50, 14));
        // The rows' order is what the indexes mean.
        QStringList rows;
        for (int i = 0; i < o.list(OptionsControlId::kSampleRate)->count(); ++i)
            rows << o.list(OptionsControlId::kSampleRate)->itemText(i);
        EXPECT_EQ(rows, QStringList({"44100", "22050", "11025", "8000"}));
        EXPECT_FALSE(o.list(OptionsControlId::kVideoCompressors)->isVisible());
        EXPECT_EQ(o.list(OptionsControlId::kVideoCompressors)->currentText(), "Full frames (uncompressed)");
        EXPECT_EQ(o.list(OptionsControlId::kAudioCompressors)->currentText(), "Uncompressed Audio");
        EXPECT_GT(o.list(OptionsControlId::kAudioCompressors)->count(), 3);
    });
    // A fresh start begins at 44100, stereo, 16 bits whatever ran before.
    CMainDlg fresh(prompter);
    runOptions(fresh, [&](COutputOptionsDlg &o) {
        EXPECT_EQ(listText(o, OptionsControlId::kSampleRate), "44100");
    });
}

TEST_F(OutputOptionsTest, OkStoresEveryValueAndCopiesBackTheFileAndFormat)
{
    settings.set("Settings", "OutputWidth", 100);
    settings.set("Settings", "OutputHigh", 10);
    settings.set("Settings", "OutputFrameRateIndex", 5);
    settings.set("Settings", "OutputFrameRate", "12.34567");
    CMainDlg dlg(prompter);
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.outputFile()->setText("/my take/song");
        o.list(OptionsControlId::kSampleRate)->setCurrentIndex(1);
        o.list(OptionsControlId::kChannels)->setCurrentIndex(1);
        o.list(OptionsControlId::kBits)->setCurrentIndex(1);
        o.okButton()->click();
    });
    const OutputSettings &s = dlg.outputSettings();
    // Typed by hand, the path stays as typed: no extension is forced.
    EXPECT_EQ(s.outputPath, "/my take/song");
    EXPECT_EQ(dlg.statusText(), "Output File: /my take/song");
    EXPECT_EQ(s.sampleRateIndex, 1);
    EXPECT_EQ(s.channelsIndex, 1);
    EXPECT_EQ(s.bitsIndex, 1);
    EXPECT_EQ(stored("Settings", "OutputName").toString(), "/my take/song");
    EXPECT_EQ(stored("Settings", "OutputWidth").toInt(), 96);
    EXPECT_EQ(stored("Settings", "OutputHigh").toInt(), 16);
    // Shown with three decimals, so that is what comes back.
    EXPECT_EQ(stored("Settings", "OutputFrameRate").toString(), "12.346000");
    EXPECT_EQ(stored("Settings", "OutputFrameRateIndex").toInt(), 5);
    EXPECT_EQ(stored("DexVideoCompress", "CompressorNumber").toInt(), -1);
    EXPECT_EQ(stored("DexAudioCompress", "CompressorNumber").toInt(), -1);
    // The window's own video values keep their start-up values.
    EXPECT_EQ(s.videoWidth, 100);
}

TEST_F(OutputOptionsTest, FixedRatesNegativeSidesAndAnEmptyPath)
{
    settings.set("Settings", "OutputWidth", -20);
    settings.set("Settings", "OutputFrameRateIndex", 3);
    CMainDlg dlg(prompter);
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.outputFile()->clear();
        o.okButton()->click();
    });
    EXPECT_EQ(dlg.outputSettings().outputPath, "");
    EXPECT_EQ(dlg.statusText(), "Output File: ");
    EXPECT_TRUE(settings.store().contains("Settings/OutputName"));
    EXPECT_EQ(stored("Settings", "OutputName").toString(), "");
    EXPECT_EQ(stored("Settings", "OutputWidth").toInt(), 16);
    EXPECT_EQ(stored("Settings", "OutputFrameRate").toString(), "29.970000");
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('\n').toStdString();
}

TEST_F(OutputOptionsTest, CancelEscAndRefusedValuesWriteNothing)
{
    settings.set("Settings", "OutputName", "/music/kept.wav");
    CMainDlg dlg(prompter);
    const QString status = dlg.statusText();
    // Browse changes only the box; Cancel drops it.
    prompter.saveResults.enqueue("/elsewhere/new.mp3");
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.findChild<QPushButton *>("control1024")->click();
        EXPECT_EQ(o.outputFile()->text(), "/elsewhere/new.wav");
        o.findChild<QPushButton *>("control2")->click();
    });
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.outputFile()->setText("/typed.wav");
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&o, &esc);
    });
    // A path longer than the platform allows is refused, not cut.
    const QString tooLong = "/" + QString(5000, QLatin1Char('x')) + ".wav";
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.outputFile()->setText(tooLong);
        o.okButton()->click();
        EXPECT_TRUE(o.isVisible()) << "the dialog closed on a path it cannot use";
    });
    // So is a short path whose file name no file system takes.
    const QString longName = "/music/" + QString(300, QLatin1Char('n')) + ".wav";
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.outputFile()->setText(longName);
        o.okButton()->click();
        EXPECT_TRUE(o.isVisible());
    });
    ASSERT_EQ(prompter.shown.size(), 2);
    EXPECT_TRUE(prompter.shown[0].text.contains(tooLong));
    EXPECT_TRUE(prompter.shown[1].text.contains(longName));
    EXPECT_EQ(dlg.outputSettings().outputPath, "/music/kept.wav");
    EXPECT_EQ(dlg.statusText(), status);
    EXPECT_EQ(stored("Settings", "OutputName").toString(), "/music/kept.wav");
    EXPECT_FALSE(settings.store().contains("DexVideoCompress/CompressorNumber"));
}

TEST_F(OutputOptionsTest, ATooSmallFrameRateKeepsTheDialogOpen)
{
    // Only a rate set in memory can be too small now: a stored one loads as
    // the default (below).
    CMainDlg dlg(prompter);
    dlg.outputSettings().frameRateIndex = 5;
    dlg.outputSettings().frameRate = 0.0004;
    const QWidget *optionsWindow = nullptr;
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        optionsWindow = &o;
        o.okButton()->click();
        o.okButton()->click();
        EXPECT_TRUE(o.isVisible());
    });
    ASSERT_EQ(prompter.shown.size(), 2);
    EXPECT_EQ(prompter.shown[0].text, "The frame rate is too small!");
    EXPECT_EQ(prompter.shown[0].caption, "Sonaweld");
    // Over the options dialog, not under it; the main window has its boxes
    // back afterwards.
    EXPECT_EQ(prompter.shown[0].owner, optionsWindow);
    EXPECT_EQ(prompter.owner, nullptr);
    EXPECT_FALSE(settings.store().contains("Settings/OutputName"));
}

TEST_F(OutputOptionsTest, AStoredFrameRateOkWouldRefuseNoLongerLocksTheDialog)
{
    // What OK writes afterwards: a rate the dialog shows as less than 0.001
    // falls back to row 0 and 23.976; one it accepts is kept as it is.
    struct Case
    {
        const char *stored;
        int index;
        const char *written;
    };
    const Case cases[] = {
        {"0", 0, "23.976000"},       {"0.0004", 0, "23.976000"}, {"-3", 0, "23.976000"},
        {"-0.0001", 0, "23.976000"}, {"none", 0, "23.976000"},   {"0.001", 5, "0.001000"},
        {"12.5", 5, "12.500000"},
    };
    for (const Case &c : cases) {
        TempSettings store;
        ScriptedPrompter seen;
        store.set("Settings", "OutputFrameRateIndex", 5);
        store.set("Settings", "OutputFrameRate", c.stored);
        CMainDlg dlg(seen);
        runOptions(dlg, [&](COutputOptionsDlg &o) {
            o.okButton()->click();
            EXPECT_FALSE(o.isVisible()) << c.stored;
        });
        EXPECT_TRUE(seen.shown.isEmpty()) << c.stored << ": " << seen.texts().join('\n').toStdString();
        EXPECT_EQ(store.store().value("Settings/OutputFrameRateIndex").toInt(), c.index) << c.stored;
        EXPECT_EQ(store.store().value("Settings/OutputFrameRate").toString(), c.written) << c.stored;
    }
}

TEST_F(OutputOptionsTest, EnterPressesTheFocusedButtonAndOkFromTheFileBox)
{
    settings.set("Settings", "OutputName", "/music/kept.wav");
    CMainDlg dlg(prompter);
    // Enter as the user presses it: on the control that has the focus.
    const auto enterOn = [](COutputOptionsDlg &o, const char *name) {
        auto *target = o.findChild<QWidget *>(name);
        ASSERT_NE(target, nullptr) << name;
        QApplication::setActiveWindow(&o);
        target->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(o.focusWidget(), target) << name;
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QApplication::processEvents();
    };
    // Cancel focused: nothing committed, not even what was typed.
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.outputFile()->setText("/typed.wav");
        enterOn(o, "control2");
        EXPECT_FALSE(o.isVisible());
        EXPECT_EQ(o.result(), QDialog::Rejected);
    });
    EXPECT_EQ(dlg.outputSettings().outputPath, "/music/kept.wav");
    EXPECT_FALSE(settings.store().contains("DexVideoCompress/CompressorNumber"));
    EXPECT_EQ(settings.store().value("Settings/OutputName").toString(), "/music/kept.wav");

    // Browse focused: the save dialog, and the options stay open; then
    // Enter in the file box is OK.
    prompter.saveResults.enqueue("/picked/new.mp3");
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        enterOn(o, "control1024");
        EXPECT_TRUE(o.isVisible()) << "Enter on Browse committed the dialog";
        EXPECT_EQ(o.outputFile()->text(), "/picked/new.wav");
        enterOn(o, "control1022");
        EXPECT_FALSE(o.isVisible());
        EXPECT_EQ(o.result(), QDialog::Accepted);
    });
    EXPECT_EQ(prompter.fileDialogs.size(), 1);
    EXPECT_EQ(dlg.outputSettings().outputPath, "/picked/new.wav");
    EXPECT_EQ(settings.store().value("Settings/OutputName").toString(), "/picked/new.wav");
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('\n').toStdString();

    // OK focused after the focus was on Cancel: OK it is.
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.outputFile()->setText("/typed/ok.wav");
        o.findChild<QWidget *>("control2")->setFocus();
        enterOn(o, "control1");
        EXPECT_FALSE(o.isVisible());
        EXPECT_EQ(o.result(), QDialog::Accepted);
    });
    EXPECT_EQ(dlg.outputSettings().outputPath, "/typed/ok.wav");
}

TEST_F(OutputOptionsTest, BrowseStartsInTheFolderTheDialogOpenedWith)
{
    settings.set("Settings", "OutputName", "/music/set one/a.wav");
    CMainDlg dlg(prompter);
    prompter.saveResults.enqueue("/other/b");
    prompter.saveResults.enqueue("");
    const QWidget *optionsWindow = nullptr;
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        optionsWindow = &o;
        auto *browse = o.findChild<QPushButton *>("control1024");
        browse->click();
        EXPECT_EQ(o.outputFile()->text(), "/other/b.wav");
        browse->click(); // cancelled: the box keeps the first choice
        EXPECT_EQ(o.outputFile()->text(), "/other/b.wav");
        o.okButton()->click();
    });
    ASSERT_EQ(prompter.fileDialogs.size(), 2);
    for (const auto &shown : prompter.fileDialogs) {
        EXPECT_EQ(shown.owner, optionsWindow);
        EXPECT_EQ(shown.title, "Select Output File Name");
        EXPECT_EQ(shown.folder, "/music/set one");
        ASSERT_FALSE(shown.filters.isEmpty());
        EXPECT_EQ(shown.filters[0].description, "WAV file");
        EXPECT_EQ(shown.filters[0].patterns, "*.wav");
        EXPECT_EQ(shown.openedOnFilter, 0);
    }
    EXPECT_EQ(dlg.outputSettings().outputPath, "/other/b.wav");
}

TEST_F(OutputOptionsTest, BrowseGivesTheNameTheExtensionOfTheChosenType)
{
    settings.set("Settings", "OutputName", "/music/a.wav");
    CMainDlg dlg(prompter);
    struct Case
    {
        int entry; // -1: cancelled
        QString returned;
        QString expected;
    };
    const Case cases[] = {
        {0, "/mix/a.mp3", "/mix/a.wav"},
        {2, "/mix/a", "/mix/a.mp3"},
        {6, "/books/book.wav", "/books/book.m4b"},
        {-1, "", "/books/book.m4b"},
        {1, "/my.music/a", "/my.music/a.flac"},
        {3, "/mix/a.b.OPUS", "/mix/a.b.opus"},
        {4, "/mix/a.ogg", "/mix/a.ogg"},
        {5, "/mix/a.m4b", "/mix/a.m4a"},
        // An entry the list does not have falls back to the first.
        {99, "/mix/a.flac", "/mix/a.wav"},
    };
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.returned.toStdString() + " on entry " + std::to_string(c.entry));
            prompter.saveResults.enqueue(c.returned);
            if (c.entry >= 0)
                prompter.saveFilterChoices.enqueue(c.entry);
            o.findChild<QPushButton *>("control1024")->click();
            EXPECT_EQ(o.outputFile()->text(), c.expected);
        }
        o.okButton()->click();
    });
    EXPECT_TRUE(prompter.saveFilterChoices.isEmpty());
    EXPECT_EQ(dlg.outputSettings().outputPath, "/mix/a.wav");

    // Every format, in the order the join knows them; each dialog opens on
    // the WAV file whatever was chosen the time before.
    const QStringList offered = {"WAV file|*.wav",      "FLAC file|*.flac",      "MP3 file|*.mp3",
                                 "Opus file|*.opus",    "Ogg Vorbis file|*.ogg", "M4A file|*.m4a",
                                 "M4B audiobook|*.m4b"};
    ASSERT_EQ(prompter.fileDialogs.size(), std::size(cases));
    for (const auto &shown : prompter.fileDialogs) {
        QStringList entries;
        for (const FileFilter &f : shown.filters)
            entries << f.description + u'|' + f.patterns;
        EXPECT_EQ(entries, offered);
        EXPECT_EQ(shown.openedOnFilter, 0);
    }
}

TEST(OutputOptionsPaths, TheExtensionIsLookedForInTheFileNameOnly)
{
    EXPECT_EQ(withExtension("D:\\Mix\\a.mp3", ".wav", PathStyle::Windows), "D:\\Mix\\a.wav");
    EXPECT_EQ(withExtension("D:\\Mix\\a", ".wav", PathStyle::Windows), "D:\\Mix\\a.wav");
    EXPECT_EQ(withExtension("D:\\My.Music\\a", ".wav", PathStyle::Windows), "D:\\My.Music\\a.wav");
    EXPECT_EQ(withExtension("D:/My.Music/a", ".wav", PathStyle::Windows), "D:/My.Music/a.wav");
    EXPECT_EQ(withExtension("/home/u/My.Music/a", ".wav", PathStyle::Posix), "/home/u/My.Music/a.wav");
    EXPECT_EQ(withExtension("/home/u/My.Music/a.b.flac", ".wav", PathStyle::Posix), "/home/u/My.Music/a.b.wav");
    // A backslash is part of a POSIX name.
    EXPECT_EQ(withExtension("/tmp/x.y\\z", ".wav", PathStyle::Posix), "/tmp/x.wav");
    EXPECT_EQ(withExtension("D:\\Books\\book.wav", ".m4b", PathStyle::Windows), "D:\\Books\\book.m4b");

    EXPECT_EQ(browseStartFolder("D:\\My.Music\\a", PathStyle::Windows), "D:\\My.Music");
    EXPECT_EQ(browseStartFolder("/home/u/My.Music/a", PathStyle::Posix), "/home/u/My.Music");
    EXPECT_EQ(browseStartFolder("mix.wav", PathStyle::Posix), ".");
    EXPECT_EQ(browseStartFolder("", PathStyle::Windows), ".");
}

TEST_F(OutputOptionsTest, AnEncoderListThatCannotBeMadeIsToldAndTheDialogStillOpens)
{
    for (const char *failing : {"Create.SystemDeviceEnum", "DevEnum.CreateClassEnumerator:Video"}) {
        prompter.shown.clear();
        const std::string target = failing;
        CMainDlg dlg(prompter, editing::MediaFactory([target](std::string_view op) {
            return op == target ? media::Code::kFail : 0;
        }));
        bool opened = false;
        runOptions(dlg, [&](COutputOptionsDlg &o) {
            opened = true;
            EXPECT_EQ(o.list(OptionsControlId::kVideoCompressors)->count(), 1) << failing;
            EXPECT_EQ(o.list(OptionsControlId::kVideoCompressors)->currentIndex(), 0);
            o.okButton()->click();
        });
        EXPECT_TRUE(opened);
        const QStringList expected = target == "Create.SystemDeviceEnum"
                                         ? QStringList{"Failed to create system enumerator",
                                                       "Failed to create system enumerator"}
                                         : QStringList{"Failed to create class enumerator"};
        EXPECT_EQ(prompter.texts(), expected) << failing;
        EXPECT_EQ(stored("DexVideoCompress", "CompressorNumber").toInt(), -1);
    }
}

class OptionsJoinTest : public OutputOptionsTest
{
protected:
    MediaFixtures media;

    bool waitForIdle(CMainDlg &dlg) { return waitUntilIdle(dlg); }
};

TEST_F(OptionsJoinTest, TheChosenFormatReachesTheWrittenFile)
{
    CMainDlg dlg(prompter);
    dlg.items().append(media.tone("a.flac", 2.0, 44100, 2), 2 * kSecond);
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.outputFile()->setText(media.path("small.wav"));
        o.list(OptionsControlId::kSampleRate)->setCurrentIndex(3);
        o.list(OptionsControlId::kChannels)->setCurrentIndex(1);
        o.list(OptionsControlId::kBits)->setCurrentIndex(1);
        o.okButton()->click();
    });
    dlg.OnJoin();
    ASSERT_TRUE(waitForIdle(dlg));
    QFile out(media.path("small.wav"));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray header = out.read(44);
    const auto le = [&](int at, int bytes) {
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | static_cast<std::uint8_t>(header[at + i]);
        return v;
    };
    EXPECT_EQ(le(22, 2), 1u);    // channels
    EXPECT_EQ(le(24, 4), 8000u); // samples per second
    EXPECT_EQ(le(28, 4), 8000u); // bytes per second
    EXPECT_EQ(le(32, 2), 1u);    // block align
    EXPECT_EQ(le(34, 2), 8u);    // bits
    EXPECT_EQ(readWav(media.path("small.wav")).frames(), 16000);
}

TEST_F(OptionsJoinTest, ChangingTheFileDuringAJoinDoesNotRedirectIt)
{
    CMainDlg dlg(prompter);
    dlg.outputSettings().outputPath = media.path("first.wav");
    dlg.items().append(media.tone("long.mp3", 120.0, 44100, 2, {"-b:a", "64k"}), 120 * kSecond);
    dlg.OnJoin();
    ASSERT_EQ(dlg.converting(), 1);
    runOptions(dlg, [&](COutputOptionsDlg &o) {
        o.outputFile()->setText(media.path("second.wav"));
        o.okButton()->click();
    });
    EXPECT_EQ(dlg.converting(), 1);
    ASSERT_TRUE(waitForIdle(dlg));
    EXPECT_TRUE(readWav(media.path("first.wav")).valid);
    EXPECT_FALSE(QFile::exists(media.path("second.wav")));
    EXPECT_EQ(dlg.statusText(), "Done. Output File: " + media.path("second.wav"));
}

// Points the home folder (and so the default Music folder) somewhere else
// for one test, whatever the machine's own folder settings say.
class HomeFolderScope
{
public:
    explicit HomeFolderScope(const QString &home)
        : home_(qgetenv("HOME"))
        , config_(qgetenv("XDG_CONFIG_HOME"))
        , hadConfig_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
    {
        qputenv("HOME", home.toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home + "/.config").toLocal8Bit());
    }
    ~HomeFolderScope()
    {
        qputenv("HOME", home_);
        if (hadConfig_)
            qputenv("XDG_CONFIG_HOME", config_);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }

private:
    QByteArray home_;
    QByteArray config_;
    bool hadConfig_;
};

TEST_F(OptionsJoinTest, JoinMakesTheMissingMusicFolderButNoOtherFolder)
{
    const HomeFolderScope home(media.dir());
    const QString music = musicFolder();
    CMainDlg dlg(prompter);
    dlg.items().append(media.constantWav("a.wav", 4410, 44100, 2, 5), kSecond / 10);

    const QString elsewhere = media.path("no such folder/out.wav");
    dlg.outputSettings().outputPath = elsewhere;
    dlg.OnJoin();
    EXPECT_EQ(dlg.converting(), 0);
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    EXPECT_TRUE(prompter.shown[0].text.contains(media.path("no such folder"))) << prompter.shown[0].text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(media.path("no such folder")));

    ASSERT_FALSE(music.isEmpty());
    ASSERT_TRUE(music.startsWith(media.dir())) << music.toStdString();
    ASSERT_FALSE(QFileInfo::exists(music));
    dlg.outputSettings().outputPath = QDir(music).filePath("sonaweld.wav");
    dlg.OnJoin();
    EXPECT_TRUE(waitForIdle(dlg));
    EXPECT_EQ(prompter.shown.size(), 1) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(readWav(QDir(music).filePath("sonaweld.wav")).frames(), 4410);
}

TEST_F(OutputOptionsTest, EveryControlSitsWhereTheTemplatePutsIt)
{
    const editing::MediaFactory factory;
    COutputOptionsDlg o(prompter, factory);
    const DialogUnits units(o.font());
    // A named control by its name, the others by what they say.
    auto find = [&](const QString &key) -> QWidget * {
        if (auto *named = o.findChild<QWidget *>(key))
            return named;
        for (auto *label : o.findChildren<QLabel *>())
            if (label->text() == key)
                return label;
        for (auto *group : o.findChildren<QGroupBox *>())
            if (group->title() == key)
                return group;
        return nullptr;
    };
    struct Placed
    {
        const char *key;
        int x, y, w, h;
    };
    const Placed placed[] = {
        {"control2", 147, 111, 50, 14},     {"control1024", 208, 7, 34, 14},
        {"control1023", 7, 10, 39, 10},     {"control1058", 134, 38, 62, 12},
        {"control1059", 134, 58, 62, 12},   {"control1060", 134, 78, 62, 12},
        {"Samples per second (Hz):", 16, 38, 106, 12}, {"Channels:", 16, 58, 106, 12},
        {"Bits per second:", 16, 78, 106, 12},          {"Wave format", 7, 26, 207, 72},
    };
    for (const Placed &p : placed) {
        QWidget *w = find(p.key);
        ASSERT_NE(w, nullptr) << p.key;
        EXPECT_EQ(w->geometry(), units.map(p.x, p.y, p.w, p.h)) << p.key;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            EXPECT_EQ(label->alignment(), Qt::AlignLeft | Qt::AlignVCenter) << p.key;
        }
    }
    EXPECT_EQ(qobject_cast<QLabel *>(find("control1023"))->text(), "Output file:");
    EXPECT_EQ(qobject_cast<QPushButton *>(find("control2"))->text(), "Cancel");
    EXPECT_EQ(qobject_cast<QPushButton *>(find("control1024"))->text(), "Browse");

    // A focused button takes the default role (see the Enter test); OK
    // holds it otherwise.
    EXPECT_TRUE(o.okButton()->isDefault());
    for (const char *each : {"control1", "control2", "control1024"})
        EXPECT_TRUE(o.findChild<QPushButton *>(each)->autoDefault()) << each;

    // The rows' order is what the stored indexes mean.
    const std::pair<int, QStringList> rows[] = {
        {OptionsControlId::kChannels, {"Stereo", "Mono"}},
        {OptionsControlId::kBits, {"16", "8"}},
    };
    for (const auto &[id, expected] : rows) {
        QStringList texts;
        for (int i = 0; i < o.list(id)->count(); ++i)
            texts << o.list(id)->itemText(i);
        EXPECT_EQ(texts, expected) << id;
    }
}
