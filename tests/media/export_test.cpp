#include "media/export_job.h"
#include "support/media_fixtures.h"

#include <QFile>

#include <chrono>
#include <future>

#include <gtest/gtest.h>

using namespace sonaweld::media;
using namespace sonaweld::test;

namespace {

constexpr ReferenceTime kSecond = kUnitsPerSecond;

struct Outcome
{
    bool finished = false;
    Result result;
};

Outcome runToEnd(ExportJob &job)
{
    std::promise<Result> done;
    auto future = done.get_future();
    const Result started = job.start([&](const Result &r) { done.set_value(r); });
    if (started.failed())
        return {false, started};
    if (future.wait_for(std::chrono::seconds(120)) != std::future_status::ready)
        return {false, fail(Code::kAbort, "timed out")};
    return {true, future.get()};
}

class ExportTest : public ::testing::Test
{
protected:
    MediaFixtures media;

    WavContents join(const std::vector<ClipSpec> &clips, const WaveFormatEx &format,
                     ExportOptions options = {})
    {
        const QString out = media.path("out.wav");
        ExportJob job(clips, format, out.toStdString(), options);
        const Outcome o = runToEnd(job);
        EXPECT_TRUE(o.finished);
        EXPECT_FALSE(o.result.failed()) << o.result.text();
        return readWav(out);
    }
};

} // namespace

TEST_F(ExportTest, ExactSampleCountsForEveryOutputFormat)
{
    const QString pcm = media.tone("in.wav", 1.3, 48000, 2);
    const QString flac = media.tone("in.flac", 0.7, 96000, 1);
    // Boundaries chosen so that none falls on a whole sample at 11025 Hz.
    const std::vector<ClipSpec> clips{{pcm.toStdString(), 0, 12345678, 0},
                                      {flac.toStdString(), 12345678, 19999999, 0}};
    for (int rate : {44100, 22050, 11025, 8000}) {
        for (int channels : {2, 1}) {
            for (int bits : {16, 8}) {
                const WaveFormatEx fmt = pcmFormat(rate, channels, bits);
                const WavContents w = join(clips, fmt);
                ASSERT_TRUE(w.valid) << w.error.toStdString();
                EXPECT_EQ(w.rate, rate);
                EXPECT_EQ(w.channels, channels);
                EXPECT_EQ(w.bits, bits);
                EXPECT_EQ(w.frames(), sampleAt(19999999, rate)) << rate << "/" << channels << "/" << bits;
            }
        }
    }
}

TEST_F(ExportTest, ShortSourcesArePaddedAndLongOnesCut)
{
    const QString shortTone = media.constantWav("short.wav", 4410, 44100, 2, 1000);
    const WavContents w = join({{shortTone.toStdString(), 0, kSecond / 2, 0},
                                {shortTone.toStdString(), kSecond / 2, kSecond / 2 + kSecond / 20, 0}},
                               pcmFormat(44100, 2, 16));
    ASSERT_TRUE(w.valid);
    ASSERT_EQ(w.frames(), 22050 + 2205);
    EXPECT_EQ(w.sample(0, 0), 1000);
    EXPECT_EQ(w.sample(4409, 1), 1000);
    EXPECT_EQ(w.sample(4410, 0), 0);     // past the short file: silence
    EXPECT_EQ(w.sample(22049, 1), 0);
    EXPECT_EQ(w.sample(22050, 0), 1000); // the next clip starts on time
    EXPECT_EQ(w.sample(22050 + 2204, 1), 1000);
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

TEST_F(ExportTest, StopLeavesAValidFileOfWhatWasWritten)
{
    const QString longTone = media.tone("long.mp3", 60.0, 44100, 2, {"-b:a", "128k"});
    const QString out = media.path("stopped.wav");
    ExportOptions one;
    one.workers = 1;
    one.chunkFrames = 64;
    ExportJob job({{longTone.toStdString(), 0, 60 * kSecond, 0}}, pcmFormat(44100, 2, 16), out.toStdString(), one);
    bool finished = false;
    ASSERT_TRUE(job.start([&](const Result &) { finished = true; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto before = std::chrono::steady_clock::now();
    job.stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_FALSE(finished);

    const WavContents w = readWav(out);
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_GT(w.frames(), 0);
    EXPECT_LT(w.frames(), 60 * 44100);
    EXPECT_EQ(w.fileSize, 44u + w.data.size());
    EXPECT_EQ(w.riffSize, 36u + w.data.size());
}

TEST_F(ExportTest, AVanishedSourceAbortsWithItsName)
{
    const QString ok = media.constantWav("ok.wav", 4410, 44100, 2, 5);
    const std::string gone = media.path("gone.mp3").toStdString();
    const QString out = media.path("out.wav");
    ExportJob job({{ok.toStdString(), 0, kSecond / 10, 0}, {gone, kSecond / 10, kSecond / 5, 0}},
                  pcmFormat(44100, 2, 16), out.toStdString());
    const Outcome o = runToEnd(job);
    ASSERT_TRUE(o.finished);
    ASSERT_TRUE(o.result.failed());
    EXPECT_NE(o.result.text().find(gone), std::string::npos) << o.result.text();
    EXPECT_LE(o.result.text().size(), kMaxErrorText);
    // What could be written is still a valid file.
    EXPECT_TRUE(readWav(out).valid);
}

TEST_F(ExportTest, ADamagedMiddleIsConcealed)
{
    const QString tone = media.tone("tone.mp3", 4.0, 44100, 2, {"-b:a", "128k"});
    QFile f(tone);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 3000; ++i)
        bytes[i] = static_cast<char>(i * 31);
    f.seek(0);
    f.write(bytes);
    f.close();

    const WavContents w = join({{tone.toStdString(), 0, 4 * kSecond, 0}}, pcmFormat(44100, 2, 16));
    ASSERT_TRUE(w.valid);
    ASSERT_EQ(w.frames(), 4 * 44100);
    // The end of the clip still plays, as loud as its start.
    const auto peakFrom = [&](std::int64_t first) {
        int peak = 0;
        for (std::int64_t i = first; i < first + 1000; ++i)
            peak = std::max(peak, std::abs(w.sample(i, 0)));
        return peak;
    };
    const int start = peakFrom(44100 / 2);
    EXPECT_GT(start, 2000);
    EXPECT_GT(peakFrom(3 * 44100 + 44100 / 2), start / 2);
}
