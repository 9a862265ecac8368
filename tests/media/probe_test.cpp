#include "media/probe.h"
#include "compose/failure_text.h"
#include "support/media_fixtures.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace sonaweld::media;
using namespace sonaweld::test;
using sonaweld::failureText;

namespace {

// Long enough that a length built from rounded packet times (a millisecond
// clock loses up to 2.4 % of AC-3) or from one link of a chained file falls
// far outside any tolerance below.
constexpr double kSeconds = 61.3;

struct Case
{
    QString name;
    QString file;
    int rate;
    // How far the measured length may lie from the decoded one: 0 where
    // the samples can be counted, one codec frame where the container
    // itself cannot say better.
    std::int64_t tolerance;
};

// Samples of `rate` that `length` holds, as the export counts them.
std::int64_t samplesIn(ReferenceTime length, int rate)
{
    return length * rate / kUnitsPerSecond;
}

QString copyHead(const MediaFixtures &media, const QString &from, const QString &name, double share)
{
    QFile in(from);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray all = in.readAll();
    QFile out(media.path(name));
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(all.left(static_cast<qsizetype>(all.size() * share)));
    return out.fileName();
}

QString concatenate(const MediaFixtures &media, const QStringList &parts, const QString &name)
{
    QFile out(media.path(name));
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    for (const QString &part : parts) {
        QFile in(part);
        EXPECT_TRUE(in.open(QIODevice::ReadOnly));
        out.write(in.readAll());
    }
    return out.fileName();
}

void expectMeasuredAsDecoded(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        ReferenceTime length = -1;
        const Result r = probeDuration(c.file.toStdString(), length);
        ASSERT_TRUE(r) << c.name.toStdString() << ": " << failureText(r);
        const std::int64_t decoded = MediaFixtures::decodedSamples(c.file);
        ASSERT_GT(decoded, c.rate / 2) << c.name.toStdString();
        EXPECT_LE(std::abs(samplesIn(length, c.rate) - decoded), c.tolerance)
            << c.name.toStdString() << ": measured " << samplesIn(length, c.rate) << " decoded " << decoded;
    }
}

} // namespace

TEST(Probe, ContainersWithACoarseClockMeasureWhatDecodes)
{
    MediaFixtures media;
    const QStringList video{"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=61.3"};
    const QString sine = QStringLiteral("sine=frequency=440:duration=%1:sample_rate=44100").arg(kSeconds);
    expectMeasuredAsDecoded({
        {"AC-3 in Matroska", media.tone("ac3.mkv", kSeconds, 44100, 2, {"-c:a", "ac3"}), 44100, 0},
        {"DTS in Matroska", media.tone("dts.mkv", kSeconds, 48000, 2, {"-c:a", "dca", "-strict", "-2"}), 48000, 0},
        {"MP3 in Matroska", media.tone("mp3.mkv", kSeconds, 44100, 2, {"-c:a", "libmp3lame"}), 44100, 0},
        {"FLAC in Matroska", media.tone("flac.mkv", kSeconds, 44100, 2, {"-c:a", "flac"}), 44100, 0},
        {"PCM in Matroska", media.tone("pcm.mkv", kSeconds, 44100, 2, {"-c:a", "pcm_s16le"}), 44100, 0},
        {"WMA", media.tone("a.wma", kSeconds, 44100, 2, {"-c:a", "wmav2"}), 44100, 0},
        {"WMV", media.make("v.wmv", video + QStringList{"-f", "lavfi", "-i", sine, "-c:v", "wmv2", "-c:a", "wmav2"}),
         44100, 0},
        {"AC-3 in MPEG-PS", media.tone("a.mpg", kSeconds, 44100, 2, {"-f", "vob", "-c:a", "ac3"}), 44100, 0},
    });
}

TEST(Probe, SampleCountingContainersMeasureWhatDecodes)
{
    MediaFixtures media;
    const QString oddWav = media.make("odd.wav", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
                                                  "-af", "atrim=end_sample=44103", "-ac", "2"});
    expectMeasuredAsDecoded({
        {"MP3 with a LAME tag", media.tone("lame.mp3", kSeconds, 44100, 2, {"-b:a", "192k"}), 44100, 0},
        {"MP3 without a LAME tag", media.tone("nolame.mp3", kSeconds, 44100, 2, {"-b:a", "192k", "-write_xing", "0"}),
         44100, 0},
        {"VBR MP3 without a Xing header", media.tone("vbr.mp3", kSeconds, 22050, 1, {"-q:a", "4", "-write_xing", "0"}),
         22050, 0},
        {"ADTS AAC", media.tone("adts.aac", kSeconds, 44100, 2, {"-c:a", "aac"}), 44100, 0},
        // The edit list trims the encoder's padding, which the decoder keeps.
        {"AAC in MP4", media.tone("aac.m4a", kSeconds, 44100, 2, {"-c:a", "aac"}), 44100, 1024},
        {"Opus", media.tone("a.opus", kSeconds, 48000, 2, {"-c:a", "libopus"}), 48000, 0},
        {"Vorbis in Ogg", media.tone("a.ogg", kSeconds, 44100, 2, {"-c:a", "libvorbis"}), 44100, 0},
        {"a second of Vorbis in Ogg", media.tone("short.ogg", 1.0, 44100, 2, {"-c:a", "libvorbis"}), 44100, 0},
        {"a second of Opus", media.tone("short.opus", 1.0, 48000, 2, {"-c:a", "libopus"}), 48000, 0},
        {"Vorbis in Matroska", media.tone("vorbis.mkv", kSeconds, 44100, 2, {"-c:a", "libvorbis"}), 44100, 0},
        {"AC-3", media.tone("a.ac3", kSeconds, 48000, 2), 48000, 0},
        {"FLAC", media.tone("a.flac", kSeconds, 44100, 2), 44100, 0},
        {"AIFF", media.tone("a.aiff", kSeconds, 44100, 2), 44100, 0},
        {"WAV of an odd frame count", oddWav, 44100, 0},
    });
}

TEST(Probe, ChainedAndCutOffFilesMeasureWhatIsThere)
{
    MediaFixtures media;
    const QString first = media.tone("first.ogg", 40.0, 44100, 2, {"-c:a", "libvorbis"});
    const QString second = media.tone("second.ogg", 21.0, 44100, 2, {"-c:a", "libvorbis"});
    const QString chained = concatenate(media, {first, second}, "chained.ogg");
    const QString opus1 = media.tone("first.opus", 40.0, 48000, 2, {"-c:a", "libopus"});
    const QString opus2 = media.tone("second.opus", 21.0, 48000, 2, {"-c:a", "libopus"});
    const QString chainedOpus = concatenate(media, {opus1, opus2}, "chained.opus");
    const auto cut = [&](const QString &name) {
        return copyHead(media, media.tone(name, kSeconds, 44100, 2), "cut-" + name, 0.6);
    };
    const std::vector<Case> cases{
        {"chained Vorbis", chained, 44100, 0},
        {"chained Opus", chainedOpus, 48000, 0},
        {"FLAC cut at 60 %", cut("a.flac"), 44100, 0},
        {"AIFF cut at 60 %", cut("a.aiff"), 44100, 0},
        {"AU cut at 60 %", cut("a.au"), 44100, 0},
        {"WAV cut at 60 %", cut("a.wav"), 44100, 0},
        {"MP3 cut at 60 %", cut("a.mp3"), 44100, 0},
    };
    expectMeasuredAsDecoded(cases);
    // Not one link or the header's claim: the whole chain, only what is there.
    ReferenceTime length = 0;
    ASSERT_TRUE(probeDuration(chained.toStdString(), length));
    EXPECT_NEAR(length / 1e7, 61.0, 0.1);
    ASSERT_TRUE(probeDuration(cases[2].file.toStdString(), length));
    EXPECT_LT(length / 1e7, 0.65 * kSeconds);
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
        EXPECT_NE(failureText(r).find(file.toStdString()), std::string::npos) << failureText(r);
    }
    ReferenceTime length = 0;
    EXPECT_NE(failureText(probeDuration(silentVideo.toStdString(), length)).find("no sound"), std::string::npos);
}

TEST(Probe, NamesThatLookLikeAddressesAreFiles)
{
    MediaFixtures media;
    const QString tone = media.tone("tone.wav", 1.0, 8000, 1);
    // "concat:none.wav" would read the missing none.wav through a protocol.
    for (const char *name : {"take:1.wav", "http:x.wav", "concat:none.wav"})
        ASSERT_TRUE(QFile::copy(tone, media.path(name))) << name;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(media.dir()));
    for (const char *name : {"take:1.wav", "http:x.wav", "concat:none.wav"}) {
        ReferenceTime length = 0;
        const Result r = probeDuration(name, length);
        EXPECT_TRUE(r) << name << ": " << failureText(r);
        EXPECT_EQ(samplesIn(length, 8000), 8000) << name;
    }
    QDir::setCurrent(before);
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

namespace {

// Short files, measured exactly: the tolerance is 0 and the decoder's count
// needs only to be more than nothing.
void expectShortMeasuredAsDecoded(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        ReferenceTime length = -1;
        const Result r = probeDuration(c.file.toStdString(), length);
        ASSERT_TRUE(r) << c.name.toStdString() << ": " << failureText(r);
        const std::int64_t decoded = MediaFixtures::decodedSamples(c.file);
        ASSERT_GT(decoded, 0) << c.name.toStdString();
        EXPECT_EQ(samplesIn(length, c.rate), decoded) << c.name.toStdString();
    }
}

} // namespace

// DSD plays one sample of every byte per channel, at an eighth of its bit
// rate. A DSF writer that leaves the last 4096-byte block short (0.08 s of
// DSD128 ends 896 bytes into it) still gets the whole block's time from
// the demuxer; a padded block is cut to the header's sample count.
TEST(Probe, DsdMeasuresWhatDecodesWhetherItsLastBlockIsPaddedOrNot)
{
    MediaFixtures media;
    expectShortMeasuredAsDecoded({
        {"DSD128 stereo, last block short", media.dsf("short.dsf", 5644800, 2, 56448, false), 705600, 0},
        {"DSD128 mono, last block short", media.dsf("mono.dsf", 5644800, 1, 56448, false), 705600, 0},
        {"DSD64 stereo, last block padded", media.dsf("padded.dsf", 2822400, 2, 100000, true), 352800, 0},
        {"DSD64 stereo, whole blocks", media.dsf("whole.dsf", 2822400, 2, 8 * 4096, false), 352800, 0},
    });
}

// An Ogg Speex stream may end its last granule at the last input sample (195
// samples before the end of its last frame here); FFmpeg's decoder plays
// that frame whole, as it does every frame.
TEST(Probe, SpeexMeasuresEveryFrameItsDecoderPlays)
{
    MediaFixtures media;
    const QString narrow = media.tone("narrow.spx", 3.7, 8000, 1, {"-c:a", "libspeex"});
    const QString wide = media.tone("wide.spx", 3.7, 16000, 2, {"-c:a", "libspeex", "-frames_per_packet", "2"});
    const QString whole = media.tone("whole.spx", 3.7, 16000, 1, {"-c:a", "libspeex"});
    MediaFixtures::endOggEarlier(narrow, 95);
    MediaFixtures::endOggEarlier(wide, 195);
    expectShortMeasuredAsDecoded({
        {"narrowband Speex ending 95 samples early", narrow, 8000, 0},
        {"wideband Speex, two frames a packet, ending 195 samples early", wide, 16000, 0},
        {"wideband Speex as FFmpeg writes it", whole, 16000, 0},
    });
}

// A few hundred samples of MP3 in 576-sample frames: the LAME tag's delay
// (1105 samples with the decoder's) runs past the first frame, and the
// second frame's end padding resets it, so the decoder plays 253 samples
// where adding up the trims would leave nothing and drop the clip.
TEST(Probe, AnMp3OfAFewFramesMeasuresWhatItsDecoderPlays)
{
    MediaFixtures media;
    const auto samples = [&](const QString &name, int rate, int count) {
        return media.make(name, {"-f", "lavfi", "-i", QStringLiteral("sine=frequency=440:sample_rate=%1").arg(rate),
                                 "-af", QStringLiteral("atrim=end_sample=%1").arg(count), "-ac", "1"});
    };
    expectShortMeasuredAsDecoded({
        {"two frames at 22050 Hz", media.mp3Frames(samples("a.mp3", 22050, 300), "two.mp3", 2), 22050, 0},
        {"two frames at 16000 Hz", media.mp3Frames(samples("b.mp3", 16000, 200), "two16.mp3", 2), 16000, 0},
        {"300 samples at 22050 Hz", samples("c.mp3", 22050, 300), 22050, 0},
        {"20 samples at 44100 Hz", samples("d.mp3", 44100, 20), 44100, 0},
    });
}

// Tagged MP3s (and MP2s) put end to end: the parser joins each tag in the
// middle to the frame after it, and the decoder drops both (and the Info
// frame that may follow); whatever that takes, the length is what decodes.
// A cover of noise and UTF-16 text hold false frame headers; a Lyrics3 tag
// after the last frame is a packet of its own that decodes to nothing.
TEST(Probe, MpegAudioJoinedEndToEndMeasuresWhatDecodes)
{
    MediaFixtures media;
    const QString noise = media.make("noise.png", {"-f", "lavfi", "-i", "nullsrc=s=160x160,geq=random(1)*255:128:128",
                                                   "-frames:v", "1"});
    const QStringList cbr{"-b:a", "128k"};
    const QStringList cover{"-i", noise, "-map", "0", "-map", "1", "-c:v", "copy", "-id3v2_version", "3",
                            "-metadata", "artist=Ärger", "-q:a", "3"};
    const struct
    {
        const char *name;
        Mp3Parts parts;
        const char *extension = "mp3";
    } sources[] = {
        {"CBR at 44.1 kHz with Info frames", {{30.0, 31.3}, 44100, 2, cbr}},
        {"VBR at 44.1 kHz with Xing frames", {{30.0, 31.3}, 44100, 2, {"-q:a", "4"}}},
        {"CBR at 44.1 kHz without Info frames", {{30.0, 31.3}, 44100, 2, cbr + QStringList{"-write_xing", "0"}}},
        {"VBR at 24 kHz with Xing frames", {{30.0, 31.3}, 24000, 2, {"-q:a", "5"}}},
        {"CBR at 24 kHz without Info frames", {{30.0, 31.3}, 24000, 1, {"-b:a", "32k", "-write_xing", "0"}}},
        {"MPEG-2.5 at 11.025 kHz", {{30.0, 31.3}, 11025, 1, {"-b:a", "16k"}}},
        {"ID3v1 tags alone", {{30.0, 31.3}, 44100, 2, cbr, false, true}},
        {"APEv2 tags alone at 16 kHz", {{30.0, 31.3}, 16000, 1, {"-b:a", "24k"}, false, false, true}},
        {"a cover and UTF-16 text", {{30.0, 31.3}, 44100, 2, cover}},
        {"MP2 at 44.1 kHz", {{30.0, 31.3}, 44100, 2, {"-c:a", "mp2", "-b:a", "192k"}}, "mp2"},
        {"MP2 at 24 kHz", {{30.0, 31.3}, 24000, 1, {"-c:a", "mp2", "-b:a", "64k"}}, "mp2"},
    };
    std::vector<Case> cases;
    for (const auto &s : sources) {
        const QString file = media.mp3sEndToEnd(QStringLiteral("%1.%2").arg(cases.size()).arg(s.extension), s.parts);
        cases.push_back({s.name, file, s.parts.rate, 0});
    }
    const QByteArray lyrics = "LYRICSBEGINLYR00008La la la000027LYRICS200";
    cases.push_back({"in WAV", media.make("in.wav", {"-i", cases[0].file, "-c:a", "copy"}), 44100, 0});
    cases.push_back({"in MP4", media.make("in.mp4", {"-i", cases[1].file, "-c:a", "copy"}), 44100, 0});
    cases.push_back({"at 24 kHz in MP4", media.make("in24.mp4", {"-i", cases[3].file, "-c:a", "copy"}), 24000, 0});
    cases.push_back({"a Lyrics3 tag after the last frame",
                     concatenate(media, {cases[2].file, media.textFile("lyrics", lyrics)}, "lyrics.mp3"), 44100, 0});
    expectMeasuredAsDecoded(cases);
}

// A frame whose header is intact but which the decoder refuses plays
// nothing, and junk before a header is joined to its frame, which still
// plays; no encoder writes either, so neither may pass for a plain frame.
TEST(Probe, DamagedMp3FramesMeasureWhatDecodes)
{
    MediaFixtures media;
    const QString stereo = media.tone("stereo.mp3", kSeconds, 44100, 2, {"-b:a", "128k"});
    const QString mono = media.tone("mono.mp3", kSeconds, 24000, 1, {"-b:a", "32k"});
    const auto noCrc = [](const QByteArray &bytes, qsizetype header) {
        EXPECT_TRUE(bytes[header + 1] & 1) << "a CRC moves the side information";
    };
    // MPEG-1 stereo: main_data_begin, private bits and scfsi take 20 bits,
    // part2_3_length 12, so big_values begins with the side information's
    // fifth byte.
    const auto bigValues = [&](QByteArray &bytes, qsizetype header) {
        noCrc(bytes, header);
        bytes[header + 4 + 4] = static_cast<char>(0xFF);
    };
    // MPEG-2 mono: 9 + 12 + 9 + 8 + 9 bits, then the window switching flag
    // as the sixth byte's last bit, and the block type after it.
    const auto normalBlockSwitched = [&](QByteArray &bytes, qsizetype header) {
        noCrc(bytes, header);
        bytes[header + 4 + 5] = static_cast<char>(bytes[header + 4 + 5] | 1);
        bytes[header + 4 + 6] = static_cast<char>(bytes[header + 4 + 6] & 0x3F);
    };
    const auto zeros = [](QByteArray &bytes, qsizetype header) { bytes.insert(header, QByteArray(100, '\0')); };
    expectMeasuredAsDecoded({
        {"big_values past 288", media.mp3FrameEdited(stereo, "big.mp3", 1200, bigValues), 44100, 0},
        {"a switched window of the normal type, MPEG-2",
         media.mp3FrameEdited(mono, "switched.mp3", 1200, normalBlockSwitched), 24000, 0},
        {"100 zero bytes before a frame", media.mp3FrameEdited(stereo, "zeros.mp3", 1200, zeros), 44100, 0},
    });
}
