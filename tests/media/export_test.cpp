#include "media/export_job.h"
#include "compose/failure_text.h"
#include "media/probe.h"
#include "support/job_harness.h"
#include "support/media_fixtures.h"

#include <QFile>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

using namespace sonaweld::media;
using namespace sonaweld::test;
using sonaweld::failureText;

namespace {

constexpr ReferenceTime kSecond = kUnitsPerSecond;

// A file's length as it is measured: the decoder's count, rounded up to the
// next unit.
ReferenceTime measured(const QString &path, int rate)
{
    const std::int64_t samples = MediaFixtures::decodedSamples(path);
    return (samples * kSecond + rate - 1) / rate;
}

bool validUtf8(const std::string &text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                                                 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

class ExportTest : public ::testing::Test
{
protected:
    MediaFixtures media;

    WavContents join(const std::vector<ClipSpec> &clips, const WaveFormatEx &format,
                     ExportOptions options = {})
    {
        const QString out = media.path("out.wav");
        ExportJob job({clips, out.toStdString(), format}, options);
        const JobEnd o = runJob(job);
        EXPECT_TRUE(o.ended) << failureText(o.start);
        EXPECT_FALSE(o.result.failed()) << failureText(o.result);
        return readWav(out);
    }
};

} // namespace

TEST_F(ExportTest, ExactSampleCountsForEveryOutputFormat)
{
    const QString pcm = media.tone("in.wav", 1.3, 48000, 2);
    const QString flac = media.tone("in.flac", 0.8, 96000, 1);
    // Boundaries chosen so that none falls on a whole sample at 11025 Hz;
    // 1.9999999 s holds 88199.9955 samples at 44100 Hz, and so on.
    const std::vector<ClipSpec> clips{{pcm.toStdString(), 0, 12345678, 0},
                                      {flac.toStdString(), 12345678, 19999999, 0}};
    const std::pair<int, std::int64_t> rates[] = {{44100, 88199}, {22050, 44099}, {11025, 22049}, {8000, 15999}};
    for (const auto &[rate, frames] : rates) {
        for (int channels : {2, 1}) {
            for (int bits : {16, 8}) {
                const WaveFormatEx fmt = pcmFormat(rate, channels, bits);
                const WavContents w = join(clips, fmt);
                ASSERT_TRUE(w.valid) << w.error.toStdString();
                EXPECT_EQ(w.rate, rate);
                EXPECT_EQ(w.channels, channels);
                EXPECT_EQ(w.bits, bits);
                EXPECT_EQ(w.frames(), frames) << rate << "/" << channels << "/" << bits;
            }
        }
    }
}

TEST_F(ExportTest, LosslessSourcesArriveSampleForSample)
{
    // Long sources in chunks that divide nothing, on two workers: any frame
    // lost, repeated or written at the wrong offset shows against FFmpeg's
    // own decoding.
    const QString a = media.tone("a.flac", 20.0, 44100, 2);
    const QString b = media.make("b.wav", {"-f", "lavfi", "-i", "sine=frequency=1000:duration=7.3:sample_rate=44100",
                                           "-ac", "2"});
    const ReferenceTime aLength = measured(a, 44100);
    const ReferenceTime bLength = measured(b, 44100);
    ExportOptions options;
    options.workers = 2;
    options.chunkFrames = 1000;
    const WavContents w = join({{a.toStdString(), 0, aLength, 0}, {b.toStdString(), aLength, aLength + bLength, 0}},
                               pcmFormat(44100, 2, 16), options);
    ASSERT_TRUE(w.valid) << w.error.toStdString();

    std::vector<std::int16_t> expected = decodedPcm(a, 44100, 2);
    const std::vector<std::int16_t> second = decodedPcm(b, 44100, 2);
    ASSERT_EQ(expected.size(), 2u * 20 * 44100);
    expected.insert(expected.end(), second.begin(), second.end());
    ASSERT_EQ(w.data.size(), expected.size() * 2);
    std::int64_t firstDifference = -1;
    for (std::size_t i = 0; i < expected.size() && firstDifference < 0; ++i) {
        if (w.sample(static_cast<std::int64_t>(i / 2), static_cast<int>(i % 2)) != expected[i])
            firstDifference = static_cast<std::int64_t>(i / 2);
    }
    EXPECT_EQ(firstDifference, -1) << "frames differ from frame " << firstDifference;
}

TEST_F(ExportTest, AFewMissingSamplesArePaddedAndLongSourcesCut)
{
    // 4410 frames in a span of 4413, then a long source cut after 50 ms.
    const QString shortTone = media.constantWav("short.wav", 4410, 44100, 2, 1000);
    const QString longTone = media.constantWav("long.wav", 44100, 44100, 2, 2000);
    const ReferenceTime edge = 1000681; // 4413.003 samples
    const WavContents w = join({{shortTone.toStdString(), 0, edge, 0},
                                {longTone.toStdString(), edge, edge + kSecond / 20, 0}},
                               pcmFormat(44100, 2, 16));
    ASSERT_TRUE(w.valid);
    ASSERT_EQ(w.frames(), 6618);
    EXPECT_EQ(w.sample(0, 0), 1000);
    EXPECT_EQ(w.sample(4409, 1), 1000);
    EXPECT_EQ(w.sample(4410, 0), 0); // past the short file: silence
    EXPECT_EQ(w.sample(4412, 1), 0);
    EXPECT_EQ(w.sample(4413, 0), 2000); // the next clip starts on time
    EXPECT_EQ(w.sample(6617, 1), 2000);
}

TEST_F(ExportTest, ASourceEndingWellBeforeItsSpanFails)
{
    // Half a second of 44100 Hz audio joined at 8000 Hz: 80 ms short is
    // padded, 150 ms short is a changed file. The allowance is output time,
    // not source samples.
    const QString half = media.constantWav("half.wav", 22050, 44100, 1, 500);
    const std::string path = half.toStdString();
    struct Case
    {
        ReferenceTime span;
        bool fails;
    };
    for (const Case c : {Case{5800000, false}, Case{6500000, true}}) {
        const QString out = media.path("out.wav");
        ExportJob job({{{path, 0, c.span, 0}}, out.toStdString(), pcmFormat(8000, 1, 16)});
        const JobEnd o = runJob(job);
        ASSERT_TRUE(o.ended) << failureText(o.start);
        EXPECT_EQ(o.result.failed(), c.fails) << c.span << ": " << failureText(o.result);
        const WavContents w = readWav(out);
        ASSERT_TRUE(w.valid);
        if (c.fails) {
            EXPECT_NE(failureText(o.result).find(path + " ended 0.15 seconds early"), std::string::npos)
                << failureText(o.result);
            EXPECT_EQ(w.frames(), job.framesDone());
        } else {
            EXPECT_EQ(w.frames(), 4640);
            EXPECT_EQ(w.sample(3900, 0), 500);
            EXPECT_EQ(w.sample(4639, 0), 0);
        }
    }
}

TEST_F(ExportTest, ASourceCutShortAfterMeasuringFailsAndKeepsWhatItHeld)
{
    // Measured whole, then cut to half its bytes before the join, as a file
    // still being copied or replaced would be.
    for (const QString name : {"long.wav", "long.flac", "long.mp3"}) {
        const QString source = media.tone(name, 20.0, 44100, 2);
        const ReferenceTime length = measured(source, 44100);
        QFile file(source);
        ASSERT_TRUE(file.resize(file.size() / 2));
        const std::int64_t remaining = MediaFixtures::decodedSamples(source);
        ASSERT_LT(remaining, 15 * 44100);

        const QString out = media.path("cut.wav");
        ExportJob job({{{source.toStdString(), 0, length, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)});
        const JobEnd o = runJob(job);
        ASSERT_TRUE(o.ended) << name.toStdString();
        ASSERT_TRUE(o.result.failed()) << name.toStdString();
        EXPECT_NE(failureText(o.result).find(source.toStdString() + " ended "), std::string::npos) << failureText(o.result);

        const WavContents w = readWav(out);
        ASSERT_TRUE(w.valid) << w.error.toStdString();
        EXPECT_EQ(w.frames(), job.framesDone()) << name.toStdString();
        EXPECT_EQ(w.frames(), remaining) << name.toStdString();
        EXPECT_EQ(w.fileSize, 44u + w.data.size() + w.trailer);
        EXPECT_EQ(w.riffSize, 36u + w.data.size());
    }
}

TEST_F(ExportTest, OverlapsAreMixedAndClippedAndGapsAreSilent)
{
    const QString a = media.constantWav("a.wav", 44100, 44100, 2, 1000);
    const QString b = media.constantWav("b.wav", 44100, 44100, 2, 2000);
    const QString loud = media.constantWav("loud.wav", 44100, 44100, 2, 30000);
    // |a 0-0.5|        |loud 0.6-0.8  |
    //    |b 0.25-0.5|  |loud 0.7-0.9    |
    const std::vector<ClipSpec> clips{
        {a.toStdString(), 0, kSecond / 2, 0},
        {b.toStdString(), kSecond / 4, kSecond / 2, 0},
        {loud.toStdString(), 6 * kSecond / 10, 8 * kSecond / 10, 0},
        {loud.toStdString(), 7 * kSecond / 10, 9 * kSecond / 10, 0},
    };
    const WavContents w = join(clips, pcmFormat(44100, 2, 16));
    ASSERT_TRUE(w.valid);
    ASSERT_EQ(w.frames(), 39690);
    EXPECT_EQ(w.sample(100, 0), 1000);
    EXPECT_EQ(w.sample(11025, 1), 3000);
    EXPECT_EQ(w.sample(22049, 0), 3000);
    EXPECT_EQ(w.sample(22050, 0), 0);     // gap
    EXPECT_EQ(w.sample(26459, 1), 0);
    EXPECT_EQ(w.sample(26460, 0), 30000);
    EXPECT_EQ(w.sample(30870, 0), 32767); // summed past full scale: clipped
    EXPECT_EQ(w.sample(35280, 1), 30000);
}

TEST_F(ExportTest, EightBitSilenceIsTheMidpoint)
{
    const QString a = media.constantWav("a.wav", 8000, 8000, 1, 0);
    const WavContents w = join({{a.toStdString(), kSecond / 10, kSecond / 5, 0}}, pcmFormat(8000, 1, 8));
    ASSERT_TRUE(w.valid);
    ASSERT_EQ(w.frames(), 1600);
    for (std::int64_t f : {0LL, 799LL, 800LL, 1599LL})
        EXPECT_EQ(w.sample(f, 0), 0x80) << f;
}

TEST_F(ExportTest, MonoIsDuplicatedAtFullLevelOnBothSides)
{
    const QString mono = media.constantWav("mono.wav", 44100, 44100, 1, 12000);
    const WavContents w = join({{mono.toStdString(), 0, kSecond / 10, 0}}, pcmFormat(44100, 2, 16));
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.sample(100, 0), 12000);
    EXPECT_EQ(w.sample(100, 1), 12000);
}

TEST_F(ExportTest, ResamplingIsContinuousAcrossChunks)
{
    // A tone converted 44100 -> 8000 in small chunks must not click where
    // chunks meet: neighbouring samples stay close.
    const QString tone = media.tone("tone.wav", 1.0, 44100, 1);
    ExportOptions small;
    small.chunkFrames = 97;
    const WavContents w = join({{tone.toStdString(), 0, kSecond, 0}}, pcmFormat(8000, 1, 16), small);
    ASSERT_TRUE(w.valid);
    int worst = 0;
    for (std::int64_t f = 100; f + 1 < w.frames() - 100; ++f)
        worst = std::max(worst, std::abs(w.sample(f + 1, 0) - w.sample(f, 0)));
    // A 440 Hz sine at 8000 Hz changes by at most 2*pi*440/8000 of its peak.
    EXPECT_LT(worst, 4000);
    EXPECT_GT(worst, 1000);
}

TEST_F(ExportTest, FramesConvertedInSlicesMatchFfmpegsResampler)
{
    // At 100 Hz into 44100 Hz every decoded frame outgrows a slice (148
    // input samples) and is handed to the resampler in pieces. The ffmpeg
    // tool resamples with the same settings in one go: its output, sample
    // for sample and side for side, is the reference. Left and right differ,
    // and the sources decode to packed (PCM) and planar (IMA ADPCM) samples.
    const QStringList stereo = {"-f", "lavfi", "-i", "sine=frequency=9:sample_rate=100:duration=12",
                                "-f", "lavfi", "-i", "sine=frequency=31:sample_rate=100:duration=12",
                                "-filter_complex", "[0:a][1:a]amerge=inputs=2"};
    for (const QStringList &codec : {QStringList{"-c:a", "pcm_s16le"}, QStringList{"-c:a", "adpcm_ima_wav"}}) {
        SCOPED_TRACE(codec.last().toStdString());
        const QString source = media.make(codec.last() + ".wav", stereo + codec);
        const QString reference =
            media.make(codec.last() + "-ref.wav", {"-i", source, "-ar", "44100", "-c:a", "pcm_s16le"});
        const ReferenceTime length = measured(source, 100);
        const WavContents w = join({{source.toStdString(), 0, length, 0}}, pcmFormat(44100, 2, 16));
        const WavContents r = readWav(reference);
        ASSERT_TRUE(w.valid && r.valid);
        const std::int64_t common = std::min(w.frames(), r.frames());
        ASSERT_GT(common, 11 * 44100);
        int worst = 0;
        std::int64_t at = -1;
        for (std::int64_t f = 0; f < common; ++f) {
            for (int c = 0; c < 2; ++c) {
                const int d = std::abs(w.sample(f, c) - r.sample(f, c));
                if (d > worst) {
                    worst = d;
                    at = f;
                }
            }
        }
        EXPECT_EQ(worst, 0) << "at frame " << at;
        EXPECT_NE(w.sample(50000, 0), w.sample(50000, 1));
    }
}

TEST_F(ExportTest, StopLeavesAValidFileOfWhatWasWritten)
{
    const QString longTone = media.tone("long.mp3", 60.0, 44100, 2, {"-b:a", "128k"});
    const QString out = media.path("stopped.wav");
    ExportOptions one;
    one.workers = 1;
    one.chunkFrames = 64;
    ExportJob job({{{longTone.toStdString(), 0, 60 * kSecond, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)}, one);
    JobWatch watch(job);
    ASSERT_TRUE(watch.started()) << failureText(watch.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto before = std::chrono::steady_clock::now();
    job.stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_FALSE(watch.ended());

    const WavContents w = readWav(out);
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_GT(w.frames(), 0);
    EXPECT_LT(w.frames(), 60 * 44100);
    EXPECT_EQ(w.fileSize, 44u + w.data.size() + w.trailer);
    EXPECT_EQ(w.riffSize, 36u + w.data.size());
}

TEST_F(ExportTest, AVanishedSourceAbortsWithItsWholeNameAndReason)
{
    const QString ok = media.constantWav("ok.wav", 4410, 44100, 2, 5);
    // Over 300 bytes of path, many of them two-byte letters, so any cut
    // would lose the reason or split a character.
    QString folder = media.dir();
    for (int i = 0; i < 6; ++i)
        folder += QStringLiteral("/Überspielte Aufnahmen für Jürgen Größe %1").arg(i);
    const std::string gone = (folder + QStringLiteral("/Öffnung.mp3")).toStdString();
    ASSERT_GT(gone.size(), 300u);
    const QString out = media.path("out.wav");
    ExportJob job({{{ok.toStdString(), 0, kSecond / 10, 0}, {gone, kSecond / 10, kSecond / 5, 0}}, out.toStdString(), pcmFormat(44100, 2, 16)});
    const JobEnd o = runJob(job);
    ASSERT_TRUE(o.ended) << failureText(o.start);
    ASSERT_TRUE(o.result.failed());
    const std::string text = failureText(o.result);
    EXPECT_NE(text.find(gone), std::string::npos) << text;
    const std::string reason = "No such file or directory";
    ASSERT_GE(text.size(), reason.size());
    EXPECT_EQ(text.substr(text.size() - reason.size()), reason) << text;
    EXPECT_TRUE(validUtf8(text));
    // What could be written is still a valid file.
    EXPECT_TRUE(readWav(out).valid);
}

TEST_F(ExportTest, ADamagedMiddleIsConcealed)
{
    const QString tone = media.tone("tone.aac", 4.0, 44100, 2, {"-c:a", "aac"});
    QFile f(tone);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    // Twenty frames (0.46 s, more than any shortfall a join lets pass) keep
    // their headers, so they are counted, but not their sound, so the
    // decoder drops them.
    int frame = 0;
    for (qsizetype at = 0; at + 7 <= bytes.size(); ++frame) {
        const auto *h = reinterpret_cast<const std::uint8_t *>(bytes.constData() + at);
        ASSERT_EQ(h[0], 0xFF) << "not an ADTS header at " << at;
        const qsizetype length = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
        if (frame >= 60 && frame < 80) {
            for (qsizetype i = at + 7; i < at + length; ++i)
                bytes[i] = static_cast<char>(i * 31);
        }
        at += length;
    }
    f.seek(0);
    f.write(bytes);
    f.close();

    // Joined at the length the file is measured at, which counts the frames
    // the decoder drops: they are no sign of a shorter file.
    ReferenceTime length = 0;
    ASSERT_TRUE(probeDuration(tone.toStdString(), length));
    const std::int64_t decoded = MediaFixtures::decodedSamples(tone);
    ASSERT_LT(decoded, 4 * 44100 - 44100 / 10);
    const WavContents w = join({{tone.toStdString(), 0, length, 0}}, pcmFormat(44100, 2, 16));
    ASSERT_TRUE(w.valid);
    ASSERT_GE(w.frames(), decoded);
    // The end of the clip still plays, as loud as its start.
    const auto peakFrom = [&](std::int64_t first) {
        int peak = 0;
        for (std::int64_t i = first; i < first + 1000; ++i)
            peak = std::max(peak, std::abs(w.sample(i, 0)));
        return peak;
    };
    const int start = peakFrom(44100 / 2);
    EXPECT_GT(start, 2000);
    EXPECT_GT(peakFrom(decoded - 44100 / 2), start / 2);
}

TEST(ExportJobDeathTest, DestroyingTheJobFromItsFinishedCallbackAbortsWithAMessage)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MediaFixtures media;
    const std::string source = media.constantWav("a.wav", 441, 44100, 2, 1).toStdString();
    const std::string out = media.path("out.wav").toStdString();
    EXPECT_DEATH(
        {
            auto *job = new ExportJob({{{source, 0, kSecond / 100, 0}}, out, pcmFormat(44100, 2, 16)});
            if (job->start([job](const Result &) { delete job; }))
                std::this_thread::sleep_for(std::chrono::seconds(30));
        },
        "destroyed on its own thread");
}
