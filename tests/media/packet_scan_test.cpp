// Reading a file's audio packets without decoding: the probe measures with
// it and the packet index places every sample with it.
#include "media/packet_index.h"
#include "compose/failure_text.h"
#include "media/packet_scan.h"
#include "support/media_fixtures.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace sonaweld::media;
using namespace sonaweld::test;
using sonaweld::failureText;

namespace {

struct Source
{
    const char *name;
    QString file;
    // The most samples one packet decodes to, where the index is exact;
    // 0 where the source cannot be indexed.
    std::int64_t packetSamples;
};

std::vector<Source> sources(const MediaFixtures &media)
{
    const QString video = media.make(
        "video.avi", {"-f", "lavfi", "-i", "sine=frequency=440:duration=9", "-f", "lavfi", "-i",
                      "testsrc=size=64x48:rate=5:duration=9", "-map", "1:v", "-map", "0:a", "-c:v", "mpeg4", "-c:a",
                      "libmp3lame"});
    const QString flac = media.tone("a.flac", 9.0);
    QFile whole(flac);
    EXPECT_TRUE(whole.open(QIODevice::ReadOnly));
    QFile cut(media.path("cut.flac"));
    EXPECT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(whole.readAll().chopped(whole.size() * 2 / 5));
    cut.close();
    return {
        {"MP3", media.tone("cbr.mp3", 9.0, 44100, 2, {"-b:a", "128k"}), 1152},
        {"VBR MP3 without a Xing header", media.tone("vbr.mp3", 9.0, 22050, 1, {"-q:a", "4", "-write_xing", "0"}),
         576},
        {"FLAC", flac, 4608},
        {"FLAC cut at 60 %", cut.fileName(), 4608},
        {"WAV", media.tone("a.wav", 9.0), 4096},
        {"MP3 in AVI beside a picture", video, 1152},
        {"AAC in MP4", media.tone("aac.m4a", 9.0, 44100, 2, {"-c:a", "aac"}), 0},
        {"Vorbis in Ogg", media.tone("a.ogg", 9.0, 44100, 2, {"-c:a", "libvorbis"}), 0},
        {"AC-3 in Matroska", media.tone("ac3.mkv", 9.0, 44100, 2, {"-c:a", "ac3"}), 0},
    };
}

struct Scanned
{
    Result result;
    std::int64_t packets = 0;
    std::int64_t alive = 0;
};

// Scans `file` to its end, or until `stopAt` packets have been handed over
// (the caller stops), or `cancelAt` (someone else cancels); -1: never.
Scanned scan(const QString &file, std::int64_t stopAt = -1, std::int64_t cancelAt = -1,
             Result cancelled = fail(Code::kAbort))
{
    Scanned s;
    AudioInput in;
    if (s.result = openAudioInput(file.toStdString(), in); s.result.failed())
        return s;
    std::atomic<bool> cancel{false};
    const PacketScan watch{&cancel, std::move(cancelled), [&] { ++s.alive; }};
    s.result = scanPackets(in, file.toStdString(), watch, [&](const AVPacket &) {
        cancel = ++s.packets == cancelAt;
        return s.packets != stopAt;
    });
    return s;
}

} // namespace

TEST(PacketScan, HandsOverEveryAudioPacketOnce)
{
    MediaFixtures media;
    for (const Source &s : sources(media)) {
        SCOPED_TRACE(s.name);
        const Scanned whole = scan(s.file);
        ASSERT_TRUE(whole.result) << failureText(whole.result);
        EXPECT_EQ(whole.packets, MediaFixtures::audioPackets(s.file));
        EXPECT_GE(whole.alive, whole.packets);
    }
}

TEST(PacketScan, StopsWhereItsCallerSaysAndAnswersACancelAsItsCallerWordsIt)
{
    MediaFixtures media;
    const QString file = media.tone("t.mp3", 9.0);
    const Scanned stopped = scan(file, 5);
    EXPECT_TRUE(stopped.result) << failureText(stopped.result);
    EXPECT_EQ(stopped.packets, 5);
    EXPECT_EQ(stopped.alive, 5);

    const Scanned bare = scan(file, -1, 5);
    EXPECT_EQ(bare.result.code, Code::kAbort);
    EXPECT_EQ(bare.result.reason, "");
    EXPECT_EQ(bare.packets, 5);
    const Scanned worded = scan(file, -1, 5, fail(Code::kAbort, "Measuring t.mp3 was cancelled"));
    EXPECT_EQ(worded.result.code, Code::kAbort);
    EXPECT_EQ(failureText(worded.result), "Measuring t.mp3 was cancelled");
    EXPECT_EQ(worded.packets, 5);
}

// Every packet of an exact source is there, numbered in file order, and
// the last one starts within a packet's length of the end FFmpeg decodes
// to (a cut-off last frame decodes to nothing); any other source is refused
// without words, as the export then reads it in order and reports what it
// meets itself.
TEST(PacketIndex, PlacesEveryPacketOfAnExactSourceAndRefusesTheOthers)
{
    MediaFixtures media;
    const std::atomic<bool> cancel{false};
    for (const Source &s : sources(media)) {
        SCOPED_TRACE(s.name);
        PacketIndex index;
        const Result r = buildPacketIndex(s.file.toStdString(), cancel, index);
        if (s.packetSamples == 0) {
            EXPECT_EQ(r.code, Code::kNotIndexable);
            EXPECT_EQ(r.reason, "");
            continue;
        }
        ASSERT_TRUE(r) << failureText(r);
        ASSERT_EQ(static_cast<std::int64_t>(index.pos.size()), MediaFixtures::audioPackets(s.file));
        for (std::size_t i = 0; i < index.number.size(); ++i)
            ASSERT_EQ(index.number[i], static_cast<std::int64_t>(i));
        const std::int64_t lastLength = MediaFixtures::decodedSamples(s.file) - index.firstSample.back();
        EXPECT_GE(lastLength, 0);
        EXPECT_LE(lastLength, s.packetSamples);
    }
}

// Limited to what pieces need, the index keeps for each piece the packet
// holding its first input sample and the warm-up packets before it.
TEST(PacketIndex, KeepsWhatEachPieceStartsWith)
{
    MediaFixtures media;
    const QString file = media.tone("long.mp3", 12.0, 44100, 2, {"-b:a", "128k"});
    const std::atomic<bool> cancel{false};
    PacketIndex all;
    PacketIndex some;
    ASSERT_TRUE(buildPacketIndex(file.toStdString(), cancel, all));
    const std::vector<std::int64_t> starts = {2 * 22050, 5 * 22050, 11 * 22050};
    ASSERT_TRUE(buildPacketIndex(file.toStdString(), cancel, some, starts, 22050));
    EXPECT_LT(some.pos.size() * 3, all.pos.size());
    for (const std::int64_t start : starts) {
        const std::ptrdiff_t holding = all.packetHolding(pieceInputStart(start, 44100, 22050));
        ASSERT_GE(holding, 30);
        for (std::ptrdiff_t p = holding - 30; p <= holding; ++p) {
            const std::ptrdiff_t kept = some.packetAt(all.pos[static_cast<std::size_t>(p)]);
            ASSERT_GE(kept, 0) << "start " << start << ", packet " << p;
            EXPECT_EQ(some.firstSample[static_cast<std::size_t>(kept)], all.firstSample[static_cast<std::size_t>(p)]);
        }
    }
}

// The export tells a stop from a source it cannot index by the bare code.
TEST(PacketIndex, ACancelWhileReadingIsABareAbort)
{
    MediaFixtures media;
    const QString file = media.tone("t.mp3", 9.0);
    std::atomic<bool> cancel{false};
    int packets = 0;
    PacketIndex index;
    const Result r = buildPacketIndex(file.toStdString(), cancel, index, {}, 0, [&] { cancel = ++packets == 10; });
    EXPECT_EQ(r.code, Code::kAbort);
    EXPECT_EQ(r.reason, "");
    EXPECT_EQ(packets, 10);
    EXPECT_TRUE(index.pos.empty());
}
