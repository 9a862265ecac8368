#include "support/join_tool.h"
#include "support/media_fixtures.h"
#include "tools/cue_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cmath>

#ifndef _WIN32
#include <csignal>
#endif

#include <gtest/gtest.h>

using namespace sonaweld::test;

namespace {

struct Source
{
    const char *name;
    QStringList args; // ffmpeg arguments after the inputs
    bool video;
};

} // namespace

TEST(JoinTool, JoinsEveryListedTypeEachClipInItsPlace)
{
    MediaFixtures media;
    const Source sources[] = {
        {"a.asf", {"-f", "asf", "-c:a", "wmav2"}, false},
        {"a.wma", {"-c:a", "wmav2"}, false},
        {"v.wmv", {"-c:v", "wmv2", "-c:a", "wmav2"}, true},
        {"v.avi", {"-c:v", "mpeg4", "-c:a", "libmp3lame"}, true},
        {"v.vob", {"-f", "vob", "-c:v", "mpeg2video", "-c:a", "ac3"}, true},
        {"a.qt", {"-f", "mov", "-c:a", "aac"}, false},
        {"v.mov", {"-c:v", "mpeg4", "-c:a", "aac"}, true},
        {"v.mpg", {"-c:v", "mpeg2video", "-c:a", "mp2"}, true},
        {"a.mpeg", {"-f", "mpeg", "-c:a", "mp2"}, false},
        {"a.dat", {"-f", "mpeg", "-c:a", "mp2"}, false},
        {"v.mp4", {"-c:v", "mpeg4", "-c:a", "aac"}, true},
        {"a.divx", {"-f", "avi", "-c:a", "libmp3lame"}, false},
        {"a.div", {"-f", "avi", "-c:a", "ac3"}, false},
        {"a.ogm", {"-f", "ogg", "-c:a", "libvorbis"}, false},
        {"a.wav", {}, false},
        {"a.mpa", {"-f", "mp2", "-c:a", "mp2"}, false},
        {"a.mp2", {"-c:a", "mp2"}, false},
        {"a.mp3", {"-b:a", "192k"}, false},
        {"a.au", {}, false},
        {"a.aif", {"-f", "aiff"}, false},
        {"a.aiff", {}, false},
        {"a.snd", {"-f", "au"}, false},
        {"a.ogg", {"-c:a", "libvorbis"}, false},
        {"a.ac3", {}, false},
        {"a.flac", {}, false},
        {"a.m4a", {"-c:a", "aac"}, false},
        {"a.aac", {"-c:a", "aac"}, false},
        {"a.opus", {"-c:a", "libopus"}, false},
        {"v.mkv", {"-c:v", "mpeg4", "-c:a", "libvorbis"}, true},
        {"a.webm", {"-c:a", "libopus"}, false},
    };
    QStringList files;
    for (const Source &s : sources) {
        QStringList args{"-f", "lavfi", "-i", "sine=frequency=500:duration=0.6:sample_rate=44100"};
        if (s.video)
            args = QStringList{"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.6"} + args
                   + QStringList{"-shortest"};
        files << media.make(s.name, args + QStringList{"-ac", "2"} + s.args);
    }

    const ToolRun probe = joinTool(QStringList{"--probe"} + files);
    ASSERT_EQ(probe.exitCode, 0) << probe.err.toStdString();
    const QStringList lines = probe.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), files.size());
    std::vector<std::int64_t> lengths;
    for (int i = 0; i < lines.size(); ++i) {
        const QStringList fields = lines[i].split('\t');
        ASSERT_EQ(fields.size(), 2);
        EXPECT_EQ(fields[1], files[i]);
        lengths.push_back(fields[0].toLongLong());
        EXPECT_NEAR(lengths.back() / 1e7, 0.6, 0.1) << files[i].toStdString();
    }

    const QString out = media.path("joined.wav");
    const ToolRun join = joinTool(QStringList{"-q", "-o", out} + files);
    ASSERT_EQ(join.exitCode, 0) << join.err.toStdString();
    EXPECT_TRUE(join.err.isEmpty()) << join.err.toStdString();
    const WavContents w = readWav(out);
    ASSERT_TRUE(w.valid);
    std::int64_t start = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        const std::int64_t begin = start * 44100 / 10'000'000;
        start += lengths[i];
        const std::int64_t end = start * 44100 / 10'000'000;
        // The middle of every clip's span holds its tone.
        int peak = 0;
        for (std::int64_t f = (begin + end) / 2 - 500; f < (begin + end) / 2 + 500; ++f)
            peak = std::max(peak, std::abs(w.sample(f, 0)));
        EXPECT_GT(peak, 2000) << files[static_cast<int>(i)].toStdString();
    }
    // The whole file is every input's decoded sound: only the MP4 family's
    // edit lists trim the encoder's padding (under one AAC frame each).
    std::int64_t decoded = 0;
    std::int64_t slack = 0;
    for (const QString &file : files) {
        // Opus always decodes at 48 kHz.
        const bool opus = file.endsWith(".opus") || file.endsWith(".webm");
        decoded += MediaFixtures::decodedSamples(file) * (opus ? 44100 : 48000) / 48000;
        slack += 1; // resampling ends within a sample
        if (file.endsWith(".qt") || file.endsWith(".mov") || file.endsWith(".mp4") || file.endsWith(".m4a"))
            slack += 1024;
    }
    EXPECT_LE(w.frames(), decoded);
    EXPECT_GE(w.frames(), decoded - slack);
}

TEST(JoinTool, RefusesInputsThatCannotBeMeasuredNamingThem)
{
    MediaFixtures media;
    const QString good = media.constantWav("good.wav", 4410, 44100, 2, 10);
    const QString empty = media.textFile("empty.mp3", "");
    const QString text = media.textFile("letter.mp3", "Dear friend,\nthis is not a song.\n");
    const QString silent = media.make("silent.mp4", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1",
                                                     "-c:v", "mpeg4"});
    for (const QString &bad : {empty, text, silent}) {
        const QString out = media.path("out.wav");
        const ToolRun r = joinTool({"-o", out, good, bad});
        EXPECT_EQ(r.exitCode, 2) << bad.toStdString();
        EXPECT_TRUE(r.err.contains(bad)) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }
}

TEST(JoinTool, GuardsTheOutputFile)
{
    MediaFixtures media;
    const QString in = media.constantWav("in.wav", 4410, 44100, 2, 10);
    const QString out = media.path("out.wav");
    QFile::copy(in, out);
    const qint64 before = QFileInfo(out).size();

    ToolRun r = joinTool({"-o", out, in});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("exists")) << r.err.toStdString();
    EXPECT_EQ(QFileInfo(out).size(), before);

    // The output is never one of the inputs, even written another way.
    r = joinTool({"-y", "-o", media.dir() + "/./in.wav", in});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("also an input")) << r.err.toStdString();
    EXPECT_TRUE(readWav(in).valid);
    EXPECT_EQ(readWav(in).frames(), 4410);

    r = joinTool({"-y", "-q", "-r", "8000", "-c", "1", "-b", "8", "-o", out, in});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const WavContents w = readWav(out);
    EXPECT_EQ(w.rate, 8000);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.bits, 8);
    EXPECT_EQ(w.frames(), 800);
}

TEST(JoinTool, BadUsageAndFailedJoins)
{
    MediaFixtures media;
    const QString in = media.constantWav("in.wav", 441, 44100, 2, 10);
    EXPECT_EQ(joinTool({}).exitCode, 2);
    EXPECT_EQ(joinTool({"-r", "48000", in}).exitCode, 2);
    EXPECT_EQ(joinTool({"-c", "6", in}).exitCode, 2);
    EXPECT_EQ(joinTool({"--frobnicate", in}).exitCode, 2);
    EXPECT_EQ(joinTool({"-o"}).exitCode, 2);

    const QString unwritable = media.path("missing-folder/out.wav");
    const ToolRun r = joinTool({"-o", unwritable, in});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(unwritable)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("No such file or directory")) << r.err.toStdString();
}

TEST(JoinTool, VersionAndHelpAnswerWithoutJoining)
{
    struct Case
    {
        QStringList args;
        QString outStart;
    };
    const Case cases[] = {
        {{"--version"}, "sonaweld-join 3.1.2.1\n"},
        // Before any file is looked at: the file need not exist.
        {{"--version", "/no/such.wav"}, "sonaweld-join 3.1.2.1\n"},
        {{"--help"}, "usage: sonaweld-join "},
    };
    for (const Case &c : cases) {
        const ToolRun r = joinTool(c.args);
        EXPECT_EQ(r.exitCode, 0) << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.out.startsWith(c.outStart)) << r.out.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
    EXPECT_EQ(joinTool({"--version"}).out, "sonaweld-join 3.1.2.1\n");
}

TEST(JoinTool, KeepsEverySampleOfFilesJoinedAtTheirOwnRate)
{
    MediaFixtures media;
    // An odd frame count: a length rounded to the nearest 100 ns used to
    // drop the last sample of each file.
    const QString odd = media.make("odd.wav", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
                                               "-af", "atrim=end_sample=44103", "-ac", "2"});
    const QString out = media.path("joined.wav");
    const ToolRun r = joinTool({"-q", "-o", out, odd, odd, odd});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const WavContents in = readWav(odd);
    const WavContents w = readWav(out);
    ASSERT_TRUE(in.valid && w.valid);
    ASSERT_EQ(in.frames(), 44103);
    ASSERT_EQ(w.frames(), 3 * 44103);
    for (int copy = 0; copy < 3; ++copy) {
        EXPECT_TRUE(std::equal(in.data.begin(), in.data.end(), w.data.begin() + copy * in.data.size()))
            << "copy " << copy << " differs from its source";
    }
}

TEST(JoinTool, SpeaksInOnePlainLinePerFailure)
{
    MediaFixtures media;
    const QString in = media.constantWav("in.wav", 441, 44100, 2, 10);
    const QString unwritable = media.path("no-such-folder/x.wav");
    ToolRun r = joinTool({"-q", "-o", unwritable, in});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.trimmed(), "sonaweld-join: cannot create " + unwritable + ": No such file or directory");

    const QString missing = media.path("gone.mp3");
    r = joinTool({"-q", "-o", media.path("out.wav"), in, missing});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.trimmed(), "sonaweld-join: cannot open " + missing + ": No such file or directory");
    EXPECT_FALSE(QFile::exists(media.path("out.wav")));

    // A name given as it is, capitals and all, is the one printed.
    media.make("Silent.mp4", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v", "mpeg4"});
    r = joinTool({"-q", "-o", "out.wav", "Silent.mp4", "Gone.mp3"}, media.dir());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.trimmed().split('\n'),
              QStringList({"sonaweld-join: Silent.mp4 has no sound track",
                           "sonaweld-join: cannot open Gone.mp3: No such file or directory"}));
}

#ifndef _WIN32
TEST(JoinTool, CtrlCLeavesAValidWavOfWhatWasJoined)
{
    MediaFixtures media;
    const QString tone = media.tone("tone.mp3", 60.0, 44100, 2, {"-b:a", "128k"});
    // About three hours of input, so the join is still running when stopped.
    QStringList args{"-q", "-r", "8000", "-c", "1", "-b", "8", "-o", media.path("out.wav")};
    for (int i = 0; i < 180; ++i)
        args << tone;
    QProcess p;
    p.start(QStringLiteral(SONAWELD_JOIN_PATH), args);
    ASSERT_TRUE(p.waitForStarted());
    const QString out = media.path("out.wav");
    for (int i = 0; i < 600 && QFileInfo(out).size() < 1'000'000; ++i)
        QThread::msleep(20);
    ASSERT_GE(QFileInfo(out).size(), 1'000'000) << "the join did not start writing";
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 130);
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains("stopped"));

    const WavContents w = readWav(out);
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    const std::int64_t total = 180LL * 60 * 8000;
    EXPECT_GT(w.frames(), 0);
    EXPECT_LT(w.frames(), total);
    // The header describes the file exactly: nothing unwritten inside it,
    // nothing written past it.
    EXPECT_EQ(w.fileSize, 44 + w.data.size() + w.trailer);
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    // What was kept is the tone, not silence left by an unwritten span.
    int quiet = 0;
    for (std::int64_t f = 8000; f < w.frames(); f += 997)
        quiet += std::abs(w.sample(f, 0) - 128) < 2 && std::abs(w.sample(f + 4, 0) - 128) < 2;
    EXPECT_LT(quiet, 3);
}
#endif

// A clip of a few hundred samples whose trims, added up, come to more than
// its frames hold still plays all its decoder yields, and the clip after it
// starts right there.
TEST(JoinCli, AnMp3OfTwoShortFramesKeepsItsPlaceInTheJoin)
{
    MediaFixtures media;
    const QString encoded = media.make("full.mp3", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050", "-af",
                                                    "atrim=end_sample=300", "-ac", "1"});
    const QString mp3 = media.mp3Frames(encoded, "two.mp3", 2);
    const QString after = media.constantWav("after.wav", 2205, 22050, 1, 1000);
    const std::int64_t decoded = MediaFixtures::decodedSamples(mp3);
    ASSERT_GT(decoded, 0);
    const QString out = media.path("joined.wav");
    const ToolRun r = joinTool({"-q", "-r", "22050", "-c", "1", "-o", out, mp3, after});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const WavContents w = readWav(out);
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    EXPECT_EQ(w.frames(), decoded + 2205);
    // The WAV's constant fills exactly the frames after the MP3's.
    std::int64_t constant = 0;
    for (std::int64_t f = decoded; f < w.frames(); ++f)
        constant += w.sample(f, 0) == 1000 ? 1 : 0;
    EXPECT_EQ(constant, 2205);
}

// Tagged MP3s put end to end, each minutes long, and an MP3 with a frame
// its decoder refuses though the header is intact: the join plays exactly
// what FFmpeg decodes of each, the file after it starts right there, as
// its cue sheet says to the CD frame, and two workers write the bytes of one.
TEST(JoinCli, Mp3sJoinedEndToEndPlayWhatDecodesWithOneWorkerOrTwo)
{
    MediaFixtures media;
    const struct
    {
        QString file;
        int rate;
        int channels;
    } sources[] = {
        {media.mp3sEndToEnd("cbr.mp3", {{40.0, 35.0}, 44100, 2, {"-b:a", "128k"}}), 44100, 2},
        {media.mp3sEndToEnd("vbr.mp3", {{40.0, 35.0}, 44100, 2, {"-q:a", "4", "-write_xing", "0"}}), 44100, 2},
        {media.mp3sEndToEnd("mono.mp3", {{40.0, 35.0}, 22050, 1, {"-q:a", "5"}}), 22050, 1},
        // MPEG-1 stereo without CRC: big_values begins with the side
        // information's fifth byte, and past 288 the decoder drops the frame.
        {media.mp3FrameEdited(media.tone("plain.mp3", 75.0, 44100, 2, {"-b:a", "128k"}), "refused.mp3", 1200,
                              [](QByteArray &bytes, qsizetype header) { bytes[header + 8] = static_cast<char>(0xFF); }),
         44100, 2},
    };
    for (const auto &source : sources) {
        SCOPED_TRACE(source.file.toStdString());
        const QString after = media.constantWav("after.wav", 1000, source.rate, source.channels, 1000);
        const std::vector<std::int16_t> decoded = decodedPcm(source.file, source.rate, source.channels);
        const auto frames = static_cast<std::int64_t>(decoded.size()) / source.channels;
        QByteArray bytes[2];
        for (const int workers : {1, 2}) {
            const QString out = media.path(QStringLiteral("out%1.wav").arg(workers));
            const ToolRun r = joinTool({"-q", "-y", "--cue", "-j", QString::number(workers), "-r",
                                        QString::number(source.rate), "-c", QString::number(source.channels), "-o",
                                        out, source.file, after});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            bytes[workers - 1] = fileBytes(out);
        }
        EXPECT_TRUE(bytes[0] == bytes[1]);
        const WavContents w = readWav(media.path("out1.wav"));
        ASSERT_TRUE(w.valid) << w.error.toStdString();
        EXPECT_EQ(w.frames(), frames + 1000);
        EXPECT_EQ(firstDifferingFrame(w, decoded), -1);
        EXPECT_EQ(firstDifferingFrame(w, std::vector<std::int16_t>(1000 * source.channels, 1000), frames), -1);
        const CueSheetRead sheet = readCueSheet(media.path("out1.cue"));
        ASSERT_EQ(sheet.tracks.size(), 2u);
        EXPECT_EQ(sheet.tracks[1].sample, frames);
        // The nearest of 75 CD frames a second, a tie going to the later.
        const std::int64_t cdFrames = (frames * 75 * 2 + source.rate) / (2 * source.rate);
        EXPECT_EQ(sheet.tracks[1].index, QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(cdFrames / 4500),
                                                           static_cast<long long>(cdFrames / 75 % 60),
                                                           static_cast<long long>(cdFrames % 75)));
    }
}
