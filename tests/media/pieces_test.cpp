// Long clips decoded in pieces by several workers must give the bytes one
// worker decoding each clip from its start gives.
#include "media/export_job.h"
#include "compose/failure_text.h"
#include "media/joints.h"
#include "media/probe.h"
#include "support/job_harness.h"
#include "support/media_fixtures.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace sonaweld::media;
using namespace sonaweld::test;
using sonaweld::failureText;

namespace {

struct Joined
{
    QByteArray bytes;
    ExportJob::PieceCounts pieces;
};

// `plan` joined with `options`: the file's bytes and how its pieces went.
Joined joinWith(const JoinPlan &plan, const ExportOptions &options)
{
    ExportJob job(plan, options);
    const JobEnd end = runJob(job);
    EXPECT_FALSE(end.start.failed()) << failureText(end.start);
    if (!end.ended) {
        ADD_FAILURE() << "the join did not end";
        return {};
    }
    EXPECT_FALSE(end.result.failed()) << failureText(end.result);
    QFile file(QString::fromStdString(plan.outputPath));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return {file.readAll(), job.pieceCounts()};
}

Joined joinAlone(const QString &source, const WaveFormatEx &format, int workers, const QString &out,
                 bool followOn = true, FaultHook faults = {})
{
    ReferenceTime length = 0;
    EXPECT_FALSE(probeDuration(source.toStdString(), length).failed());
    ExportOptions options;
    options.workers = workers;
    options.pieceSeconds = 2;
    options.followOnPieces = followOn;
    if (faults)
        options.faults = std::make_shared<const FaultHook>(std::move(faults));
    return joinWith({{{source.toStdString(), 0, length, 0}}, out.toStdString(), format}, options);
}

// `plan` joined by `workers`, every piece after a clip's first decoded
// apart.
Joined joinPlan(const JoinPlan &plan, int workers)
{
    ExportOptions options;
    options.workers = workers;
    options.pieceSeconds = 2;
    options.followOnPieces = false;
    return joinWith(plan, options);
}

// The largest difference between two WAV files' samples, and where the
// first one is: the figure to report when bytes differ.
QString firstDifference(const QString &a, const QString &b)
{
    const WavContents x = readWav(a);
    const WavContents y = readWav(b);
    if (!x.valid || !y.valid || x.frames() != y.frames() || x.channels != y.channels)
        return QStringLiteral("the files differ in format or length");
    int worst = 0;
    std::int64_t first = -1;
    for (std::int64_t f = 0; f < x.frames(); ++f) {
        for (int c = 0; c < x.channels; ++c) {
            const int d = std::abs(x.sample(f, c) - y.sample(f, c));
            if (d > 0 && first < 0)
                first = f;
            worst = std::max(worst, d);
        }
    }
    return QStringLiteral("first difference at frame %1, largest %2").arg(first).arg(worst);
}

struct Source
{
    const char *name;
    QStringList encoder;
    bool cutApart; // decoded in pieces; the others are decoded whole by one worker
};

} // namespace

// Nine seconds in pieces of two: the pieces at 2, 4 and 6 s start with a
// real seek beyond the decoder's and the resampler's warm-up.
TEST(Pieces, FourWorkersWriteTheBytesOfOne)
{
    MediaFixtures media;
    const auto at = [](int rate, const QStringList &moreInputs) {
        const QString tone = QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=9");
        return QStringList{"-f", "lavfi", "-i", tone.arg(440).arg(rate), "-f", "lavfi", "-i", tone.arg(587).arg(rate)}
               + moreInputs + QStringList{"-filter_complex", "[0:a][1:a]amerge=inputs=2[a]", "-map", "[a]"};
    };
    const std::vector<Source> sources = {
        {"cbr.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}, true},
        {"vbr.mp3", {"-c:a", "libmp3lame", "-q:a", "4"}, true},
        {"untagged.mp3", {"-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0"}, true},
        {"mono-lsf.mp3", {"-ar", "24000", "-ac", "1", "-c:a", "libmp3lame", "-b:a", "32k"}, true},
        {"tagged.mp3", {"-c:a", "libmp3lame", "-b:a", "128k", "-write_id3v1", "1", "-metadata", "title=Tagged"}, true},
        {"lossless.flac", {}, true},
        {"hires.flac", {"-ar", "48000"}, true},
        {"plain.wav", {}, true},
        {"video.avi", {"-map", "2:v", "-c:v", "mpeg4", "-c:a", "libmp3lame", "-b:a", "128k"}, true},
        {"aac.m4a", {"-c:a", "aac", "-b:a", "128k"}, false},
        {"vorbis.ogg", {"-c:a", "libvorbis"}, false},
        {"opus.opus", {"-c:a", "libopus"}, false},
        {"dolby.ac3", {"-c:a", "ac3"}, false},
        {"layer2.mp2", {"-c:a", "mp2", "-b:a", "192k"}, false},
    };
    for (const Source &s : sources) {
        SCOPED_TRACE(s.name);
        // A video's picture is the third input, mapped beside the sound.
        const bool video = QString(s.name) == "video.avi";
        const QStringList picture = {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=5:duration=9"};
        const QStringList args =
            at(QString(s.name) == "hires.flac" ? 48000 : 44100, video ? picture : QStringList{}) + s.encoder;
        const QString source = media.make(s.name, args);
        for (const WaveFormatEx &format : {pcmFormat(44100, 2, 16), pcmFormat(22050, 1, 8)}) {
            SCOPED_TRACE(format.samplesPerSec);
            const Joined one = joinAlone(source, format, 1, media.path("one.wav"));
            // Every piece after the first decoded apart; then as it runs by
            // default, with the first worker going on into pieces nobody took.
            const Joined apart = joinAlone(source, format, 4, media.path("apart.wav"), false);
            const Joined four = joinAlone(source, format, 4, media.path("four.wav"));
            ASSERT_GT(one.bytes.size(), 44);
            EXPECT_TRUE(one.bytes == apart.bytes)
                << firstDifference(media.path("one.wav"), media.path("apart.wav")).toStdString();
            EXPECT_TRUE(one.bytes == four.bytes)
                << firstDifference(media.path("one.wav"), media.path("four.wav")).toStdString();
            // One worker never cuts. Four decode the pieces after the first
            // apart wherever that can be exact, and none had to fall back to
            // decoding from the start.
            EXPECT_EQ(one.pieces.apart, 0);
            EXPECT_EQ(apart.pieces.apart, s.cutApart ? 3 : 0);
            EXPECT_EQ(apart.pieces.fromStart + four.pieces.fromStart, 0);
        }
    }
}

// A piece that cannot be entered where the index says is decoded in order
// from the start, and so is every piece after it that nobody has taken: the
// bytes stay those of one worker, and no piece reads the file from its start
// but that one.
TEST(Pieces, APieceThatCannotBeEnteredFallsBackToDecodingInOrder)
{
    MediaFixtures media;
    const QString source = media.tone("long.mp3", 12.0, 44100, 2, {"-b:a", "128k"});
    const Joined one = joinAlone(source, pcmFormat(22050, 2, 16), 1, media.path("one.wav"));
    const Joined four = joinAlone(source, pcmFormat(22050, 2, 16), 4, media.path("four.wav"), false,
                                  [](std::string_view operation) { return operation.rfind("ClipReader.Seek:", 0) == 0 ? -1 : 0; });
    ASSERT_GT(one.bytes.size(), 44);
    EXPECT_TRUE(one.bytes == four.bytes) << firstDifference(media.path("one.wav"), media.path("four.wav")).toStdString();
    EXPECT_EQ(four.pieces.apart, 0);
    // Pieces at 2, 4, ... 10 s: the first to fail goes on in order through
    // those nobody has taken; four workers may each meet one.
    EXPECT_GE(four.pieces.fromStart, 1);
    EXPECT_LE(four.pieces.fromStart, 4);
}

// Junk between two frames (a tag in the middle of MP3s put end to end, or
// any other) makes the decoder drop the frame after it, which only decoding
// would tell: such a file is decoded in order, by one worker, whatever the
// number of workers, and plays exactly what FFmpeg decodes of it.
TEST(Pieces, AnMp3WithJunkInTheMiddleIsDecodedInOrder)
{
    MediaFixtures media;
    QByteArray bytes = fileBytes(media.tone("clean.mp3", 9.0, 44100, 2, {"-b:a", "128k"}));
    // Right before a frame header some way in, so the parser finds its
    // frames again after the junk.
    const qsizetype at = bytes.indexOf("\xFF\xFB", bytes.size() / 2);
    ASSERT_GT(at, 0);
    bytes.insert(at, QByteArray(300, 'J'));
    QFile out(media.path("junk.mp3"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    out.close();
    const struct
    {
        QString file;
        int rate, channels;
    } sources[] = {
        {out.fileName(), 44100, 2},
        {media.mp3sEndToEnd("tagged.mp3", {{30.0, 31.3}, 24000, 1, {"-b:a", "32k"}}), 24000, 1},
    };
    for (const auto &s : sources) {
        SCOPED_TRACE(s.file.toStdString());
        const WaveFormatEx format = pcmFormat(s.rate, s.channels, 16);
        const Joined one = joinAlone(s.file, format, 1, media.path("one.wav"));
        const Joined four = joinAlone(s.file, format, 4, media.path("four.wav"), false);
        ASSERT_GT(one.bytes.size(), 44);
        EXPECT_TRUE(one.bytes == four.bytes)
            << firstDifference(media.path("one.wav"), media.path("four.wav")).toStdString();
        EXPECT_EQ(four.pieces.apart, 0);
        const std::vector<std::int16_t> decoded = decodedPcm(s.file, s.rate, s.channels);
        const WavContents w = readWav(media.path("one.wav"));
        EXPECT_EQ(w.frames(), static_cast<std::int64_t>(decoded.size()) / s.channels);
        EXPECT_EQ(firstDifferingFrame(w, decoded), -1);
    }
}

// A frame whose header is intact but whose side information the decoder
// refuses (big_values past 288) plays nothing, though its header gives it
// a frame's length: the index cannot place the samples after it, so the
// file is decoded in order, by one worker, and plays what FFmpeg decodes.
TEST(Pieces, AnMp3WithAFrameItsDecoderRefusesIsDecodedInOrder)
{
    MediaFixtures media;
    const QString clean = media.tone("clean.mp3", 9.0, 44100, 2, {"-b:a", "128k"});
    // MPEG-1 stereo without CRC: big_values begins with the side
    // information's fifth byte.
    const QString refused = media.mp3FrameEdited(clean, "refused.mp3", 150, [](QByteArray &bytes, qsizetype header) {
        ASSERT_TRUE(bytes[header + 1] & 1);
        bytes[header + 8] = static_cast<char>(0xFF);
    });
    const WaveFormatEx format = pcmFormat(44100, 2, 16);
    const Joined one = joinAlone(refused, format, 1, media.path("one.wav"));
    const Joined four = joinAlone(refused, format, 4, media.path("four.wav"), false);
    ASSERT_GT(one.bytes.size(), 44);
    EXPECT_TRUE(one.bytes == four.bytes) << firstDifference(media.path("one.wav"), media.path("four.wav")).toStdString();
    EXPECT_EQ(four.pieces.apart, 0);
    const std::vector<std::int16_t> decoded = decodedPcm(refused, 44100, 2);
    const WavContents w = readWav(media.path("one.wav"));
    EXPECT_EQ(w.frames(), static_cast<std::int64_t>(decoded.size()) / 2);
    EXPECT_EQ(firstDifferingFrame(w, decoded), -1);
}

// Shaped joins in pieces: trims that start between whole seconds, gains,
// and crossfades longer than a piece, so that the clip mixed in runs
// across the pieces of the one it fades into. Four workers write the bytes
// of one. The output is as long as the plan, and the lossless clip at the
// output rate, away from its fades, is FFmpeg's decoding of its kept frames.
TEST(Pieces, ShapedJoinsInPiecesWriteTheBytesOfOne)
{
    MediaFixtures media;
    const auto tones = [&](const QString &name, int rate, double seconds, int low, const QStringList &encoder) {
        const QString tone = QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=%3");
        return media.make(name, QStringList{"-f", "lavfi", "-i", tone.arg(low).arg(rate).arg(seconds), "-f", "lavfi",
                                            "-i", tone.arg(low * 3 / 2).arg(rate).arg(seconds), "-filter_complex",
                                            "[0:a][1:a]amerge=inputs=2,volume=6dB[a]", "-map", "[a]"} +
                                encoder);
    };
    const QStringList sources = {
        tones("clip.mp3", 44100, 24, 330, {"-c:a", "libmp3lame", "-b:a", "192k"}),
        tones("lossless.flac", 44100, 25, 440, {}),
        tones("clip.m4a", 44100, 22, 550, {"-c:a", "aac", "-b:a", "128k"}),
        tones("hires.flac", 48000, 26, 660, {}),
    };
    constexpr std::size_t kLossless = 1;
    std::vector<PlanItem> items;
    for (const QString &source : sources) {
        ReferenceTime length = 0;
        EXPECT_FALSE(probeDuration(source.toStdString(), length).failed());
        items.push_back({source.toStdString(), length});
    }
    const struct
    {
        const char *name;
        WaveFormatEx format;
        double gapSeconds;
        double crossfadeSeconds;
        struct
        {
            double lead, kept, gain; // seconds, a few frames more; kept < 0: to the end
        } shapes[4];
    } cases[] = {
        {"crossfades", pcmFormat(44100, 2, 16), 0, 5.3,
         {{0.37, -1, 0.8}, {1.23, 19.71, 1.0}, {0.91, 17.1, 1.4}, {2.07, -1, 0.5}}},
        {"gaps", pcmFormat(44100, 2, 16), 0.77, 0,
         {{2.55, 19.02, 1.25}, {3.31, -1, 1.0}, {0, 18.4, 0.7}, {0.13, 21.9, 1.1}}},
        {"8-bit crossfades", pcmFormat(22050, 1, 8), 0, 3.7,
         {{0.37, -1, 1.0}, {1.23, 19.71, 0.6}, {0.91, 17.1, 1.0}, {0, -1, 1.3}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const int rate = static_cast<int>(c.format.samplesPerSec);
        const auto framesOf = [rate](double seconds) { return seconds < 0 ? -1 : std::llround(seconds * rate) + 3; };
        Joints joints{std::llround(c.gapSeconds * rate), std::llround(c.crossfadeSeconds * rate), {}};
        for (const auto &shape : c.shapes)
            joints.shapes.push_back({framesOf(shape.lead), framesOf(shape.kept), shape.gain});
        JoinPlan plan = planJoin(items, media.path("one.wav").toStdString(), c.format);
        ASSERT_TRUE(shapeJoin(plan, joints).empty());
        const Joined one = joinPlan(plan, 1);
        plan.outputPath = media.path("four.wav").toStdString();
        const Joined four = joinPlan(plan, 4);
        ASSERT_GT(one.bytes.size(), 44);
        EXPECT_TRUE(one.bytes == four.bytes)
            << firstDifference(media.path("one.wav"), media.path("four.wav")).toStdString();
        EXPECT_EQ(one.pieces.apart, 0);
        EXPECT_GT(four.pieces.apart, 0);
        EXPECT_EQ(four.pieces.fromStart, 0);

        const WavContents w = readWav(media.path("one.wav"));
        ASSERT_TRUE(w.valid);
        EXPECT_EQ(w.frames(), plan.totalFrames());
        if (c.format.bitsPerSample != 16 || rate != 44100)
            continue;
        const ClipSpec &clip = plan.clips[kLossless];
        const std::int64_t begin = plan.firstSample(kLossless) + clip.fadeInFrames;
        const std::int64_t end = sampleAt(clip.stop, rate) - clip.fadeOutFrames;
        const std::int64_t from = joints.shapes[kLossless].lead + clip.fadeInFrames;
        const std::vector<std::int16_t> decoded = decodedPcm(sources[kLossless], rate, 2);
        ASSERT_GT(end - begin, 4 * rate);
        ASSERT_LE(static_cast<std::size_t>(2 * (from + end - begin)), decoded.size());
        const std::vector<std::int16_t> kept(decoded.begin() + 2 * from, decoded.begin() + 2 * (from + end - begin));
        EXPECT_EQ(firstDifferingFrame(w, kept, begin), -1);
    }
}
