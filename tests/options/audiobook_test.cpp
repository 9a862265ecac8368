// A new user's audiobook, by the keyboard alone: a name ending in .m4b typed
// in Output options, Enter, then Add and Join.
#include "app/main_dlg.h"
#include "options/output_options_dlg.h"
#include "support/dialog_waits.h"
#include "support/media_fixtures.h"
#include "support/media_probe.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"
#include "ui/image_button.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

void key(QWidget *target, int code, const QString &text = {})
{
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
    QApplication::processEvents();
}

void type(QWidget *target, const QString &text)
{
    for (const QChar c : text)
        key(target, 0, QString(c));
}

} // namespace

TEST(Audiobook, AnM4bNameTypedInOutputOptionsMakesAnAudiobookWithAChapterPerClip)
{
    TempSettings settings;
    ScriptedPrompter prompter;
    MediaFixtures media;
    CMainDlg dlg(prompter);
    const QString book = media.path("book.m4b");

    QTimer::singleShot(0, [&] {
        auto *options = qobject_cast<COutputOptionsDlg *>(QApplication::activeModalWidget());
        ASSERT_NE(options, nullptr);
        // Tab from OK past Cancel to the file name; its text is selected on arrival.
        key(options->focusWidget(), Qt::Key_Tab);
        key(options->focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(options->focusWidget(), options->outputFile());
        options->outputFile()->selectAll();
        type(options->outputFile(), book);
        key(options->outputFile(), Qt::Key_Return);
        if (options->isVisible())
            options->reject();
    });
    dlg.OnOptions();
    ASSERT_EQ(dlg.outputSettings().outputPath, book);

    const QStringList clips{
        media.tone("opening.mp3", 61.0, 44100, 2, {"-c:a", "libmp3lame", "-metadata", "title=Opening"}),
        media.tone("chapter two.ogg", 62.5, 22050, 1, {"-c:a", "libvorbis"}),
        media.tone("the end.wav", 60.25, 44100, 2),
    };
    prompter.openResults.enqueue(clips);
    key(dlg.button(ControlId::kAdd), Qt::Key_Space);
    ASSERT_EQ(dlg.items().itemCount(), 3);
    key(dlg.button(ControlId::kJoin), Qt::Key_Space);
    ASSERT_TRUE(waitUntilIdle(dlg, 120000));
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('\n').toStdString();

    const ProbedFile probed = probeFile(book);
    ASSERT_TRUE(probed.read);
    EXPECT_EQ(probed.codec, "aac");
    // Audiobook players know the kind by the file's brand.
    EXPECT_EQ(probed.tags.value("major_brand").trimmed(), "M4B");
    std::int64_t total = 0;
    std::vector<double> starts;
    for (const QString &clip : clips) {
        starts.push_back(static_cast<double>(total) / 44100);
        total += std::llround(MediaFixtures::decodedSamples(clip) * 44100.0 / probeFile(clip).rate);
    }
    EXPECT_NEAR(static_cast<double>(MediaFixtures::decodedSamples(book)), static_cast<double>(total), 2);
    ASSERT_EQ(probed.chapters.size(), 3u);
    const QStringList titles{"Opening", "chapter two", "the end"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(probed.chapters[i].title, titles[static_cast<int>(i)]);
        EXPECT_NEAR(probed.chapters[i].start, starts[i], 0.002) << i;
    }
}
