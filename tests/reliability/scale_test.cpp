// A full list: a thousand sources join without opening them all at once.
#include "app/main_dlg.h"
#include "support/media_fixtures.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

int openDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

} // namespace

#ifdef __linux__
TEST(Scale, AThousandItemsJoinWithFewFilesOpenAtOnce)
{
    TempSettings settings;
    ScriptedPrompter prompter;
    MediaFixtures media;
    CMainDlg dlg(prompter);
    // 441 frames each, every one a different level, so each clip's place
    // in the output can be checked.
    for (int i = 0; i < kMaxItems; ++i) {
        const QString path = media.constantWav(QStringLiteral("clip%1.wav").arg(i), 441, 44100, 2,
                                               static_cast<std::int16_t>(i * 30 - 15000));
        ASSERT_TRUE(dlg.items().append(path, kUnitsPerSecond / 100));
    }
    dlg.outputSettings().outputPath = media.path("all.wav");
    const int before = openDescriptors();
    int peak = before;
    dlg.OnJoin();
    ASSERT_EQ(dlg.converting(), 1) << prompter.texts().join('\n').toStdString();
    QElapsedTimer timer;
    timer.start();
    while (dlg.converting() && timer.elapsed() < 120000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        peak = std::max(peak, openDescriptors());
    }
    ASSERT_EQ(dlg.converting(), 0);
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('\n').toStdString();
    // The output, and a source or two per worker: never the whole list.
    EXPECT_LE(peak - before, 16) << "descriptors open at the peak of the join";
    EXPECT_LE(openDescriptors(), before + 1);

    const WavContents w = readWav(media.path("all.wav"));
    ASSERT_TRUE(w.valid);
    ASSERT_EQ(w.frames(), kMaxItems * 441);
    for (int i = 0; i < kMaxItems; i += 37)
        EXPECT_EQ(w.sample(i * 441 + 220, 0), i * 30 - 15000) << "clip " << i;
}
#endif
