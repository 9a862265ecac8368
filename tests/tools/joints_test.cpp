// Gaps, crossfades, trimmed silence and matched loudness of sonaweld-join,
// each held against what FFmpeg's own filters make of the same sources, on
// clips of a minute or more.
#include "support/ffmpeg_reference.h"
#include "support/join_tool.h"
#include "support/media_fixtures.h"
#include "support/media_probe.h"
#include "tools/cue_reader.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

using namespace sonaweld::test;

namespace {

constexpr int kRate = 44100;
// A millisecond at the output rate, rounded up: the tolerance of a trim.
constexpr std::int64_t kMillisecond = 45;

// A chirp of its own for each clip, starting at full swing on both
// channels, so a clip moved by one sample shows in its first one.
QString chirp(double base, double level = 1.0)
{
    return QStringLiteral("%1*cos(2*PI*(%2+20*T)*T)|%3*cos(2*PI*(%4+15*T)*T)")
        .arg(0.4 * level)
        .arg(base)
        .arg(0.3 * level)
        .arg(base * 1.5);
}

// `sound` between `from` and `to` seconds and `quiet` elsewhere; T in
// `sound` counts from `from`.
QString framed(double from, double to, const QString &sound, const QString &quiet)
{
    const QStringList channels = sound.split('|');
    QStringList out;
    for (const QString &c : channels) {
        QString local = c;
        local.replace("T", QStringLiteral("(t-%1)").arg(from));
        out << QStringLiteral("if(between(t,%1,%2),%3,%4)").arg(from).arg(to).arg(local, quiet);
    }
    return out.join('|');
}

// White noise whose every sample is at most `peak` (linear) from zero.
QString noise(double peak)
{
    return QStringLiteral("%1*(2*random(0)-1)").arg(peak);
}

struct Source
{
    const char *name;
    QString expression; // aevalsrc's, one per channel
    int rate;
    double seconds;
    QStringList encoder = {};
};

QString makeSource(const MediaFixtures &media, const Source &s)
{
    QString expression = s.expression;
    if (!expression.contains('|'))
        expression += '|' + expression;
    expression.replace("T", "t");
    const QString lavfi = QStringLiteral("aevalsrc='%1':s=%2:d=%3").arg(expression).arg(s.rate).arg(s.seconds);
    return media.make(s.name, QStringList{"-f", "lavfi", "-i", lavfi} + s.encoder);
}

// Frames [from, to) of a 16-bit WAV file, interleaved.
std::vector<std::int16_t> interleaved(const WavContents &wav, std::int64_t from, std::int64_t to)
{
    std::vector<std::int16_t> s;
    for (std::int64_t f = std::max<std::int64_t>(from, 0); f < std::min(to, wav.frames()); ++f)
        for (int c = 0; c < wav.channels; ++c)
            s.push_back(static_cast<std::int16_t>(wav.sample(f, c)));
    return s;
}

QString cueTime(std::int64_t sample, int rate)
{
    const long frame = std::lround(static_cast<double>(sample) * 75 / rate);
    return QString::asprintf("%02ld:%02ld:%02ld", frame / 4500, frame / 75 % 60, frame % 75);
}

// A join to a WAV file with its cue sheet, read back. The clips' places are
// the sheet's; the sheet's INDEX lines and FFmpeg's reading of the file's
// own chapters are checked against them here, for every join.
struct Joined
{
    ToolRun run;
    WavContents wav;
    std::vector<std::int64_t> places;

    std::vector<std::int16_t> samples(std::int64_t from, std::int64_t to) const { return interleaved(wav, from, to); }
};

Joined joinWav(const MediaFixtures &media, const QString &name, const QStringList &options,
               const QStringList &clips)
{
    Joined j;
    const QString out = media.path(name + ".wav");
    j.run = joinTool(QStringList{"-q", "-y", "--cue"} + options + QStringList{"-o", out} + clips);
    if (j.run.exitCode != 0) {
        ADD_FAILURE() << "exit " << j.run.exitCode << ": " << j.run.err.toStdString();
        return j;
    }
    j.wav = readWav(out);
    EXPECT_TRUE(j.wav.valid) << j.wav.error.toStdString();
    const CueSheetRead sheet = readCueSheet(media.path(name + ".cue"));
    EXPECT_TRUE(sheet.valid) << sheet.error.toStdString();
    const ProbedFile probed = probeFile(out);
    EXPECT_EQ(sheet.tracks.size(), static_cast<std::size_t>(clips.size()));
    EXPECT_EQ(probed.chapters.size(), sheet.tracks.size());
    for (std::size_t i = 0; i < sheet.tracks.size(); ++i) {
        const CueTrackRead &t = sheet.tracks[i];
        j.places.push_back(t.sample);
        EXPECT_EQ(t.index, cueTime(t.sample, kRate)) << "track " << i + 1;
        if (i < probed.chapters.size()) {
            EXPECT_EQ(std::llround(probed.chapters[i].start * kRate), t.sample) << "chapter " << i + 1;
        }
    }
    return j;
}

std::int64_t frames(const std::vector<std::int16_t> &pcm, int channels = 2)
{
    return static_cast<std::int64_t>(pcm.size()) / channels;
}

// The largest difference between two runs of samples of the same length.
int largestDifference(const std::vector<std::int16_t> &a, const std::vector<std::int16_t> &b)
{
    int most = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        most = std::max(most, std::abs(a[i] - b[i]));
    return most;
}

int differingSamples(const std::vector<std::int16_t> &a, const std::vector<std::int16_t> &b)
{
    int count = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        count += a[i] != b[i];
    return count;
}

double correlation(const std::vector<std::int16_t> &a, const std::vector<std::int16_t> &b)
{
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

bool allZero(const std::vector<std::int16_t> &s)
{
    return std::all_of(s.begin(), s.end(), [](std::int16_t v) { return v == 0; });
}

// The stderr lines of the tool that name `path`'s held-back gain: the gain in
// dB, or NaN when there is no such line.
double heldGain(const QString &err, const QString &path)
{
    const QRegularExpression line(QStringLiteral("^sonaweld-join: %1: gain held to ([+-]\\d+\\.\\d\\d) dB by the "
                                                 "true-peak ceiling of -1 dBTP$")
                                      .arg(QRegularExpression::escape(path)),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = line.match(err);
    return m.hasMatch() ? m.captured(1).toDouble() : std::nan("");
}

// Sources shared by the suite, made once.
//   joints: lossless at the output rate (sample-exact through a join) but
//           for c, which is resampled
//   trims:  sound framed by digital silence, by noise below -60 dBFS, by
//           noise between -60 and -50 dBFS, and noise only
//   levels: about -30 and -12 LUFS, and a quiet one with loud bursts whose
//           true peak holds its gain back
class Joints : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        media = new MediaFixtures;
        const Source sources[] = {
            {"a.wav", chirp(150), kRate, 61.3},
            {"b.flac", chirp(220), kRate, 63.7, {"-sample_fmt", "s16"}},
            {"c.flac", chirp(290), 48000, 60.4, {"-sample_fmt", "s16"}},
            {"d.wav", chirp(360), kRate, 62.1},
            {"zeros.wav", framed(2.5, 63.5, chirp(180), "0"), kRate, 66.7},
            {"hiss.flac", framed(1.7, 62.2, chirp(250), noise(0.0003)), 48000, 64.3, {"-sample_fmt", "s16"}},
            {"murmur.wav", framed(1.3, 61.3, chirp(320), noise(0.0015)), kRate, 62.2},
            {"silent.wav", noise(0.0002), kRate, 60.0},
            {"quiet.wav", chirp(200, 0.09), kRate, 70.0},
            {"loud.flac", chirp(270, 0.8), 48000, 60.0, {"-sample_fmt", "s16"}},
            {"peaky.mp3",
             "0.03*sin(2*PI*330*t)+if(lt(mod(t,5),0.05),0.7*sin(2*PI*1000*t),0)|0.03*sin(2*PI*440*t)",
             kRate,
             60.0,
             {"-c:a", "libmp3lame", "-q:a", "2"}},
        };
        for (const Source &s : sources)
            (*paths)[s.name] = makeSource(*media, s);
    }
    static void TearDownTestSuite()
    {
        delete media;
        media = nullptr;
        paths->clear();
    }

    static QString path(const char *name) { return paths->at(name); }
    static QStringList list(std::initializer_list<const char *> names)
    {
        QStringList l;
        for (const char *n : names)
            l << path(n);
        return l;
    }
    // FFmpeg's decoding of a source at the output format.
    static const std::vector<std::int16_t> &decoded(const QString &p)
    {
        auto it = pcm->find(p);
        if (it == pcm->end())
            it = pcm->emplace(p, decodedPcm(p, kRate, 2)).first;
        return it->second;
    }

    // silenceremove's trim of a source at `db`.
    static SilenceTrim trimmed(const QString &p, double db)
    {
        const QString key = p + QStringLiteral("@%1").arg(db);
        auto it = trims->find(key);
        if (it == trims->end())
            it = trims->emplace(key, silenceReference(p, db)).first;
        return it->second;
    }

    // ebur128's reading of a whole source at the output format.
    static LoudnessReading level(const QString &p)
    {
        auto it = levels->find(p);
        if (it == levels->end())
            it = levels->emplace(p, loudnessReference(p)).first;
        return it->second;
    }

    static MediaFixtures *media;
    static std::map<std::string, QString> *paths;
    static std::map<QString, LoudnessReading> *levels;
    static std::map<QString, std::vector<std::int16_t>> *pcm;
    static std::map<QString, SilenceTrim> *trims;
};

MediaFixtures *Joints::media = nullptr;
std::map<std::string, QString> *Joints::paths = new std::map<std::string, QString>;
std::map<QString, std::vector<std::int16_t>> *Joints::pcm = new std::map<QString, std::vector<std::int16_t>>;
std::map<QString, SilenceTrim> *Joints::trims = new std::map<QString, SilenceTrim>;
std::map<QString, LoudnessReading> *Joints::levels = new std::map<QString, LoudnessReading>;

} // namespace

// Each clip starts where the lengths FFmpeg decodes before it and the gaps
// put it, silence exactly fills the gaps, and a lossless clip at the output
// rate is FFmpeg's decoding of it to the sample. c is resampled: the clip
// after it starts within a sample of its exact length at the output rate.
TEST_F(Joints, GapsPutEveryClipAtItsPlaceWithSilenceBetween)
{
    const QStringList clips = list({"a.wav", "b.flac", "c.flac", "d.wav"});
    for (const char *gap : {"0.5", "0.70711"}) {
        SCOPED_TRACE(gap);
        const std::int64_t g = std::llround(std::atof(gap) * kRate);
        const Joined j = joinWav(*media, "gaps", {"--gap", gap}, clips);
        ASSERT_EQ(j.places.size(), 4u);

        const double cFrames = static_cast<double>(MediaFixtures::decodedSamples(clips[2])) * kRate / 48000;
        const std::int64_t a = frames(decoded(clips[0])), b = frames(decoded(clips[1]));
        EXPECT_EQ(j.places[0], 0);
        EXPECT_EQ(j.places[1], a + g);
        EXPECT_EQ(j.places[2], a + b + 2 * g);
        EXPECT_NEAR(static_cast<double>(j.places[3]), static_cast<double>(j.places[2] + g) + cFrames, 1.0);
        EXPECT_EQ(j.wav.frames(), j.places[3] + frames(decoded(clips[3])));

        for (std::size_t i = 1; i < 4; ++i)
            EXPECT_TRUE(allZero(j.samples(j.places[i] - g, j.places[i]))) << "the gap before clip " << i;
        for (const std::size_t i : {0u, 1u, 3u}) {
            const std::vector<std::int16_t> span = j.samples(j.places[i], j.places[i] + frames(decoded(clips[i])));
            EXPECT_TRUE(span == decoded(clips[i])) << "clip " << i;
        }
        // The resampled clip, away from its edges, where resamplers differ.
        const auto resampled = j.samples(j.places[2] + kRate, j.places[3] - g - kRate);
        const auto &ref = decoded(clips[2]);
        EXPECT_GT(correlation(resampled, {ref.begin() + 2 * kRate, ref.end()}), 0.995);
    }
}

// The output is acrossfade's mix of the same clips, within one step of the
// last bit; each clip's place is the start of its fade-in. A crossfade
// longer than half the shorter clip of its joint is shortened to that, and
// only that joint. Over a fade of 44 frames the gain moves from one frame
// to the next by far more than the rounding, so a fade a frame early or
// late shows there: those joins must be exact, as both sides compute the
// same products in doubles and round once. 8-bit and mono output are mixed
// as they are stored, against the sources converted to that format before
// the mix, and one worker writes the bytes of two.
TEST_F(Joints, CrossfadesMixAsFFmpegsAcrossfadeDoes)
{
    const std::int64_t halfOfA = frames(decoded(path("a.wav"))) / 2;
    const struct
    {
        const char *name;
        QStringList options;
        QStringList clips;
        std::vector<std::int64_t> joints;
        QStringList shortened = {}; // the stderr lines
        PcmFormat format = {};
        int differing = -1; // samples that may differ (by one); -1: any number
        bool workers = false; // -j 1 and -j 2 compared byte for byte
    } cases[] = {
        {"3", {"--crossfade", "3"}, list({"a.wav", "b.flac"}), {3 * kRate}},
        {"2.5", {"--crossfade", "2.5"}, list({"a.wav", "b.flac", "d.wav"}), {110250, 110250}},
        {"31",
         {"--crossfade", "31"},
         list({"a.wav", "b.flac", "d.wav"}),
         {halfOfA, 31 * kRate},
         {QStringLiteral("sonaweld-join: the crossfade between %1 and %2 is shortened to %3 s, half the shorter file")
              .arg(path("a.wav"), path("b.flac"))
              .arg(static_cast<double>(halfOfA) / kRate, 0, 'f', 3)}},
        {"0.001", {"--crossfade", "0.001"}, list({"a.wav", "b.flac", "d.wav"}), {44, 44}, {}, {}, 0},
        {"0.001 8-bit",
         {"--crossfade", "0.001", "-b", "8"},
         list({"a.wav", "b.flac"}),
         {44},
         {},
         {kRate, 2, 8},
         0,
         true},
        {"0.001 mono",
         {"--crossfade", "0.001", "-c", "1"},
         list({"a.wav", "b.flac"}),
         {44},
         {},
         {kRate, 1, 16},
         0,
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Joined j = joinWav(*media, "crossfade", QStringList{"-j", "1"} + c.options, c.clips);
        ASSERT_EQ(j.places.size(), static_cast<std::size_t>(c.clips.size()));
        ASSERT_EQ(j.wav.channels, c.format.channels);
        ASSERT_EQ(j.wav.bits, c.format.bits);
        const std::vector<std::int16_t> reference = crossfadeReference(c.clips, c.joints, c.format);
        ASSERT_GT(reference.size(), 0u);
        std::int64_t at = 0;
        for (qsizetype i = 0; i < c.clips.size(); ++i) {
            EXPECT_EQ(j.places.at(i), at) << "clip " << i;
            at += frames(decoded(c.clips[i])) - (i + 1 < c.clips.size() ? c.joints[i] : 0);
        }
        EXPECT_EQ(j.wav.frames(), at);
        EXPECT_EQ(j.wav.frames(), frames(reference, c.format.channels));
        const std::vector<std::int16_t> ours = j.samples(0, j.wav.frames());
        EXPECT_LE(largestDifference(ours, reference), 1);
        if (c.differing >= 0) {
            EXPECT_LE(differingSamples(ours, reference), c.differing);
        }
        QStringList lines = j.run.err.split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines, c.shortened);
        if (c.workers) {
            const QByteArray one = fileBytes(media->path("crossfade.wav"));
            joinWav(*media, "crossfade", QStringList{"-j", "2"} + c.options, c.clips);
            EXPECT_TRUE(one == fileBytes(media->path("crossfade.wav"))) << "-j 1 and -j 2 differ";
        }
    }
}

// Bad combinations and values are refused before anything is written.
TEST_F(Joints, ConflictingOrBadOptionsAreUsageErrors)
{
    const QStringList refused[] = {
        {"--gap", "0.5", "--crossfade", "1"},
        {"--loudness", "-16", "--album-loudness", "-16"},
        {"--gap", "-1"},
        {"--crossfade", "x"},
        {"--trim-silence=6"},
        {"--loudness", "loud"},
    };
    const QString out = media->path("refused.wav");
    for (const QStringList &options : refused) {
        SCOPED_TRACE(options.join(' ').toStdString());
        const ToolRun r = joinTool(options + QStringList{"-q", "-o", out} + list({"a.wav", "b.flac"}));
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out));
    }
}

// One clip joined alone keeps what silenceremove keeps at the same
// threshold: to the millisecond, and from a lossless source at the output
// rate, where both decide on the same samples, to the frame, keeping the
// source's own samples.
TEST_F(Joints, TrimmedClipsKeepWhatSilenceremoveKeeps)
{
    const struct
    {
        const char *clip;
        const char *option;
        double db;
        bool exact; // lossless at the output rate
    } cases[] = {
        {"zeros.wav", "--trim-silence", -60, true},
        {"hiss.flac", "--trim-silence", -60, false},
        {"murmur.wav", "--trim-silence", -60, true},
        {"murmur.wav", "--trim-silence=-50", -50, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.clip) + " " + c.option);
        const QString source = path(c.clip);
        const SilenceTrim ref = trimmed(source, c.db);
        ASSERT_GT(ref.kept, 50 * kRate);
        const Joined j = joinWav(*media, "trimmed", {c.option}, {source});
        EXPECT_NEAR(static_cast<double>(j.wav.frames()), static_cast<double>(ref.kept), c.exact ? 0 : kMillisecond);
        if (c.exact) {
            const auto &all = decoded(source);
            const std::vector<std::int16_t> kept(all.begin() + 2 * ref.lead, all.begin() + 2 * (ref.lead + ref.kept));
            EXPECT_TRUE(j.samples(0, j.wav.frames()) == kept);
        }
    }
    // murmur's noise lies between the two thresholds: the option is heard.
    EXPECT_LT(trimmed(path("murmur.wav"), -50).kept + kRate, trimmed(path("murmur.wav"), -60).kept);
}

// In a list, each trimmed clip's span runs to the next one's place; with a
// gap the gap follows the trimmed end. A clip silent throughout keeps one
// frame. --probe still tells the files' own lengths.
TEST_F(Joints, TrimmedClipsMoveTheirNeighboursAndTheProbeKeepsFullLengths)
{
    const QStringList clips = list({"zeros.wav", "silent.wav", "hiss.flac", "murmur.wav"});
    for (const std::int64_t g : {0, 22050}) {
        SCOPED_TRACE(g);
        QStringList options{"--trim-silence"};
        if (g)
            options << "--gap" << "0.5";
        const Joined j = joinWav(*media, "trimmed-list", options, clips);
        ASSERT_EQ(j.places.size(), 4u);
        EXPECT_EQ(j.places[0], 0);
        EXPECT_EQ(j.places[2] - j.places[1] - g, 1) << "the silent clip keeps one frame";
        for (const std::size_t i : {0u, 2u, 3u}) {
            const std::int64_t end = i + 1 < 4 ? j.places[i + 1] - g : j.wav.frames();
            EXPECT_NEAR(static_cast<double>(end - j.places[i]),
                        static_cast<double>(trimmed(clips[static_cast<qsizetype>(i)], -60).kept), kMillisecond)
                << "clip " << i;
        }
        for (std::size_t i = 1; g && i < 4; ++i)
            EXPECT_TRUE(allZero(j.samples(j.places[i] - g, j.places[i]))) << "the gap before clip " << i;
    }
    const ToolRun plain = joinTool(QStringList{"--probe"} + clips);
    const ToolRun trimming = joinTool(QStringList{"--trim-silence", "--probe"} + clips);
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(trimming.exitCode, 0) << trimming.err.toStdString();
    EXPECT_EQ(trimming.out, plain.out);
    EXPECT_EQ(plain.out.count('\n'), 4);
}

// Each clip's span, as ebur128 measures it in the output, is at the target,
// except the one whose true peak holds it back: that one is named with its
// gain, its span peaks just under the ceiling and moved by that gain.
TEST_F(Joints, EachClipIsBroughtToTheLoudnessOrHeldByItsPeak)
{
    const QStringList clips = list({"quiet.wav", "loud.flac", "peaky.mp3"});
    const QString out = media->path("levels.wav");
    const Joined j = joinWav(*media, "levels", {"--loudness", "-16"}, clips);
    ASSERT_EQ(j.places.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(clips[static_cast<qsizetype>(i)].toStdString());
        const std::int64_t end = i + 1 < 3 ? j.places[i + 1] : j.wav.frames();
        const LoudnessReading span = loudnessReference(out, j.places[i], end);
        ASSERT_TRUE(span.valid);
        const double held = heldGain(j.run.err, clips[static_cast<qsizetype>(i)]);
        if (i < 2) {
            EXPECT_TRUE(std::isnan(held)) << j.run.err.toStdString();
            EXPECT_NEAR(span.integrated, -16, 0.1);
            continue;
        }
        ASSERT_FALSE(std::isnan(held)) << j.run.err.toStdString();
        const LoudnessReading source = level(clips[static_cast<qsizetype>(i)]);
        EXPECT_LT(span.integrated, -16.5);
        EXPECT_NEAR(span.integrated - source.integrated, held, 0.1);
        EXPECT_LE(span.truePeakDb, -1 + 0.1);
        EXPECT_GT(span.truePeakDb, -1.2);
    }
}

// One gain for all: the whole output at the target, each clip moved by the
// same amount from its source's level. The pooled level is the loud clip's,
// the quiet one falling under the relative gate; a mean of the clips' values
// would be several LU below it. With the peaky clip and a high target, its peak holds
// every clip back by the same gain, and it is the one named.
TEST_F(Joints, AlbumLoudnessMovesAllClipsByOneGain)
{
    const struct
    {
        const char *target;
        QStringList clips;
        bool held; // the last clip's peak holds the gain back
    } cases[] = {
        {"-18", list({"quiet.wav", "loud.flac", "peaky.mp3"}), false},
        {"-16", list({"quiet.wav", "peaky.mp3"}), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        const QString out = media->path("album.wav");
        const Joined j = joinWav(*media, "album", {"--album-loudness", c.target}, c.clips);
        ASSERT_EQ(j.places.size(), static_cast<std::size_t>(c.clips.size()));
        const LoudnessReading whole = loudnessReference(out);
        std::vector<double> moved;
        for (qsizetype i = 0; i < c.clips.size(); ++i) {
            const std::int64_t end = i + 1 < c.clips.size() ? j.places[i + 1] : j.wav.frames();
            moved.push_back(loudnessReference(out, j.places[i], end).integrated -
                            level(c.clips[i]).integrated);
            EXPECT_NEAR(moved.back(), moved.front(), 0.1) << "clip " << i;
        }
        const double held = heldGain(j.run.err, c.clips.back());
        if (!c.held) {
            EXPECT_NEAR(whole.integrated, std::atof(c.target), 0.1);
            EXPECT_TRUE(j.run.err.isEmpty()) << j.run.err.toStdString();
            continue;
        }
        EXPECT_LT(whole.integrated, std::atof(c.target) - 0.5);
        EXPECT_NEAR(held, moved.front(), 0.1) << j.run.err.toStdString();
        EXPECT_TRUE(std::isnan(heldGain(j.run.err, c.clips.front()))) << j.run.err.toStdString();
        EXPECT_LE(whole.truePeakDb, -1 + 0.1);
        EXPECT_GT(whole.truePeakDb, -1.2);
    }
}

// All of it at once, in every format and with one worker and two: WAV and
// FLAC byte for byte the same either way, FLAC decoding to the WAV's
// samples, lossy formats to its length.
TEST_F(Joints, EveryFormatAndWorkerCountJoinsTheSameSamples)
{
    const QStringList clips = list({"zeros.wav", "hiss.flac", "loud.flac"});
    const QStringList options{"-q", "-y", "--crossfade", "1", "--trim-silence", "--album-loudness", "-16"};
    const QString wav = media->path("all.wav");
    ASSERT_EQ(joinTool(options + QStringList{"-j", "1", "-o", wav} + clips).exitCode, 0);
    const WavContents joined = readWav(wav);
    ASSERT_TRUE(joined.valid);
    std::int64_t expected = -2 * kRate;
    for (const QString &c : clips)
        expected += trimmed(c, -60).kept;
    EXPECT_NEAR(static_cast<double>(joined.frames()), static_cast<double>(expected), 3 * kMillisecond);
    EXPECT_NEAR(loudnessReference(wav).integrated, -16, 0.1);

    const struct
    {
        const char *extension;
        bool lossless;
        int decodedRate;
    } formats[] = {{"wav", true, kRate}, {"flac", true, kRate}, {"mp3", false, kRate}, {"opus", false, 48000}};
    for (const auto &f : formats) {
        SCOPED_TRACE(f.extension);
        const QString one = f.extension == QStringLiteral("wav") ? wav : media->path(QStringLiteral("all-1.") + f.extension);
        const QString two = media->path(QStringLiteral("all-2.") + f.extension);
        if (f.lossless) {
            if (one != wav) {
                ASSERT_EQ(joinTool(options + QStringList{"-j", "1", "-o", one} + clips).exitCode, 0);
            }
            ASSERT_EQ(joinTool(options + QStringList{"-j", "2", "-o", two} + clips).exitCode, 0);
            EXPECT_TRUE(fileBytes(one) == fileBytes(two));
            const std::vector<std::int16_t> pcm = decodedPcm(two, kRate, 2);
            EXPECT_TRUE(pcm == interleaved(joined, 0, joined.frames()));
        } else {
            ASSERT_EQ(joinTool(options + QStringList{"-j", "2", "-o", two} + clips).exitCode, 0);
            EXPECT_EQ(MediaFixtures::decodedSamples(two),
                      std::llround(static_cast<double>(joined.frames()) * f.decodedRate / kRate));
        }
    }
}
