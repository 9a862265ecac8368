// Every output format, joined by the command line and read back by FFmpeg's
// own demuxers and decoders.
#include "support/join_tool.h"
#include "tools/cue_reader.h"
#include "support/media_fixtures.h"
#include "support/media_probe.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cmath>

#ifndef _WIN32
#include <csignal>
#endif

#include <gtest/gtest.h>

using namespace sonaweld::test;

namespace {

struct Clip
{
    QString path;
    int rate;
    QString title; // as a chapter names it
};

// Five clips of a minute or more, each a chirp of its own (a misplaced span
// correlates poorly), from sources of several formats and rates; two have
// title tags, the others are named by their file names.
class JoinFormats : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        media = new MediaFixtures;
        const struct
        {
            const char *name;
            double seconds;
            int rate;
            QStringList args;
            const char *title;
        } sources[] = {
            {"one.flac", 61.3, 48000, {"-metadata", "title=Ça \"va\" — 日本", "-metadata", "album=Book"}, nullptr},
            {"two.mp3", 64.0, 44100, {"-c:a", "libmp3lame", "-q:a", "2", "-metadata", "album=Book"}, "two"},
            {"three.wav", 75.5, 22050, {"-metadata", "album=Book"}, "three"},
            {"four.ogg", 60.2, 44100, {"-c:a", "libvorbis", "-metadata", "title=Four's tale", "-metadata", "album=Book"},
             nullptr},
            {"five.m4a", 70.0, 44100, {"-c:a", "aac", "-metadata", "album=Book"}, "five"},
        };
        double base = 150;
        for (const auto &s : sources) {
            const QString chirp =
                QStringLiteral("aevalsrc=0.4*sin(2*PI*(%1+20*t)*t)|0.3*sin(2*PI*(%2+15*t)*t):s=%3:d=%4")
                    .arg(base)
                    .arg(base * 1.5)
                    .arg(s.rate)
                    .arg(s.seconds);
            const QString path = media->make(s.name, QStringList{"-f", "lavfi", "-i", chirp} + s.args);
            clips->push_back({path, s.rate, s.title ? QString::fromUtf8(s.title) : QString()});
            base += 70;
        }
        clips->at(0).title = QString::fromUtf8("Ça \"va\" — 日本");
        clips->at(3).title = QStringLiteral("Four's tale");
        // The reference: the same list joined as a WAV file.
        reference = new QString(media->path("reference.wav"));
        const ToolRun wav = joinTool(QStringList{"-q", "-o", *reference} + inputs());
        ASSERT_EQ(wav.exitCode, 0) << wav.err.toStdString();
    }
    static void TearDownTestSuite()
    {
        delete media;
        delete reference;
        clips->clear();
    }

    static QStringList inputs()
    {
        QStringList list;
        for (const Clip &c : *clips)
            list << c.path;
        return list;
    }

    static MediaFixtures *media;
    static QString *reference;
    static std::vector<Clip> *clips;
};

MediaFixtures *JoinFormats::media = nullptr;
QString *JoinFormats::reference = nullptr;
std::vector<Clip> *JoinFormats::clips = new std::vector<Clip>;

// Where each clip starts in the output, in seconds, from the number of
// samples FFmpeg's decoder yields from every source before it.
std::vector<double> clipStarts(const std::vector<Clip> &clips)
{
    std::vector<double> starts;
    double at = 0;
    for (const Clip &c : clips) {
        starts.push_back(at);
        at += static_cast<double>(MediaFixtures::decodedSamples(c.path)) / c.rate;
    }
    return starts;
}

// Normalised correlation of two stretches of interleaved samples.
double correlation(const std::int16_t *a, const std::int16_t *b, std::size_t n)
{
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

std::vector<std::int16_t> samplesOf(const WavContents &w)
{
    std::vector<std::int16_t> s(w.data.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>(w.data[2 * i] | (w.data[2 * i + 1] << 8));
    return s;
}

struct Format
{
    const char *extension;
    const char *codec;   // as FFmpeg names the stream's codec
    int decodedRate;     // what the decoder yields: Opus runs at 48 kHz
    double chapterUnit;  // the container's unit of a chapter's start, in seconds
};

const Format kFormats[] = {
    {"flac", "flac", 44100, 0.001},  {"mp3", "mp3", 44100, 0.001},   {"opus", "opus", 48000, 0.001},
    {"ogg", "vorbis", 44100, 0.001}, {"m4a", "aac", 44100, 0.001},   {"m4b", "aac", 44100, 0.001},
    {"wav", "pcm_s16le", 44100, 1.0 / 44100},
};

// The lowest correlation a clip's span may have with the WAV's: lossy
// coding of these chirps keeps above it (0.998 and more here), a span
// shifted by a single sample falls below it.
constexpr double kMinCorrelation = 0.995;

} // namespace

TEST_F(JoinFormats, EveryFormatDecodesToTheJoinedLengthWithAChapterAtEveryClip)
{
    const WavContents wav = readWav(*reference);
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.cuePoints, static_cast<int>(clips->size()));
    const std::vector<std::int16_t> ref = samplesOf(wav);
    const std::vector<double> starts = clipStarts(*clips);
    for (const Format &f : kFormats) {
        SCOPED_TRACE(f.extension);
        const QString out = f.extension == QStringLiteral("wav") ? *reference : media->path(QStringLiteral("out.") + f.extension);
        if (out != *reference) {
            const ToolRun run = joinTool(QStringList{"-q", "-j", "2", "-o", out} + inputs());
            ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        }
        const ProbedFile probed = probeFile(out);
        ASSERT_TRUE(probed.read);
        EXPECT_EQ(probed.codec, f.codec);
        EXPECT_EQ(probed.channels, 2);
        const std::int64_t expected = f.decodedRate == 44100 ? wav.frames()
                                                             : std::llround(wav.frames() * 48000.0 / 44100);
        EXPECT_EQ(MediaFixtures::decodedSamples(out), expected);

        ASSERT_EQ(probed.chapters.size(), clips->size());
        for (std::size_t i = 0; i < clips->size(); ++i) {
            EXPECT_EQ(probed.chapters[i].title, clips->at(i).title) << i;
            EXPECT_NEAR(probed.chapters[i].start, starts[i], f.chapterUnit + 1.0 / 44100) << i;
        }

        const std::vector<std::int16_t> decoded = decodedPcm(out, 44100, 2);
        if (f.codec == QStringLiteral("flac")) {
            EXPECT_TRUE(decoded == ref) << "FLAC must decode to the WAV's samples";
        }
        for (std::size_t i = 0; i < clips->size(); ++i) {
            const double end = i + 1 < clips->size() ? starts[i + 1] : double(wav.frames()) / 44100;
            // The middle of the span: a clip's first and last moments are
            // where lossy coders smear a cut.
            const auto from = static_cast<std::size_t>((starts[i] + 0.5) * 44100) * 2;
            const auto to = std::min(static_cast<std::size_t>((end - 0.5) * 44100) * 2, decoded.size());
            ASSERT_LT(from, to);
            EXPECT_GT(correlation(&decoded[from], &ref[from], to - from), kMinCorrelation) << "clip " << i;
            // The threshold sees a one-sample shift of this very span.
            EXPECT_LT(correlation(&ref[from + 2], &ref[from], to - from - 2), kMinCorrelation) << "clip " << i;
        }
    }
}

TEST_F(JoinFormats, OneWorkerAndTwoWriteTheSameBytes)
{
    for (const char *extension : {"flac", "mp3", "m4b"}) {
        SCOPED_TRACE(extension);
        const QString one = media->path(QStringLiteral("one-worker.") + extension);
        const QString two = media->path(QStringLiteral("two-workers.") + extension);
        ASSERT_EQ(joinTool(QStringList{"-q", "-j", "1", "-o", one} + inputs()).exitCode, 0);
        ASSERT_EQ(joinTool(QStringList{"-q", "-j", "2", "-o", two} + inputs()).exitCode, 0);
        const QByteArray bytes = fileBytes(one);
        EXPECT_GT(bytes.size(), 100000);
        EXPECT_TRUE(bytes == fileBytes(two));
    }
}

TEST_F(JoinFormats, EightBitMonoFlacDecodesToTheEightBitWavSamples)
{
    const QString wavOut = media->path("eight.wav");
    const QString flacOut = media->path("eight.flac");
    const QStringList format{"-q", "-r", "8000", "-c", "1", "-b", "8"};
    ASSERT_EQ(joinTool(format + QStringList{"-o", wavOut} + inputs()).exitCode, 0);
    ASSERT_EQ(joinTool(format + QStringList{"-o", flacOut} + inputs()).exitCode, 0);
    const WavContents wav = readWav(wavOut);
    ASSERT_TRUE(wav.valid);
    const std::vector<std::int16_t> decoded = decodedPcm(flacOut, 8000, 1);
    ASSERT_EQ(static_cast<std::int64_t>(decoded.size()), wav.frames());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i)
        differing += static_cast<std::uint8_t>((decoded[i] >> 8) + 128) != wav.data[i];
    EXPECT_EQ(differing, 0u);
}

// The clips share an album and nothing else: the album names the joined
// file, the first clip's own title does not leak into it, and the options
// set, clear and add what the user asks for.
TEST_F(JoinFormats, SharedTagsAreKeptAndTheOptionsSetClearAndAddTags)
{
    const QString cover = media->make("cover.png", {"-f", "lavfi", "-i", "color=c=red:s=64x64", "-frames:v", "1"});
    const QString plain = media->path("plain.mp3");
    ASSERT_EQ(joinTool(QStringList{"-q", "--no-chapters", "-o", plain} + inputs()).exitCode, 0);
    const ProbedFile shared = probeFile(plain);
    EXPECT_EQ(shared.tags.value("album"), "Book");
    EXPECT_EQ(shared.tags.value("title"), "Book");
    EXPECT_FALSE(shared.tags.contains("artist"));
    EXPECT_TRUE(shared.chapters.empty());
    EXPECT_FALSE(shared.cover);

    for (const char *extension : {"mp3", "flac", "opus", "ogg", "m4b"}) {
        SCOPED_TRACE(extension);
        const QString out = media->path(QStringLiteral("tagged.") + extension);
        const ToolRun run = joinTool(QStringList{"-q", "--tag", "artist=The Narrator", "--tag", "album=", "--tag",
                                                 "genre=Audiobook", "--cover", cover, "-o", out} +
                                     inputs());
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const ProbedFile probed = probeFile(out);
        EXPECT_EQ(probed.tags.value("artist"), "The Narrator");
        EXPECT_EQ(probed.tags.value("genre"), "Audiobook");
        EXPECT_EQ(probed.tags.value("title"), "Book");
        EXPECT_FALSE(probed.tags.contains("album"));
        EXPECT_TRUE(probed.cover);
        EXPECT_EQ(probed.chapters.size(), clips->size());
    }
}

// The cue sheet and the file's own chapters are made apart; both must put
// every clip at the same sample.
TEST_F(JoinFormats, TheCueSheetGoesWithEveryFormatAndAgreesWithItsChapters)
{
    for (const char *extension : {"mp3", "m4b", "flac"}) {
        SCOPED_TRACE(extension);
        const QString out = media->path(QStringLiteral("sheet.") + extension);
        const ToolRun run = joinTool(QStringList{"-q", "-y", "--cue", "-o", out} + inputs());
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const CueSheetRead sheet = readCueSheet(media->path("sheet.cue"));
        ASSERT_TRUE(sheet.valid) << sheet.error.toStdString();
        EXPECT_EQ(sheet.file, QFileInfo(out).fileName());
        EXPECT_EQ(sheet.fileType, extension == QStringLiteral("mp3") ? "MP3" : "WAVE");
        const ProbedFile probed = probeFile(out);
        ASSERT_EQ(sheet.tracks.size(), probed.chapters.size());
        for (std::size_t i = 0; i < sheet.tracks.size(); ++i) {
            // A sheet's quotes cannot hold a straight double quote.
            EXPECT_EQ(sheet.tracks[i].title, QString(probed.chapters[i].title).replace('"', QChar(0x201D)));
            EXPECT_NEAR(sheet.tracks[i].sample / 44100.0, probed.chapters[i].start, 0.001) << i;
        }
    }
}

#ifndef _WIN32
// A full disk fails the join naming the file, a stop leaves what was joined;
// either way what is left is a file FFmpeg reads, except an MP4 whose index
// could not be written, which is removed, as the message says.
TEST_F(JoinFormats, AFullDiskAndAStopLeaveAFileFFmpegReads)
{
    for (const Format &f : kFormats) {
        SCOPED_TRACE(f.extension);
        const bool mp4 = f.codec == QStringLiteral("aac");
        const QString full = media->path(QStringLiteral("full.") + f.extension);
        QProcess p;
        limitFileSize(p, 300000);
        p.start(QStringLiteral(SONAWELD_JOIN_PATH), QStringList{"-q", "-o", full} + inputs());
        ASSERT_TRUE(p.waitForFinished(120000));
        EXPECT_EQ(p.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_TRUE(err.contains(full)) << err.toStdString();
        EXPECT_TRUE(err.contains("File too large")) << err.toStdString();
        if (mp4) {
            EXPECT_FALSE(QFileInfo::exists(full));
            EXPECT_TRUE(err.contains("removed")) << err.toStdString();
        } else {
            EXPECT_TRUE(probeFile(full).read);
            EXPECT_GT(MediaFixtures::decodedSamples(full), 0);
        }

        const QString stopped = media->path(QStringLiteral("stopped.") + f.extension);
        QProcess q;
        q.start(QStringLiteral(SONAWELD_JOIN_PATH), QStringList{"-q", "-o", stopped} + inputs());
        ASSERT_TRUE(q.waitForStarted());
        for (int i = 0; i < 500 && QFileInfo(stopped).size() < 20000; ++i)
            QThread::msleep(5);
        ::kill(static_cast<pid_t>(q.processId()), SIGINT);
        ASSERT_TRUE(q.waitForFinished(60000));
        EXPECT_EQ(q.exitCode(), 130) << q.readAllStandardError().toStdString();
        EXPECT_TRUE(probeFile(stopped).read);
        EXPECT_GT(MediaFixtures::decodedSamples(stopped), 0);
    }
}
#endif
