#include "media/probe.h"
#include "support/media_fixtures.h"

#include <gtest/gtest.h>

using namespace sonaweld::media;
using namespace sonaweld::test;

namespace {

struct Case
{
    const char *name;
    QStringList encoder;
    int frameSamples; // one codec frame
};

} // namespace

TEST(Probe, LengthIsWhatDecodingYieldsWithinOneFrame)
{
    MediaFixtures media;
    const Case cases[] = {
        {"lame.mp3", {"-b:a", "192k"}, 1152},
        {"nolame.mp3", {"-b:a", "192k", "-write_xing", "0"}, 1152},
        {"vbr-noxing.mp3", {"-q:a", "4", "-write_xing", "0"}, 1152},
        {"aac.m4a", {"-c:a", "aac"}, 1024},
        {"adts.aac", {"-c:a", "aac"}, 1024},
        {"vorbis.ogg", {"-c:a", "libvorbis"}, 2048},
        {"vorbis.mkv", {"-c:a", "libvorbis"}, 2048},
        {"opus.opus", {"-c:a", "libopus"}, 960},
        {"flac.flac", {}, 4608},
        {"ac3.ac3", {}, 1536},
        {"pcm.aiff", {}, 1},
    };
    for (const Case &c : cases) {
        const QString file = media.tone(c.name, 7.3, 44100, 2, c.encoder);
        ReferenceTime length = -1;
        const Result r = probeDuration(file.toStdString(), length);
        ASSERT_TRUE(r) << c.name << ": " << r.text();
        const int rate = c.frameSamples == 960 ? 48000 : 44100;
        const std::int64_t decoded = MediaFixtures::decodedSamples(file);
        const std::int64_t probed = length * rate / kUnitsPerSecond;
        EXPECT_LE(std::abs(probed - decoded), c.frameSamples)
            << c.name << ": probed " << probed << " decoded " << decoded;
    }
}

TEST(Probe, PcmHeadersAreExact)
{
    MediaFixtures media;
    const QString wav = media.constantWav("c.wav", 12345, 8000, 1, 0);
    ReferenceTime length = 0;
    ASSERT_TRUE(probeDuration(wav.toStdString(), length));
    EXPECT_EQ(length, 12345LL * kUnitsPerSecond / 8000);
}

TEST(Probe, RefusesFilesWithoutDecodableAudioNamingThem)
{
    MediaFixtures media;
    const QString empty = media.textFile("empty.mp3", "");
    const QString text = media.textFile("notes.mp3", "These are my notes, not music.\n");
    const QString silentVideo = media.make(
        "silent.mp4", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v", "mpeg4"});
    for (const QString &file : {empty, text, silentVideo, media.path("missing.wav")}) {
        ReferenceTime length = 0;
        const Result r = probeDuration(file.toStdString(), length);
        EXPECT_TRUE(r.failed()) << file.toStdString();
        EXPECT_NE(r.text().find(file.toStdString()), std::string::npos) << r.text();
    }
}

TEST(Probe, ACancelledMeasurementGivesUp)
{
    MediaFixtures media;
    const QString file = media.tone("t.mp3", 1.0);
    std::atomic<bool> cancel{true};
    ReferenceTime length = -1;
    EXPECT_TRUE(probeDuration(file.toStdString(), length, &cancel).failed());
    cancel = false;
    EXPECT_TRUE(probeDuration(file.toStdString(), length, &cancel));
    EXPECT_GT(length, 0);
}
