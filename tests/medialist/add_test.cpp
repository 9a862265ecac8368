#include "app/main_dlg.h"
#include "app/settings_store.h"
#include "medialist/item_list_view.h"
#include "support/media_fixtures.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QWindow>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <thread>

#ifndef _WIN32
#include <QProcess>
#include <QStandardPaths>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

class AddTest : public ::testing::Test
{
protected:
    TempSettings settings;
    ScriptedPrompter prompter;
    MediaFixtures media;
    CMainDlg dlg{prompter};

    QString lastFolder() { return settings.store().value("Option/LastPhotoFolder").toString(); }
    QString cannotOpen(const QString &path)
    {
        return "Cannot open " + path + ". You need to install appropriate decoders.\nOr the file is corrupt.";
    }
};

} // namespace

TEST_F(AddTest, OffersTheMediaFiltersFromTheRememberedFolder)
{
    settings.set("Option", "LastPhotoFolder", media.dir() + "/");
    dlg.OnAdd(); // cancelled: nothing scripted
    ASSERT_EQ(prompter.fileDialogs.size(), 1);
    const auto &d = prompter.fileDialogs[0];
    EXPECT_EQ(d.title, "Select Media Files...");
    EXPECT_EQ(d.folder, media.dir() + "/");
    ASSERT_EQ(d.filters.size(), 5);
    EXPECT_EQ(d.filters[0].description, "Media Files (all types)");
    EXPECT_TRUE(d.filters[0].patterns.startsWith("*.asf;*.wma;*.wmv;"));
    EXPECT_TRUE(d.filters[0].patterns.contains(";*.ogg;*.ac3;"));
    EXPECT_TRUE(d.filters[0].patterns.endsWith(";*.flac;*.m4a;*.aac;*.opus;*.webm;*.mka;*.mkv;*.wv"));
    EXPECT_EQ(d.filters[1].patterns, "*.mp3; *.wav; *.ac3; *.ogg; *.mpa; *.mp2; *.au; *.aif; *.aiff; *.snd");
    EXPECT_EQ(d.filters[3].description, "Windows Media Files (*.asf;*.wma;*.wmv)");
    EXPECT_EQ(d.filters[4].description, "Any Files (*.*)");
    EXPECT_EQ(d.filters[4].patterns, "*.*;");
    // Cancelling changes nothing and writes nothing.
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_EQ(dlg.items().itemCount(), 0);
    EXPECT_EQ(lastFolder(), media.dir() + "/");
}

TEST_F(AddTest, ABadMiddleFileIsReportedAndTheOthersAdded)
{
    const QString a = media.tone("first.mp3", 2.5, 44100, 2, {"-b:a", "128k"});
    const QString bad = media.textFile("broken.mp3", "not audio at all\n");
    const QString third = media.tone("third.ogg", 1.2, 44100, 1, {"-c:a", "libvorbis"});
    prompter.openResults.enqueue({a, bad, third});
    dlg.OnAdd();

    EXPECT_EQ(prompter.texts(), QStringList({cannotOpen(bad), "Can not get the duration of " + bad}));
    for (const auto &shown : prompter.shown) {
        EXPECT_EQ(shown.caption, "Error");
        EXPECT_EQ(shown.icon, MessageIcon::None);
    }
    ASSERT_EQ(dlg.items().itemCount(), 2);
    EXPECT_EQ(dlg.items().pathAt(0), a);
    EXPECT_EQ(dlg.items().pathAt(1), third);
    EXPECT_EQ(dlg.items().durationAt(0) / 1'000'000, 25);
    ItemListView *list = dlg.itemList();
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(list->item(0, 0)->text(), "first.mp3");
    EXPECT_EQ(list->item(0, 1)->text(), "2");
    EXPECT_EQ(list->item(1, 1)->text(), "1");
    EXPECT_EQ(list->nextSelectedRow(-1), -1);
    EXPECT_EQ(lastFolder(), media.dir() + "/");
}

TEST_F(AddTest, ASingleBadFileChangesNothing)
{
    settings.set("Option", "LastPhotoFolder", "/kept/");
    const QString bad = media.textFile("only.wav", "RIFF but not really");
    prompter.openResults.enqueue({bad});
    dlg.OnAdd();
    EXPECT_EQ(prompter.texts(), QStringList({cannotOpen(bad), "Can not get the duration of the clip!"}));
    EXPECT_EQ(dlg.items().itemCount(), 0);
    EXPECT_EQ(dlg.itemList()->rowCount(), 0);
    EXPECT_EQ(lastFolder(), "/kept/");
}

TEST_F(AddTest, TheListNeverPassesItsCapacity)
{
    for (int i = 0; i < kMaxItems - 1; ++i)
        dlg.items().append(QStringLiteral("/old/%1.mp3").arg(i), kUnitsPerSecond);
    const QString a = media.constantWav("a.wav", 4410, 44100, 2, 1);
    const QString b = media.constantWav("b.wav", 4410, 44100, 2, 1);
    prompter.openResults.enqueue({a, b, a});
    dlg.OnAdd();
    EXPECT_EQ(dlg.items().itemCount(), kMaxItems);
    EXPECT_EQ(dlg.items().pathAt(kMaxItems - 1), a);
    EXPECT_EQ(prompter.texts(),
              QStringList({"2 of the chosen files were not added: the list holds at most 1000 files."}));
    EXPECT_EQ(dlg.itemList()->rowCount(), kMaxItems);
}

TEST_F(AddTest, AnOverlongPathIsRefusedNotCut)
{
    const QString good = media.constantWav("fits.wav", 4410, 44100, 2, 1);
    const QString overlong = media.dir() + "/" + QString(5000, u'x') + ".wav";
    prompter.openResults.enqueue({overlong, good});
    dlg.OnAdd();
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_TRUE(prompter.shown[0].text.startsWith("The path is too long"));
    EXPECT_TRUE(prompter.shown[0].text.endsWith(overlong));
    ASSERT_EQ(dlg.items().itemCount(), 1);
    EXPECT_EQ(dlg.items().pathAt(0), good);
}

TEST_F(AddTest, DroppedFilesAreAddedAsSeveral)
{
    const QString a = media.constantWav("drop.wav", 22050, 44100, 2, 1);
    const QString bad = media.textFile("bad.mp3", "x");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(bad), QUrl::fromLocalFile(a)});
    dlg.show();
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &drop);
    EXPECT_EQ(prompter.texts(), QStringList({cannotOpen(bad), "Can not get the duration of " + bad}));
    ASSERT_EQ(dlg.items().itemCount(), 1);
    EXPECT_EQ(dlg.items().pathAt(0), a);
}

namespace {

// Drags `urls` over the middle of the item list and drops them there. The
// events go to the window, as the platform delivers them, so the widget
// that takes the drop is the one a real drop onto the list reaches.
bool dropOnList(CMainDlg &dlg, const QList<QUrl> &urls)
{
    dlg.show();
    QMimeData mime;
    mime.setUrls(urls);
    ItemListView *list = dlg.itemList();
    const QPoint at = list->mapTo(&dlg, list->rect().center());
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.windowHandle(), &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.windowHandle(), &drop);
    return enter.isAccepted() && drop.isAccepted();
}

QStringList pathsInList(CMainDlg &dlg)
{
    QStringList paths;
    for (int i = 0; i < dlg.items().itemCount(); ++i)
        paths << dlg.items().pathAt(i);
    return paths;
}

} // namespace

TEST_F(AddTest, ADroppedFolderAddsItsMediaFilesInNaturalOrder)
{
    const QDir album(media.path("Album"));
    ASSERT_TRUE(album.mkpath("bonus"));
    // Five tracks whose plain name order would be 1, 10, 2, 20, 3.
    media.constantWav("Album/track 10.wav", 4410, 44100, 2, 1);
    media.constantWav("Album/Track 2.WAV", 4410, 44100, 2, 1);
    media.tone("Album/track 20.flac", 0.2);
    media.constantWav("Album/track 1.wav", 4410, 44100, 2, 1);
    media.tone("Album/Track 3.m4a", 0.2, 44100, 2, {"-c:a", "aac"});
    // Neither these nor the sub-folder's track are part of the drop.
    media.textFile("Album/cover.jpg", "not a picture");
    media.textFile("Album/notes.txt", "liner notes");
    media.constantWav("Album/bonus/track 0.wav", 4410, 44100, 2, 1);

    ASSERT_TRUE(dropOnList(dlg, {QUrl::fromLocalFile(album.path())}));

    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(pathsInList(dlg),
              QStringList({album.filePath("track 1.wav"), album.filePath("Track 2.WAV"),
                           album.filePath("Track 3.m4a"), album.filePath("track 10.wav"),
                           album.filePath("track 20.flac")}));
    ASSERT_EQ(dlg.itemList()->rowCount(), 5);
    EXPECT_EQ(dlg.itemList()->item(3, 0)->text(), "track 10.wav");
    EXPECT_EQ(lastFolder(), album.path() + "/");
}

TEST_F(AddTest, ADroppedFolderIsMeasuredOnlyAsFarAsTheListHasRoom)
{
    std::atomic<int> measured{0};
    CMainDlg counting(prompter, editing::MediaFactory([&measured](std::string_view operation) {
        if (operation == "Graph.RenderFile")
            ++measured;
        return 0;
    }));
    for (int i = 0; i < kMaxItems - 2; ++i)
        counting.items().append(QStringLiteral("/old/%1.mp3").arg(i), kUnitsPerSecond);
    const QDir album(media.path("Album"));
    ASSERT_TRUE(album.mkpath("."));
    // The first cannot be measured, so its place goes to the third.
    const QString broken = media.textFile("Album/1.wav", "not audio");
    for (int i = 2; i <= 6; ++i)
        media.constantWav(QStringLiteral("Album/%1.wav").arg(i), 4410, 44100, 2, 1);

    ASSERT_TRUE(dropOnList(counting, {QUrl::fromLocalFile(album.path())}));

    EXPECT_EQ(measured.load(), 3);
    EXPECT_EQ(counting.items().itemCount(), kMaxItems);
    EXPECT_EQ(counting.items().pathAt(kMaxItems - 2), album.filePath("2.wav"));
    EXPECT_EQ(counting.items().pathAt(kMaxItems - 1), album.filePath("3.wav"));
    EXPECT_EQ(prompter.texts(),
              QStringList({cannotOpen(broken), "Can not get the duration of " + broken,
                           "3 of the chosen files were not added: the list holds at most 1000 files."}));
    EXPECT_EQ(counting.itemList()->rowCount(), kMaxItems);
}

TEST_F(AddTest, DroppedFilesAreTriedWhateverTheirNameAndAnEmptyFolderIsNamedOnce)
{
    // Sound under a name no pattern knows is still sound; a text file under
    // such a name is refused as any unreadable file is.
    const QString take = media.constantWav("take.raw1", 44100, 44100, 2, 3);
    const QString notes = media.textFile("notes.doc", "not audio");
    const QDir root(media.dir());
    ASSERT_TRUE(root.mkpath("empty"));
    ASSERT_TRUE(root.mkpath("pictures"));
    media.textFile("pictures/cover.jpg", "x");
    const QString first = media.constantWav("first.wav", 4410, 44100, 2, 1);

    ASSERT_TRUE(dropOnList(dlg, {QUrl::fromLocalFile(first), QUrl::fromLocalFile(root.filePath("empty")),
                                 QUrl::fromLocalFile(take), QUrl::fromLocalFile(root.filePath("pictures")),
                                 QUrl::fromLocalFile(notes)}));

    EXPECT_EQ(prompter.texts(),
              QStringList({"There are no media files in " + root.filePath("empty") + ".",
                           "There are no media files in " + root.filePath("pictures") + ".",
                           cannotOpen(notes), "Can not get the duration of " + notes}));
    EXPECT_EQ(pathsInList(dlg), QStringList({first, take}));
    EXPECT_EQ(dlg.items().durationAt(1), kUnitsPerSecond);
}

#ifndef _WIN32
TEST_F(AddTest, TheDialogTakesNoCommandsWhileMeasuring)
{
    // Measuring is held for a while by the framework's fault hook.
    CMainDlg slow(prompter, editing::MediaFactory([](std::string_view operation) {
        if (operation == "Graph.RenderFile")
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return 0;
    }));
    const QString wav = media.constantWav("a.wav", 4410, 44100, 2, 7);
    slow.show();
    prompter.openResults.enqueue({wav});
    QTimer::singleShot(50, &slow, [&] {
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(slow.itemList(), &enter);
        slow.close();
    });
    slow.OnAdd();
    QApplication::processEvents();
    EXPECT_TRUE(slow.isVisible());
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(slow.items().itemCount(), 1);
}
#endif

#ifndef _WIN32
namespace {

// Permissions do not bind root. Run as root, the current test runs again in
// a copy of this program as an unprivileged user, and `ran` says so;
// `skipped` holds why that is impossible here. Otherwise the caller goes on.
void rerunUnprivileged(bool &ran, QString &skipped)
{
    ran = false;
    if (::geteuid() != 0)
        return;
    if (QStandardPaths::findExecutable("setpriv").isEmpty()) {
        skipped = "running as root without setpriv: permissions cannot be tested";
        return;
    }
    const QString self = QCoreApplication::applicationFilePath();
    for (QFileInfo at(self); at.absoluteFilePath() != "/"; at = QFileInfo(at.absolutePath())) {
        if (!(at.permissions() & QFileDevice::ExeOther)) {
            skipped = at.absoluteFilePath() + " is closed to other users";
            return;
        }
    }
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcess p;
    p.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", self,
                        QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
    ran = true;
    if (!p.waitForFinished(60000)) {
        ADD_FAILURE() << "the unprivileged run did not end";
        return;
    }
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}

} // namespace

TEST_F(AddTest, AFolderThatCannotBeReadIsNamedAsSuch)
{
    bool ran = false;
    QString skipped;
    rerunUnprivileged(ran, skipped);
    if (!skipped.isEmpty())
        GTEST_SKIP() << skipped.toStdString();
    if (ran)
        return;

    const QDir root(media.dir());
    // Closed entirely, and readable but not searchable: names without types.
    ASSERT_TRUE(root.mkpath("closed"));
    ASSERT_TRUE(root.mkpath("unsearchable"));
    media.constantWav("closed/a.wav", 4410, 44100, 2, 1);
    media.constantWav("unsearchable/b.wav", 4410, 44100, 2, 1);
    const QString good = media.constantWav("good.wav", 4410, 44100, 2, 1);
    ASSERT_EQ(::chmod(QFile::encodeName(root.filePath("closed")).constData(), 0), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(root.filePath("unsearchable")).constData(), 0444), 0);

    ASSERT_TRUE(dropOnList(dlg, {QUrl::fromLocalFile(root.filePath("closed")),
                                 QUrl::fromLocalFile(root.filePath("unsearchable")), QUrl::fromLocalFile(good)}));

    EXPECT_EQ(prompter.texts().join('\n').toStdString(),
              ("The folder " + root.filePath("closed") + " cannot be read.\nThe folder " +
               root.filePath("unsearchable") + " cannot be read.")
                  .toStdString());
    EXPECT_EQ(pathsInList(dlg), QStringList({good}));
    // The temporary folder must be able to remove them.
    ::chmod(QFile::encodeName(root.filePath("closed")).constData(), 0755);
    ::chmod(QFile::encodeName(root.filePath("unsearchable")).constData(), 0755);
}
#endif

TEST_F(AddTest, ASingleChoiceThatCannotGoInEndsTheAddWhereSeveralCarryOn)
{
    const QString fits = media.constantWav("fits.wav", 4410, 44100, 2, 1);
    const QString overlong = media.dir() + "/" + QString(5000, u'x') + ".wav";
    const QString tooLong = "The path is too long";
    const QString full = "1 of the chosen files were not added: the list holds at most 1000 files.";
    struct Case
    {
        const char *name;
        bool listFull;
        QStringList chosen;
        bool several;
        QStringList shownStarts;
        QString folderAfter;
    };
    const Case cases[] = {
        {"single overlong", false, {overlong}, false, {tooLong}, "/kept/"},
        {"single into a full list", true, {fits}, false, {full}, "/kept/"},
        // Several still refresh the list and remember the last entry's folder.
        {"several into a full list", true, {overlong, fits}, true, {tooLong, full}, "/old/"},
    };
    for (const Case &c : cases) {
        settings.set("Option", "LastPhotoFolder", "/kept/");
        ScriptedPrompter seen;
        CMainDlg fresh(seen);
        if (c.listFull) {
            for (int i = 0; i < kMaxItems; ++i)
                fresh.items().append(QStringLiteral("/old/%1.mp3").arg(i), kUnitsPerSecond);
        }
        const int before = fresh.items().itemCount();
        fresh.addFiles(c.chosen, c.several);
        ASSERT_EQ(seen.shown.size(), c.shownStarts.size()) << c.name;
        for (int i = 0; i < c.shownStarts.size(); ++i)
            EXPECT_TRUE(seen.shown[i].text.startsWith(c.shownStarts[i])) << c.name << " " << i;
        EXPECT_EQ(fresh.items().itemCount(), before) << c.name;
        EXPECT_EQ(fresh.itemList()->rowCount(), c.several ? before : 0) << c.name;
        EXPECT_EQ(lastFolder(), c.folderAfter) << c.name;
    }
}

// Each step of measuring a good file that can fail: only a file that cannot
// be rendered gets the decoder advice; every failure leaves the file out.
TEST_F(AddTest, EachMeasuringStepThatFailsLeavesTheFileOut)
{
    const QString good = media.constantWav("good.wav", 4410, 44100, 2, 1);
    struct Case
    {
        const char *operation;
        bool advice;
    };
    const Case cases[] = {{"Create.FilterGraph", false}, {"Graph.RenderFile", true}, {"Seeking.GetStopPosition", false}};
    for (const Case &c : cases) {
        ScriptedPrompter told;
        const std::string target = c.operation;
        CMainDlg failing(told, editing::MediaFactory([target](std::string_view op) {
            return op == target ? media::Code::kFail : 0;
        }));
        failing.addFiles({good}, false);
        QStringList expected{"Can not get the duration of the clip!"};
        if (c.advice)
            expected.prepend(cannotOpen(good));
        EXPECT_EQ(told.texts(), expected) << c.operation;
        EXPECT_EQ(failing.items().itemCount(), 0) << c.operation;
    }
}
