#include "app/main_dlg.h"
#include "support/dialog_waits.h"
#include "support/join_tool.h"
#include "support/media_fixtures.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"
#include "ui/image_button.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

constexpr ReferenceTime kSecond = kUnitsPerSecond;

class RunControlTest : public ::testing::Test
{
protected:
    TempSettings settings;
    ScriptedPrompter prompter;
    MediaFixtures media;
    CMainDlg dlg{prompter};

    void SetUp() override { dlg.outputSettings().outputPath = media.path("joined.wav"); }

    QString joinCaption() { return dlg.button(ControlId::kJoin)->text(); }
    QString output() { return dlg.outputSettings().outputPath; }

    // Lets queued graph events arrive until the join ends.
    bool waitForIdle(int ms = 60000) { return waitUntilIdle(dlg, ms); }

    void seedDecoderValue()
    {
        QSettings decoder(QSettings::IniFormat, QSettings::UserScope, "DivXNetworks", "DivX4Windows");
        decoder.setValue("Disable feedback", 0);
        decoder.sync();
    }
    int decoderValue()
    {
        QSettings decoder(QSettings::IniFormat, QSettings::UserScope, "DivXNetworks", "DivX4Windows");
        return decoder.value("Disable feedback").toInt();
    }
};

} // namespace

TEST_F(RunControlTest, AWholeJoinCompletes)
{
    dlg.items().append(media.tone("a.mp3", 1.0, 44100, 2, {"-b:a", "128k"}), kSecond);
    dlg.items().append(media.constantWav("b.wav", 11025, 22050, 1, 700), kSecond / 2);
    dlg.items().append(media.tone("c.flac", 0.25, 96000, 2), kSecond / 4);
    dlg.OnJoin();
    EXPECT_EQ(dlg.converting(), 1);
    EXPECT_EQ(joinCaption(), "Stop");
    EXPECT_TRUE(dlg.conversionTimerActive());

    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(dlg.statusText(), "Done. Output File: " + output());
    EXPECT_EQ(joinCaption(), "Join");
    EXPECT_FALSE(dlg.conversionTimerActive());
    EXPECT_EQ(dlg.progressPercent(), 100);
    const WavContents w = readWav(output());
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_EQ(w.frames(), 44100 + 22050 + 11025);
    EXPECT_EQ(w.sample(44100 + 100, 1), 700);

    // A notification that comes after the end finds nothing to do.
    QApplication::postEvent(&dlg, new QEvent(CMainDlg::kGraphNotify));
    QApplication::processEvents();
    EXPECT_EQ(dlg.statusText(), "Done. Output File: " + output());
}

TEST_F(RunControlTest, StopOneTickIn)
{
    dlg.items().append(media.tone("long.mp3", 120.0, 44100, 2, {"-b:a", "64k"}), 120 * kSecond);
    dlg.OnJoin();
    ASSERT_EQ(dlg.converting(), 1);
    dlg.OnTimer();
    EXPECT_EQ(dlg.statusText(), "Please wait... Used Time: 00:00:01");

    QElapsedTimer timer;
    timer.start();
    dlg.OnJoin(); // the button reads Stop
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(dlg.converting(), 0);
    EXPECT_EQ(joinCaption(), "Join");
    EXPECT_EQ(dlg.statusText(), "Done. Output File: " + output());
    const WavContents w = readWav(output());
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_LT(w.frames(), 120 * 44100);

    // The next run's clock starts again from one second.
    prompter.answers.enqueue(Answer::Yes);
    dlg.OnJoin();
    ASSERT_EQ(dlg.converting(), 1);
    dlg.OnTimer();
    EXPECT_EQ(dlg.statusText(), "Please wait... Used Time: 00:00:01");
    dlg.OnJoin();
}

TEST_F(RunControlTest, ExistingOutputAnsweredNoStaysUntouched)
{
    seedDecoderValue();
    dlg.items().append(media.constantWav("a.wav", 441, 44100, 2, 1), kSecond / 100);
    QFile old(output());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the user's old file");
    old.close();

    prompter.answers.enqueue(Answer::No);
    dlg.OnJoin();
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].text, output() + " exists. Do you want to replace it?");
    EXPECT_EQ(prompter.shown[0].caption, "Warning");
    EXPECT_EQ(prompter.shown[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(dlg.converting(), 0);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "the user's old file");
    EXPECT_EQ(decoderValue(), 0); // no registry access
}

TEST_F(RunControlTest, ExistingOutputAnsweredYesIsReplaced)
{
    seedDecoderValue();
    dlg.items().append(media.constantWav("a.wav", 441, 44100, 2, 1), kSecond / 100);
    QFile old(output());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'x'));
    old.close();

    prompter.answers.enqueue(Answer::Yes);
    dlg.OnJoin();
    EXPECT_EQ(decoderValue(), 1);
    ASSERT_TRUE(waitForIdle());
    const WavContents w = readWav(output());
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.fileSize, 44u + 441u * 4u + w.trailer);
}

TEST_F(RunControlTest, EmptyListIsRefusedBeforeAnythingElse)
{
    seedDecoderValue();
    QFile(output()).open(QIODevice::WriteOnly);
    dlg.OnJoin();
    EXPECT_EQ(prompter.texts(), QStringList({"Please add audio or video files into the list"}));
    EXPECT_TRUE(prompter.shown[0].appBox);
    EXPECT_EQ(decoderValue(), 0);
    EXPECT_EQ(dlg.converting(), 0);
}

TEST_F(RunControlTest, AnOutputThatIsAlsoASourceIsRefused)
{
    const QString source = media.constantWav("source.wav", 4410, 44100, 2, 9);
    dlg.items().append(source, kSecond / 10);
    dlg.outputSettings().outputPath = media.dir() + "/./source.wav";
    dlg.OnJoin();
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_TRUE(prompter.shown[0].text.contains(dlg.outputSettings().outputPath));
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    EXPECT_EQ(dlg.converting(), 0);
    EXPECT_EQ(readWav(source).frames(), 4410);
}

TEST_F(RunControlTest, AnErrorAbortEndsTheRunWithAnErrorBox)
{
    const QString vanishing = media.constantWav("vanishing.wav", 4410, 44100, 2, 9);
    dlg.items().append(media.constantWav("ok.wav", 4410, 44100, 2, 9), kSecond / 10);
    dlg.items().append(vanishing, kSecond / 10);
    QFile::remove(vanishing);

    dlg.OnJoin();
    // The missing source is offered for replacement; nobody picks one.
    ASSERT_EQ(prompter.fileDialogs.size(), 1);
    EXPECT_EQ(prompter.fileDialogs[0].title, "Where is vanishing.wav?");
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    EXPECT_TRUE(prompter.shown[0].text.contains(vanishing)) << prompter.shown[0].text.toStdString();
    EXPECT_FALSE(dlg.statusText().startsWith("Done."));
    EXPECT_EQ(joinCaption(), "Join");
    EXPECT_FALSE(dlg.conversionTimerActive());
}

TEST_F(RunControlTest, ASourceCutAfterItWasMeasuredFailsTheJoinNamingIt)
{
    const QString first = media.tone("first.flac", 5.0, 44100, 2);
    const QString cut = media.tone("cut.wav", 20.0, 44100, 2);
    dlg.items().append(first, 5 * kSecond);
    dlg.items().append(cut, 20 * kSecond);
    // As an interrupted copy or a replaced file leaves it: 8 of 20 seconds.
    QFile file(cut);
    ASSERT_TRUE(file.resize(44 + 8 * 44100 * 4));

    dlg.OnJoin();
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(prompter.shown.size(), 1) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    EXPECT_TRUE(prompter.shown[0].text.contains(cut)) << prompter.shown[0].text.toStdString();
    EXPECT_TRUE(prompter.shown[0].text.contains("early")) << prompter.shown[0].text.toStdString();
    EXPECT_EQ(dlg.statusText(), "The join failed. Output File: " + output());
    EXPECT_EQ(joinCaption(), "Join");
    // What was written stays a valid file, and none of it is invented.
    const WavContents w = readWav(output());
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_LE(w.frames(), (5 + 8) * 44100);
    EXPECT_EQ(w.fileSize, 44 + w.data.size() + w.trailer);
}

TEST_F(RunControlTest, StopWithAnEmptiedListIsRefusedAndTheJoinGoesOn)
{
    dlg.items().append(media.tone("long.mp3", 60.0, 44100, 2, {"-b:a", "64k"}), 60 * kSecond);
    dlg.OnJoin();
    ASSERT_EQ(dlg.converting(), 1);
    dlg.items().clear();
    dlg.OnJoin();
    EXPECT_EQ(prompter.texts(), QStringList({"Please add audio or video files into the list"}));
    EXPECT_EQ(dlg.converting(), 1);
    dlg.items().append("/x.wav", kSecond);
    dlg.OnJoin();
    EXPECT_EQ(dlg.converting(), 0);
}

TEST_F(RunControlTest, ElapsedTimeCountsTicks)
{
    for (int i = 0; i < 3725; ++i)
        dlg.OnTimer();
    EXPECT_EQ(dlg.statusText(), "Please wait... Used Time: 01:02:05");
    for (int i = 3725; i < 360000; ++i)
        dlg.OnTimer();
    EXPECT_EQ(dlg.statusText(), "Please wait... Used Time: 100:00:00");
}

// The window and the command line make one plan from the same list and
// settings, so they write the same bytes: a long MP3 that two workers cut
// into pieces, and short files of other rates and formats around it.
TEST_F(RunControlTest, TheWindowAndTheCommandLineWriteTheSameFile)
{
    const QStringList files{media.tone("long.mp3", 75.0, 44100, 2, {"-b:a", "128k"}),
                            media.constantWav("b.wav", 11025, 22050, 1, 700),
                            media.tone("c.flac", 1.5, 96000, 2), media.tone("d.ogg", 2.0, 48000, 1)};
    dlg.addFiles(files, true);
    ASSERT_EQ(dlg.items().itemCount(), files.size()) << prompter.texts().join('\n').toStdString();
    struct Case
    {
        int rateRow, channelsRow, bitsRow;
        QStringList format;
    };
    const Case cases[] = {{0, 0, 0, {"-r", "44100", "-c", "2", "-b", "16"}},
                          {1, 1, 1, {"-r", "22050", "-c", "1", "-b", "8"}}};
    for (const Case &c : cases) {
        OutputSettings &out = dlg.outputSettings();
        out.outputPath = media.path(QStringLiteral("window-%1.wav").arg(c.rateRow));
        out.sampleRateIndex = c.rateRow;
        out.channelsIndex = c.channelsRow;
        out.bitsIndex = c.bitsRow;
        dlg.OnJoin();
        ASSERT_TRUE(waitForIdle());
        ASSERT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('\n').toStdString();

        const QByteArray window = fileBytes(out.outputPath);
        EXPECT_GT(window.size(), 75 * 22050);
        // One worker decodes the long file whole; two cut it into pieces.
        for (const char *workers : {"1", "2"}) {
            const QString cli = media.path(QStringLiteral("cli-%1-%2.wav").arg(c.rateRow).arg(workers));
            const ToolRun run = joinTool(QStringList{"-q", "-j", workers, "-o", cli} + c.format + files);
            ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
            EXPECT_TRUE(window == fileBytes(cli)) << "rate row " << c.rateRow << ", workers " << workers;
        }
    }
}
