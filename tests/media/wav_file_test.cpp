#include "media/wav_file.h"
#include "compose/failure_text.h"
#include "support/media_fixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sonaweld::media;
using sonaweld::failureText;
using sonaweld::test::readWav;

namespace {

std::vector<std::uint8_t> ramp(std::int64_t bytes)
{
    std::vector<std::uint8_t> v(static_cast<size_t>(bytes));
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::uint8_t>(i * 7);
    return v;
}

} // namespace

TEST(WavFile, PlainHeaderWithExactSizes)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("a.wav").toStdString();
    WavFile f;
    const WaveFormatEx fmt = pcmFormat(22050, 2, 16);
    ASSERT_TRUE(f.create(path, fmt, 100));
    EXPECT_EQ(f.headerBytes(), 44);
    const auto data = ramp(400);
    // Written out of order, as parallel workers do.
    ASSERT_TRUE(f.writeFrames(50, data.data() + 200, 50));
    ASSERT_TRUE(f.writeFrames(0, data.data(), 50));
    ASSERT_TRUE(f.finish(100));

    const auto w = readWav(QString::fromStdString(path));
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_FALSE(w.rf64);
    EXPECT_EQ(w.formatTag, 1);
    EXPECT_EQ(w.rate, 22050);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.riffSize, 36u + 400u);
    EXPECT_EQ(w.fileSize, 444u);
    EXPECT_EQ(w.data, data);
}

TEST(WavFile, OddDataGetsItsPadByte)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("odd.wav").toStdString();
    WavFile f;
    ASSERT_TRUE(f.create(path, pcmFormat(8000, 1, 8), 7));
    const auto data = ramp(7);
    ASSERT_TRUE(f.writeFrames(0, data.data(), 7));
    ASSERT_TRUE(f.finish(7));
    const auto w = readWav(QString::fromStdString(path));
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.data.size(), 7u);
    EXPECT_EQ(w.fileSize, 44u + 8u);
    EXPECT_EQ(w.riffSize, 36u + 8u);
}

TEST(WavFile, HeaderFollowsTheWrittenPrefixAndStopCutsThere)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("p.wav").toStdString();
    WavFile f;
    ASSERT_TRUE(f.create(path, pcmFormat(44100, 2, 16), 1000));
    const auto data = ramp(4000);
    ASSERT_TRUE(f.writeFrames(0, data.data(), 300));
    ASSERT_TRUE(f.writeFrames(600, data.data() + 2400, 100));
    ASSERT_TRUE(f.commitPrefix(300));
    // As a reader sees it if the program died now: 300 valid frames.
    auto w = readWav(QString::fromStdString(path));
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.frames(), 300);

    ASSERT_TRUE(f.finish(300));
    w = readWav(QString::fromStdString(path));
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.frames(), 300);
    EXPECT_EQ(w.fileSize, 44u + 1200u);
    EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.begin() + 1200), w.data);
}

TEST(WavFile, TurnsIntoRf64PastTheThreshold)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("big.wav").toStdString();
    const auto data = ramp(4000);
    WavFile f;
    // A threshold of 2000 bytes stands in for the 4 GiB limit.
    ASSERT_TRUE(f.create(path, pcmFormat(44100, 2, 16), 1000, 2000));
    EXPECT_EQ(f.headerBytes(), 80);
    ASSERT_TRUE(f.writeFrames(0, data.data(), 1000));

    // Below the threshold the reserved chunk is plain JUNK in a RIFF file.
    ASSERT_TRUE(f.commitPrefix(400));
    auto w = readWav(QString::fromStdString(path));
    ASSERT_TRUE(w.valid);
    EXPECT_FALSE(w.rf64);
    EXPECT_EQ(w.frames(), 400);

    ASSERT_TRUE(f.finish(1000));
    w = readWav(QString::fromStdString(path));
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_TRUE(w.rf64);
    EXPECT_EQ(w.riffSize, 72u + 4000u);
    EXPECT_EQ(w.data, data);

    // A file that stays small keeps the classic 44-byte header.
    WavFile small;
    ASSERT_TRUE(small.create(dir.filePath("s.wav").toStdString(), pcmFormat(44100, 2, 16), 10, 2000));
    EXPECT_EQ(small.headerBytes(), 44);
}

TEST(WavFile, CreateFailureNamesTheFileAndTheReason)
{
    WavFile f;
    const Result r = f.create("/nonexistent-folder/out.wav", pcmFormat(44100, 2, 16), 10);
    ASSERT_TRUE(r.failed());
    EXPECT_NE(failureText(r).find("/nonexistent-folder/out.wav"), std::string::npos);
    EXPECT_NE(failureText(r).find("No such file or directory"), std::string::npos);
}
