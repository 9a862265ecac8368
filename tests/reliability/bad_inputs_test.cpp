// Files that are not what they claim, and paths that are not plain files.
#include "app/main_dlg.h"
#include "support/media_fixtures.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

// A run that has not ended within `limitMs` is killed and reported as -3,
// so an input that blocks the tool fails the test instead of hanging it.
ToolRun joinTool(const QStringList &args, int limitMs = 120000)
{
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral(SONAWELD_JOIN_PATH), args);
    if (!p.waitForFinished(limitMs)) {
        p.kill();
        p.waitForFinished();
        return {-3, {}, {}, clock.elapsed()};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError()), clock.elapsed()};
}

// Ends the whole program if a dialog command blocks: a hung test would
// otherwise say nothing about which input held it.
class Watchdog
{
public:
    explicit Watchdog(const char *what, std::chrono::seconds limit = std::chrono::seconds(30))
        : thread_([this, what, limit] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_for(lock, limit, [this] { return done_; })) {
                std::fprintf(stderr, "blocked: %s\n", what);
                std::_Exit(3);
            }
        })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// Records how many files had been measured when each message appeared.
class CountingPrompter : public ScriptedPrompter
{
public:
    explicit CountingPrompter(const std::atomic<int> &measured)
        : measured_(measured)
    {
    }
    Answer message(const QString &text, const QString &caption, MessageButtons buttons,
                   MessageIcon icon) override
    {
        measuredAtMessage << measured_.load();
        return ScriptedPrompter::message(text, caption, buttons, icon);
    }
    QList<int> measuredAtMessage;

private:
    const std::atomic<int> &measured_;
};

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

void putLe(QByteArray &bytes, qsizetype at, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A copy of a good WAV whose header gives `value` at `offset` into its
// "fmt " chunk body (or, for "data", into the chunk's size field).
QString patchedWav(const MediaFixtures &media, const QString &name, const char *chunk, int offset,
                   std::uint32_t value, int size)
{
    const QString source = media.constantWav(name + ".src", 44100, 44100, 2, 1000);
    QByteArray bytes = fileBytes(source);
    EXPECT_FALSE(bytes.isEmpty());
    const qsizetype at = bytes.indexOf(chunk, 12);
    EXPECT_GT(at, 0);
    putLe(bytes, at + (std::strcmp(chunk, "data") == 0 ? 4 : 8 + offset), value, size);
    const QString out = media.path(name);
    writeAll(out, bytes);
    return out;
}

int peakOf(const std::vector<std::int16_t> &pcm)
{
    int peak = 0;
    for (const std::int16_t s : pcm)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

int peakOf(const WavContents &w, std::int64_t from, std::int64_t to)
{
    int peak = 0;
    for (std::int64_t f = from; f < to; ++f)
        for (int c = 0; c < w.channels; ++c)
            peak = std::max(peak, std::abs(w.sample(f, c)));
    return peak;
}

QString cannotOpen(const QString &path)
{
    return "Cannot open " + path + ". You need to install appropriate decoders.\nOr the file is corrupt.";
}

QString refused(const QString &path, const QString &reason)
{
    return "Cannot open " + path + ".\n" + path + reason + ".";
}

class BadInputs : public ::testing::Test
{
protected:
    TempSettings settings;
    MediaFixtures media;
    std::atomic<int> measured{0};
    CountingPrompter prompter{measured};
    CMainDlg dlg{prompter, editing::MediaFactory([this](std::string_view op) {
                     if (op == "Graph.RenderFile")
                         ++measured;
                     return 0;
                 })};

    QString silentVideo()
    {
        return media.make("silent.mp4", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v",
                                         "mpeg4"});
    }
    // Joins `inputs` at 44.1 kHz stereo 16 bits; fails the test unless it worked.
    WavContents joined(const QStringList &inputs)
    {
        const QString out = media.path("joined.wav");
        QFile::remove(out);
        const ToolRun r = joinTool(QStringList{"-q", "-o", out} + inputs);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return readWav(out);
    }
};

} // namespace

// Each file is refused with its own reason; the good file beside it is added.
TEST_F(BadInputs, FilesThatAreNoSoundAreRefusedNamingTheReason)
{
    const QString good = media.constantWav("good.wav", 4410, 44100, 2, 100);
    const QString empty = media.textFile("empty.mp3", "");
    const QString text = media.textFile("letter.mp3", "Dear friend,\nthis is not a song.\n");
    const QString silent = silentVideo();
    const QString noRate = patchedWav(media, "rate0.wav", "fmt ", 4, 0, 4);
    const QString noChannels = patchedWav(media, "chan0.wav", "fmt ", 2, 0, 2);

    prompter.openResults.enqueue({empty, text, good, silent, noRate, noChannels});
    dlg.OnAdd();
    EXPECT_EQ(prompter.texts(),
              QStringList({refused(empty, " is empty (0 bytes)"), "Can not get the duration of " + empty,
                           cannotOpen(text), "Can not get the duration of " + text,
                           refused(silent, " has no sound track"), "Can not get the duration of " + silent,
                           cannotOpen(noRate), "Can not get the duration of " + noRate,
                           refused(noChannels, "'s sound track is damaged: its header gives 0 channels"),
                           "Can not get the duration of " + noChannels}));
    ASSERT_EQ(dlg.items().itemCount(), 1);
    EXPECT_EQ(dlg.items().pathAt(0), good);

    // Chosen alone, each ends the command with nothing added.
    for (const QString &bad : {empty, text, silent, noRate, noChannels}) {
        prompter.shown.clear();
        prompter.openResults.enqueue({bad});
        dlg.OnAdd();
        ASSERT_EQ(prompter.shown.size(), 2) << bad.toStdString();
        EXPECT_EQ(prompter.shown[1].text, "Can not get the duration of the clip!");
        EXPECT_EQ(dlg.items().itemCount(), 1);
    }

    const QString out = media.path("out.wav");
    const QList<QPair<QString, QString>> expected{
        {empty, empty + " is empty (0 bytes)"},
        {text, "cannot open " + text + ": it is no sound or video file, or its header is damaged (Invalid argument)"},
        {silent, silent + " has no sound track"},
        {noRate, "cannot open " + noRate
                     + ": it is no sound or video file, or its header is damaged (Invalid data found when "
                       "processing input)"},
        {noChannels, noChannels + "'s sound track is damaged: its header gives 0 channels"},
    };
    for (const auto &[bad, message] : expected) {
        const ToolRun r = joinTool({"-q", "-o", out, good, bad});
        EXPECT_EQ(r.exitCode, 2) << bad.toStdString();
        EXPECT_EQ(r.err.trimmed(), "sonaweld-join: " + message);
        EXPECT_FALSE(QFile::exists(out));
    }
}

// A header that claims more data than there is plays what is there.
TEST_F(BadInputs, AWavClaimingDataPastItsEndPlaysWhatIsThere)
{
    const QString wav = patchedWav(media, "long claim.wav", "data", 0, 0x7FFFFFF0u, 4);
    prompter.openResults.enqueue({wav});
    dlg.OnAdd();
    EXPECT_TRUE(prompter.shown.isEmpty());
    ASSERT_EQ(dlg.items().itemCount(), 1);
    EXPECT_EQ(dlg.items().durationAt(0), kUnitsPerSecond);

    const WavContents w = joined({wav});
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.frames(), MediaFixtures::decodedSamples(wav));
    EXPECT_EQ(w.frames(), 44100);
    EXPECT_EQ(w.sample(44099, 1), 1000);
}

// Damage in the middle of an MP3 costs the frames it hits, not the file.
TEST_F(BadInputs, AnMp3GarbledInTheMiddleIsAddedAndJoined)
{
    const QString clean = media.tone("clean.mp3", 3.0, 44100, 2, {"-b:a", "128k"});
    QByteArray bytes = fileBytes(clean);
    ASSERT_FALSE(bytes.isEmpty());
    std::uint32_t lcg = 12345;
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 3000; ++i) {
        lcg = lcg * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(lcg >> 24);
    }
    const QString garbled = media.path("garbled.mp3");
    writeAll(garbled, bytes);

    prompter.openResults.enqueue({garbled});
    dlg.OnAdd();
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('|').toStdString();
    ASSERT_EQ(dlg.items().itemCount(), 1);

    const WavContents w = joined({garbled});
    ASSERT_TRUE(w.valid);
    // Every frame that decodes is there, and nothing else: the packets the
    // damage left without a header of their own play nothing.
    EXPECT_EQ(w.frames(), MediaFixtures::decodedSamples(garbled));
    EXPECT_GT(peakOf(w, w.frames() - 20000, w.frames() - 10000), 2000); // sound after the damage
}

// Streams joined byte by byte change rate and channels mid-file; the output
// keeps its own format and each part plays at its own speed.
TEST_F(BadInputs, AFileWhoseFormatChangesMidwayJoinsAtTheChosenFormat)
{
    struct Case
    {
        const char *name;
        QStringList encoder;
        int frameAt44k; // one frame of the lower-rate part, in output samples
    };
    const Case cases[] = {
        {"aac", {"-c:a", "aac"}, 2048},
        {"mp3", {"-b:a", "64k"}, 1152},
    };
    for (const Case &c : cases) {
        const QString ext = QString::fromLatin1(c.name);
        const QString first = media.tone("first." + ext, 1.0, 44100, 2, c.encoder);
        const QString second = media.tone("second." + ext, 1.0, 22050, 1, c.encoder);
        const QString both = media.path("both." + ext);
        writeAll(both, fileBytes(first) + fileBytes(second));

        prompter.shown.clear();
        prompter.openResults.enqueue({both});
        dlg.OnAdd();
        EXPECT_TRUE(prompter.shown.isEmpty()) << c.name;

        const WavContents w = joined({both});
        ASSERT_TRUE(w.valid) << c.name;
        EXPECT_EQ(w.rate, 44100);
        EXPECT_EQ(w.channels, 2);
        const std::vector<std::int16_t> reference = decodedPcm(both, 44100, 2);
        EXPECT_NEAR(static_cast<double>(w.frames()), static_cast<double>(reference.size() / 2), c.frameAt44k)
            << c.name;
        // Each part at its own rate and channels: a mono part is copied to
        // both output channels at its own level.
        const int sourcePeak = std::max(peakOf(decodedPcm(first, 44100, 2)), peakOf(decodedPcm(second, 22050, 1)));
        const int joinedPeak = peakOf(w, 0, w.frames());
        EXPECT_LE(joinedPeak, sourcePeak * 105 / 100) << c.name;
        EXPECT_GE(joinedPeak, sourcePeak * 90 / 100) << c.name;
        // The second part is sound too, in both channels.
        EXPECT_GT(peakOf(w, w.frames() - 30000, w.frames() - 10000), sourcePeak / 2) << c.name;
    }
}

TEST_F(BadInputs, APathWithSpacesQuotesBracketsAndLettersBeyondAsciiJoins)
{
    ASSERT_TRUE(QDir(media.dir()).mkpath("my music [live] (2)"));
    const QString name = media.path(QStringLiteral("my music [live] (2)/it's \"Ünïcödé\" {take} ñ 日本.wav"));
    ASSERT_TRUE(QFile::rename(media.constantWav("plain.wav", 22050, 44100, 2, 300), name));
    const QString link = media.path("link to it.wav");
    ASSERT_TRUE(QFile::link(name, link));

    prompter.openResults.enqueue({name, link});
    dlg.OnAdd();
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('|').toStdString();
    ASSERT_EQ(dlg.items().itemCount(), 2);
    EXPECT_EQ(dlg.items().pathAt(0), name);
    EXPECT_EQ(dlg.items().durationAt(0), kUnitsPerSecond / 2);

    const WavContents w = joined({name, link});
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.frames(), 44100);
    EXPECT_EQ(w.sample(0, 0), 300);
    EXPECT_EQ(w.sample(44099, 1), 300);
}

TEST_F(BadInputs, AnOverlongPathIsRefusedBeforeAnythingIsMeasured)
{
    const QString overlong = media.dir() + "/" + QString(300, u'x') + "/" + QString(5000, u'y') + ".wav";
    prompter.openResults.enqueue({overlong});
    dlg.OnAdd();
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_TRUE(prompter.shown[0].text.startsWith("The path is too long"));
    EXPECT_TRUE(prompter.shown[0].text.endsWith(overlong));
    EXPECT_EQ(measured.load(), 0);
    EXPECT_EQ(dlg.items().itemCount(), 0);

    // In a long selection it is refused first, the rest measured and added.
    QStringList selection;
    for (int i = 0; i < 20; ++i)
        selection << media.constantWav(QStringLiteral("f%1.wav").arg(i), 441, 44100, 2, 1);
    selection.insert(15, overlong);
    prompter.shown.clear();
    prompter.measuredAtMessage.clear();
    prompter.openResults.enqueue(selection);
    dlg.OnAdd();
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_TRUE(prompter.shown[0].text.startsWith("The path is too long"));
    EXPECT_EQ(prompter.measuredAtMessage, QList<int>({0}));
    EXPECT_EQ(measured.load(), 20);
    EXPECT_EQ(dlg.items().itemCount(), 20);

    const ToolRun r = joinTool({"-q", "-o", media.path("out.wav"), selection[0], overlong});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.trimmed(), "sonaweld-join: cannot open " + overlong + ": File name too long");
    EXPECT_FALSE(QFile::exists(media.path("out.wav")));
}

#ifndef _WIN32
// Opening a pipe waits for a writer and a device never ends: neither may
// hold the dialog or the tool.
TEST_F(BadInputs, PipesAndDevicesAreRefusedWithoutBlocking)
{
    const QString good = media.constantWav("good.wav", 4410, 44100, 2, 100);
    const QString pipe = media.path("pipe.mp3");
    ASSERT_EQ(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    const QString zero = QStringLiteral("/dev/zero");
    const QString null = QStringLiteral("/dev/null");
    const QString folder = media.path("folder.mp3");
    ASSERT_TRUE(QDir().mkpath(folder));

    QElapsedTimer clock;
    clock.start();
    {
        const Watchdog guard("adding a pipe or a device");
        prompter.openResults.enqueue({pipe, zero, good, null, folder});
        dlg.OnAdd();
        prompter.openResults.enqueue({pipe});
        dlg.OnAdd();
    }
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(prompter.texts(),
              QStringList({refused(pipe, " is a pipe, not a regular file"), "Can not get the duration of " + pipe,
                           refused(zero, " is a device, not a regular file"), "Can not get the duration of " + zero,
                           refused(null, " is a device, not a regular file"), "Can not get the duration of " + null,
                           refused(folder, " is a folder, not a regular file"),
                           "Can not get the duration of " + folder, refused(pipe, " is a pipe, not a regular file"),
                           "Can not get the duration of the clip!"}));
    ASSERT_EQ(dlg.items().itemCount(), 1);
    EXPECT_EQ(dlg.items().pathAt(0), good);

    const QString out = media.path("out.wav");
    const QList<QPair<QString, QString>> expected{
        {pipe, " is a pipe, not a regular file"},
        {zero, " is a device, not a regular file"},
        {null, " is a device, not a regular file"},
    };
    for (const auto &[bad, reason] : expected) {
        const ToolRun r = joinTool({"-q", "-o", out, good, bad}, 20000);
        EXPECT_EQ(r.exitCode, 2) << bad.toStdString();
        EXPECT_EQ(r.err.trimmed(), "sonaweld-join: " + bad + reason);
        EXPECT_LT(r.ms, 10000);
        EXPECT_FALSE(QFile::exists(out));
    }
}
#endif
