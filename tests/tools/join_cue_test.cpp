// sonaweld-join --cue, run as a user runs it, its sheet read back and held
// against the WAV it describes.
#include "support/join_tool.h"
#include "support/media_fixtures.h"
#include "tools/cue_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <cmath>
#include <cstdlib>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include <gtest/gtest.h>

using namespace sonaweld::test;

namespace {

// Where each value first appears in channel 0 of the WAV, in the order given;
// -1 for a value not found after the one before.
std::vector<std::int64_t> onsets(const WavContents &w, const std::vector<int> &values)
{
    std::vector<std::int64_t> found;
    std::int64_t from = 0;
    for (const int value : values) {
        std::int64_t at = -1;
        for (std::int64_t f = from; f < w.frames(); ++f) {
            if (w.sample(f, 0) == value) {
                at = f;
                break;
            }
        }
        found.push_back(at);
        if (at >= 0)
            from = at;
    }
    return found;
}

// Constant WAVs of the given lengths at `rate`, one value each (100, 200,
// ...), named c1.wav, c2.wav, ...
QStringList constantClips(const MediaFixtures &media, const std::vector<std::int64_t> &lengths, int rate,
                          int channels)
{
    QStringList files;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        files << media.constantWav(QStringLiteral("c%1.wav").arg(i + 1), lengths[i], rate, channels,
                                   static_cast<std::int16_t>(100 * (i + 1)));
    }
    return files;
}

// OUT.cue for OUT.ext.
QString cuePathOf(const QString &output)
{
    const QFileInfo info(output);
    return info.dir().filePath(info.completeBaseName() + ".cue");
}

std::vector<int> clipValues(std::size_t count)
{
    std::vector<int> values;
    for (std::size_t i = 0; i < count; ++i)
        values.push_back(100 * static_cast<int>(i + 1));
    return values;
}

} // namespace

// The sheet's sample positions are where the clips' own values begin in the
// written file; starts fall just before, on and after half a frame and a
// whole frame (294 and 588 samples at 44100 Hz).
//   44100 Hz:  |c1 293|c2|c3|c4 292|c5|c6|c7 1000|
//   starts:    0      293 294 295  587 588 589
TEST(JoinCue, PlacesEveryTrackAtTheFirstSampleOfItsClip)
{
    MediaFixtures media;
    const std::vector<std::int64_t> lengths{293, 1, 1, 292, 1, 1, 1000};
    const QStringList files = constantClips(media, lengths, 44100, 2);
    const QString out = media.path("joined.wav");
    const ToolRun r = joinTool(QStringList{"-q", "--cue", "-o", out} + files);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();

    const WavContents w = readWav(out);
    ASSERT_TRUE(w.valid) << w.error.toStdString();
    const std::vector<std::int64_t> starts = onsets(w, clipValues(lengths.size()));
    ASSERT_EQ(starts, (std::vector<std::int64_t>{0, 293, 294, 295, 587, 588, 589}));

    const CueSheetRead sheet = readCueSheet(media.path("joined.cue"));
    ASSERT_TRUE(sheet.valid) << sheet.error.toStdString();
    EXPECT_EQ(sheet.file, "joined.wav");
    EXPECT_EQ(sheet.rate, 44100);
    ASSERT_EQ(sheet.tracks.size(), lengths.size());
    const char *times[] = {"00:00:00", "00:00:00", "00:00:01", "00:00:01", "00:00:01", "00:00:01", "00:00:01"};
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        const CueTrackRead &t = sheet.tracks[i];
        EXPECT_EQ(t.sample, starts[i]) << "track " << i + 1;
        EXPECT_EQ(t.index, times[i]) << "track " << i + 1;
        EXPECT_EQ(t.title, QStringLiteral("c%1").arg(i + 1));
        EXPECT_FALSE(t.hasPerformer) << "track " << i + 1; // untagged WAVs
        EXPECT_EQ(t.source, files[static_cast<int>(i)]);
    }
}

// At 8000 Hz a frame is 106 2/3 samples; 160 is exactly a frame and a half.
//   8000 Hz mono:  |c1 53|c2|c3 106|c4 500|
//   starts:        0     53 54     160
TEST(JoinCue, RoundsAtRatesWhereAFrameIsNoWholeNumberOfSamples)
{
    MediaFixtures media;
    const std::vector<std::int64_t> lengths{53, 1, 106, 500};
    const QStringList files = constantClips(media, lengths, 8000, 1);
    // Named relative to the working folder: the sheet still names the
    // sources absolutely and the WAV by its name only.
    QStringList names;
    for (const QString &f : files)
        names << QFileInfo(f).fileName();
    const ToolRun r = joinTool(QStringList{"-q", "--cue", "-r", "8000", "-c", "1", "-o", "low.wav"} + names,
                               media.dir());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const std::vector<std::int64_t> starts = onsets(readWav(media.path("low.wav")), clipValues(lengths.size()));
    ASSERT_EQ(starts, (std::vector<std::int64_t>{0, 53, 54, 160}));
    const CueSheetRead sheet = readCueSheet(media.path("low.cue"));
    ASSERT_TRUE(sheet.valid) << sheet.error.toStdString();
    EXPECT_EQ(sheet.file, "low.wav");
    EXPECT_EQ(sheet.rate, 8000);
    ASSERT_EQ(sheet.tracks.size(), 4u);
    const char *times[] = {"00:00:00", "00:00:00", "00:00:01", "00:00:02"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sheet.tracks[i].sample, starts[i]) << "track " << i + 1;
        EXPECT_EQ(sheet.tracks[i].index, times[i]) << "track " << i + 1;
        EXPECT_EQ(sheet.tracks[i].source, QDir(media.dir()).absoluteFilePath(names[static_cast<int>(i)]));
    }
}

TEST(JoinCue, NamesTracksByTheirTagsElseByTheirFileNames)
{
    MediaFixtures media;
    const QString quoted = QString::fromUtf8("Der \"Erlk\u00F6nig\" \u2013 \u00C6r\u00F8 \u65E5\u672C");
    const QStringList tone{"-f", "lavfi", "-i", "sine=frequency=440:duration=1.3:sample_rate=44100", "-ac", "2"};
    const QString mp3 = media.make("a.mp3", tone + QStringList{"-metadata", "title=" + quoted, "-metadata",
                                                               "artist=Schubert \"Franz\""});
    const QString ogg = media.make("b.ogg", QStringList{"-f", "lavfi", "-i",
                                                        "sine=frequency=660:duration=2.71:sample_rate=44100",
                                                        "-ac", "2", "-c:a", "libvorbis", "-metadata",
                                                        "TITLE=Second", "-metadata", "ARTIST=Vorbis Band"});
    const QString plain = media.tone(QString::fromUtf8("03 Stille Stra\u00DFe.flac"), 0.97);
    const QStringList files{mp3, ogg, plain};
    const QString out = media.path("album.wav");
    const ToolRun r = joinTool(QStringList{"-q", "--cue", "-o", out} + files);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QByteArray bytes = fileBytes(media.path("album.cue"));
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_FALSE(bytes.contains('\r'));
    const CueSheetRead sheet = parseCueSheet(bytes);
    ASSERT_TRUE(sheet.valid) << sheet.error.toStdString() << "\n" << bytes.toStdString();
    ASSERT_EQ(sheet.tracks.size(), 3u);
    EXPECT_EQ(sheet.tracks[0].title, QString::fromUtf8("Der \u201DErlk\u00F6nig\u201D \u2013 \u00C6r\u00F8 \u65E5\u672C"));
    EXPECT_EQ(sheet.tracks[0].performer, QString::fromUtf8("Schubert \u201DFranz\u201D"));
    EXPECT_EQ(sheet.tracks[1].title, "Second");
    EXPECT_EQ(sheet.tracks[1].performer, "Vorbis Band");
    EXPECT_EQ(sheet.tracks[2].title, QString::fromUtf8("03 Stille Stra\u00DFe"));
    EXPECT_TRUE(sheet.tracks[0].hasPerformer);
    EXPECT_TRUE(sheet.tracks[1].hasPerformer);
    // No artist tag: no performer, never the file name as the artist.
    EXPECT_FALSE(sheet.tracks[2].hasPerformer);
    EXPECT_FALSE(bytes.contains("PERFORMER \"03 Stille"));
    EXPECT_EQ(sheet.tracks[2].source, plain);

    // Each source at its own rate keeps every decoded sample, so a clip
    // starts where FFmpeg's decoder says the ones before it end.
    std::int64_t expected = 0;
    for (std::size_t i = 0; i < sheet.tracks.size(); ++i) {
        EXPECT_EQ(sheet.tracks[i].sample, expected) << "track " << i + 1;
        const double exact = static_cast<double>(expected) * 75 / 44100;
        const long frame = std::lround(exact);
        EXPECT_EQ(sheet.tracks[i].index,
                  QString::asprintf("%02ld:%02ld:%02ld", frame / 4500, frame / 75 % 60, frame % 75));
        expected += MediaFixtures::decodedSamples(files[static_cast<int>(i)]);
    }
    EXPECT_EQ(readWav(out).frames(), expected);
}

TEST(JoinCue, Takes99FilesAndRefusesAHundredBeforeWritingAnything)
{
    MediaFixtures media;
    const QString clip = media.constantWav("tick.wav", 441, 44100, 2, 7);
    QStringList files;
    for (int i = 0; i < 99; ++i)
        files << clip;
    const QString out = media.path("many.wav");
    ToolRun r = joinTool(QStringList{"-q", "--cue", "-o", out} + files);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(readWav(out).frames(), 99 * 441);
    const CueSheetRead sheet = readCueSheet(media.path("many.cue"));
    ASSERT_TRUE(sheet.valid) << sheet.error.toStdString();
    ASSERT_EQ(sheet.tracks.size(), 99u);
    EXPECT_EQ(sheet.tracks[98].number, 99);
    for (std::size_t i = 0; i < 99; ++i)
        EXPECT_EQ(sheet.tracks[i].sample, static_cast<std::int64_t>(i) * 441) << "track " << i + 1;

    files << clip;
    const QString refused = media.path("hundred.wav");
    r = joinTool(QStringList{"-q", "--cue", "-o", refused} + files);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("at most 99 tracks")) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(refused));
    EXPECT_FALSE(QFileInfo::exists(media.path("hundred.cue")));
    // Without a sheet the hundred join as before.
    EXPECT_EQ(joinTool(QStringList{"-q", "-o", refused} + files).exitCode, 0);
}

TEST(JoinCue, NamesTheSheetAfterTheOutputAndRefusesSheetsItCannotWrite)
{
    MediaFixtures media;
    const QString in = media.constantWav("in.wav", 441, 44100, 2, 5);
    QDir(media.dir()).mkpath("take.v2");
    ASSERT_EQ(joinTool({"-q", "--cue", "-o", "take.v2/mix.final.wav", in}, media.dir()).exitCode, 0);
    EXPECT_EQ(readCueSheet(media.path("take.v2/mix.final.cue")).file, "mix.final.wav");
    ASSERT_EQ(joinTool({"-q", "--cue", "-o", "bare", in}, media.dir()).exitCode, 0);
    EXPECT_EQ(readCueSheet(media.path("bare.cue")).file, "bare");

    // An output the sheet would overwrite, a sheet that would overwrite an
    // input (FFmpeg reads a WAV by its content, whatever its name) and a
    // name no sheet can quote are refused before anything is written.
    const QString cueNamedInput = media.constantWav("other.cue", 441, 44100, 2, 5);
    struct Refusal
    {
        QString output;
        QString input;
        const char *says;
    };
    const Refusal refusals[] = {
        {"sheet.cue", in, "its own cue sheet"},
        {"other.wav", cueNamedInput, "would replace an input"},
        {"say \"hi\".wav", in, "double quote"},
    };
    for (const Refusal &f : refusals) {
        const ToolRun r = joinTool({"-q", "--cue", "-o", f.output, f.input}, media.dir());
        EXPECT_EQ(r.exitCode, 2) << f.output.toStdString();
        EXPECT_TRUE(r.err.contains(f.says)) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(media.path(f.output))) << f.output.toStdString();
    }
    EXPECT_EQ(readWav(cueNamedInput).frames(), 441);
    EXPECT_FALSE(QFileInfo::exists(media.path("say \"hi\".cue")));
}

// A sheet that cannot be written fails the join by name, and the WAV,
// complete, stays.
TEST(JoinCue, AnUnwritableSheetFailsNamingIt)
{
    MediaFixtures media;
    const QString in = media.constantWav("in.wav", 4410, 44100, 2, 5);
    const QString out = media.path("out.wav");
    const QString cue = media.path("out.cue");
    ASSERT_TRUE(QDir().mkdir(cue));
    const ToolRun r = joinTool({"-q", "--cue", "-o", out, in});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("sonaweld-join: cannot write " + cue + ": ")) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    EXPECT_EQ(readWav(out).frames(), 4410);
    EXPECT_TRUE(QFileInfo(cue).isDir());
}

#ifndef _WIN32
// A failed or stopped join writes no sheet, and an older one of the same
// name stays as it was until a join succeeds.
TEST(JoinCue, OnlyACompleteJoinWritesOrReplacesTheSheet)
{
    MediaFixtures media;
    const QString in = media.constantWav("in.wav", 5 * 44100, 44100, 2, 11);
    const QString out = media.path("out.wav");
    const QString cue = media.path("out.cue");
    const QByteArray stale = "FILE \"out.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";

    // The disk "fills" after 200 kB, so the WAV fails half way.
    for (const bool withStale : {false, true}) {
        QFile::remove(out);
        if (withStale)
            media.textFile("out.cue", stale);
        QProcess p;
        limitFileSize(p, 200000);
        p.start(QStringLiteral(SONAWELD_JOIN_PATH), {"-q", "--cue", "-o", out, in});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 1) << p.readAllStandardError().toStdString();
        EXPECT_TRUE(QFileInfo::exists(out));
        if (withStale)
            EXPECT_EQ(fileBytes(cue), stale);
        else
            EXPECT_FALSE(QFileInfo::exists(cue));
    }

    // Stopped by Ctrl+C: about 99 minutes of input, stopped early on.
    QFile::remove(out);
    QFile::remove(cue);
    const QString tone = media.tone("tone.mp3", 60.0, 44100, 2, {"-b:a", "128k"});
    QStringList args{"-q", "--cue", "-r", "8000", "-c", "1", "-b", "8", "-o", out};
    for (int i = 0; i < 99; ++i)
        args << tone;
    QProcess p;
    p.start(QStringLiteral(SONAWELD_JOIN_PATH), args);
    ASSERT_TRUE(p.waitForStarted());
    for (int i = 0; i < 1000 && QFileInfo(out).size() < 1'000'000; ++i)
        QThread::msleep(20);
    ASSERT_GE(QFileInfo(out).size(), 1'000'000) << "the join did not start writing";
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 130);
    EXPECT_LT(readWav(out).frames(), 99LL * 60 * 8000);
    EXPECT_FALSE(QFileInfo::exists(cue));

    // A complete join replaces the stale sheet.
    media.textFile("out.cue", stale);
    const ToolRun done = joinTool({"-q", "-y", "--cue", "-o", out, in});
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    const CueSheetRead sheet = readCueSheet(cue);
    ASSERT_TRUE(sheet.valid) << sheet.error.toStdString();
    ASSERT_EQ(sheet.tracks.size(), 1u);
    EXPECT_EQ(sheet.tracks[0].source, in);
    // Nothing left behind from writing it.
    EXPECT_EQ(QDir(media.dir()).entryList(QDir::Files | QDir::Hidden).filter("out").size(), 2);
}
#endif

// A cue-aware splitter from Debian's packages cuts the joined file back into
// the clips, each cut within half a frame (294 samples) of the clip's first
// sample and each piece within a frame of its clip's length.
TEST(JoinCue, ASplitterCutsTheJoinedFileBackIntoItsClips)
{
    const QString shntool = QStandardPaths::findExecutable("shntool");
    if (shntool.isEmpty())
        GTEST_SKIP() << "shntool is not installed (Debian package shntool)";
    MediaFixtures media;
    // 1.3 s ends at 97.5 frames, 1.3 + 2.71 s at 300.75: a cut truncated to
    // the frame would miss the second by 441 samples.
    const QStringList files{media.tone("a.mp3", 1.3), media.tone("b.ogg", 2.71, 44100, 2, {"-c:a", "libvorbis"}),
                            media.tone("c.flac", 0.97)};
    const QString out = media.path("joined.wav");
    const ToolRun r = joinTool(QStringList{"-q", "--cue", "-o", out} + files);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    QDir(media.dir()).mkdir("pieces");
    QProcess split;
    split.setWorkingDirectory(media.dir());
    split.setProcessChannelMode(QProcess::MergedChannels);
    split.start(shntool, {"split", "-f", "joined.cue", "-d", "pieces", "-o", "wav", "-O", "always", "joined.wav"});
    ASSERT_TRUE(split.waitForFinished(60000));
    const QString log = QString::fromLocal8Bit(split.readAll());
    ASSERT_EQ(split.exitCode(), 0) << log.toStdString();
    const QStringList pieces = QDir(media.path("pieces")).entryList({"*.wav"}, QDir::Files, QDir::Name);
    ASSERT_EQ(pieces.size(), 3) << log.toStdString();

    const WavContents joined = readWav(out);
    std::int64_t clipStart = 0;
    std::int64_t cut = 0;
    for (int i = 0; i < 3; ++i) {
        const std::int64_t clipLength = MediaFixtures::decodedSamples(files[i]);
        const WavContents piece = readWav(media.path("pieces/" + pieces[i]));
        ASSERT_TRUE(piece.valid) << pieces[i].toStdString();
        EXPECT_LE(std::abs(cut - clipStart), 294) << "track " << i + 1;
        EXPECT_LE(std::abs(piece.frames() - clipLength), 588) << "track " << i + 1;
        // The piece is the joined file's own samples from the cut on.
        ASSERT_LE(static_cast<std::size_t>(cut) * 4 + piece.data.size(), joined.data.size());
        EXPECT_TRUE(std::equal(piece.data.begin(), piece.data.end(), joined.data.begin() + cut * 4))
            << "track " << i + 1;
        clipStart += clipLength;
        cut += piece.frames();
    }
    EXPECT_EQ(cut, joined.frames());
}

// A join without --cue that replaces an output removes the sheet an earlier
// join wrote for it, whatever the output's format; a sheet of that name that
// is a user's own, or ours for another file, stays byte for byte.
TEST(JoinCue, AJoinWithoutASheetRemovesOnlyOurOutdatedSheetForItsOutput)
{
    MediaFixtures media;
    const QString first = media.constantWav("first.wav", 4410, 44100, 2, 5);
    const QString second = media.constantWav("second.wav", 8820, 44100, 2, 9);
    for (const QString name : {"out.wav", "out.flac"}) {
        const QString out = media.path(name);
        const QString cue = cuePathOf(out);
        ASSERT_EQ(joinTool({"-q", "-y", "--cue", "-o", out, first, second}).exitCode, 0) << name.toStdString();
        ASSERT_TRUE(readCueSheet(cue).valid) << name.toStdString();
        const ToolRun r = joinTool({"-q", "-y", "-o", out, second});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(cue)) << name.toStdString();
        EXPECT_EQ(MediaFixtures::decodedSamples(out), 8820) << name.toStdString();
    }

    const QString out = media.path("out.wav");
    const QString cue = media.path("out.cue");
    struct Kept
    {
        const char *what;
        QByteArray sheet;
    };
    const Kept kept[] = {
        {"a user's own sheet", "FILE \"out.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
        {"ours for another file", "REM SONAWELD_RATE 44100\nFILE \"other.wav\" WAVE\n  TRACK 01 AUDIO\n"
                                  "    TITLE \"x\"\n    REM SONAWELD_SAMPLE 0 \"/x.wav\"\n    INDEX 01 00:00:00\n"},
        {"ours for a name that only starts alike", "REM SONAWELD_RATE 44100\nFILE \"out.wav.bak\" WAVE\n"},
    };
    for (const Kept &k : kept) {
        media.textFile("out.cue", k.sheet);
        ASSERT_EQ(joinTool({"-q", "-y", "-o", out, first}).exitCode, 0) << k.what;
        EXPECT_EQ(fileBytes(cue), k.sheet) << k.what;
    }
    // A join that fails leaves our sheet as it was.
    ASSERT_EQ(joinTool({"-q", "-y", "--cue", "-o", out, first}).exitCode, 0);
    const QByteArray ours = fileBytes(cue);
    EXPECT_EQ(joinTool({"-q", "-y", "-o", out, first, media.path("missing.wav")}).exitCode, 2);
    EXPECT_EQ(fileBytes(cue), ours);
}
