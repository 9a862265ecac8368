#include "media/cue_sheet.h"
#include "compose/failure_text.h"
#include "media/join_metadata.h"
#include "media/media_tags.h"
#include "media/text_encoding.h"
#include "support/media_fixtures.h"
#include "tools/cue_reader.h"

#include <QFile>
#include <QString>
#include <QStringDecoder>

#include <gtest/gtest.h>

using namespace sonaweld::media;
using namespace sonaweld::test;
using sonaweld::failureText;

namespace {

struct Timed
{
    std::int64_t sample;
    const char *time;
};

void expectTimes(int rate, std::initializer_list<Timed> cases)
{
    for (const Timed &c : cases)
        EXPECT_EQ(cueTime(c.sample, rate), c.time) << c.sample << " at " << rate << " Hz";
}

std::string sheetFor(const std::vector<CueTrack> &tracks, int rate = 44100, const std::string &name = "out.wav")
{
    std::string sheet;
    const Result r = renderCueSheet(name, tracks, rate, sheet);
    EXPECT_TRUE(r) << failureText(r);
    return sheet;
}

CueSheetRead parsed(const std::string &sheet)
{
    return parseCueSheet(QByteArray::fromStdString(sheet));
}

} // namespace

// A CD frame is 1/75 s: 588 samples at 44100 Hz, 294 at 22050, 147 at
// 11025 and 106 2/3 at 8000. The expected times are worked out by hand.
TEST(CueTime, RoundsToTheNearestFrameWithHalvesGoingUp)
{
    expectTimes(44100, {
                           {0, "00:00:00"},
                           {293, "00:00:00"},
                           {294, "00:00:01"}, // exactly half a frame
                           {295, "00:00:01"},
                           {587, "00:00:01"},
                           {588, "00:00:01"},
                           {589, "00:00:01"},
                           {881, "00:00:01"},
                           {882, "00:00:02"},
                           {74 * 588, "00:00:74"},
                           {75 * 588 - 295, "00:00:74"},
                           {75 * 588 - 294, "00:01:00"},
                           {60 * 44100 - 294, "01:00:00"},
                           {60 * 44100 - 295, "00:59:74"},
                       });
    expectTimes(22050, {{146, "00:00:00"}, {147, "00:00:01"}, {293, "00:00:01"}, {294, "00:00:01"},
                        {441, "00:00:02"}, {22050, "00:01:00"}});
    // 11025 Hz has no half-frame sample: 73.5 lies between 73 and 74.
    expectTimes(11025, {{73, "00:00:00"}, {74, "00:00:01"}, {147, "00:00:01"}, {220, "00:00:01"},
                        {221, "00:00:02"}});
    // Frame n starts at 320n/3 samples, so the sample at 1.5 frames is 160.
    expectTimes(8000, {{53, "00:00:00"}, {54, "00:00:01"}, {106, "00:00:01"}, {107, "00:00:01"},
                       {159, "00:00:01"}, {160, "00:00:02"}, {8000, "00:01:00"}});
}

TEST(CueTime, CountsMinutesOnPastTheLengthOfACd)
{
    expectTimes(44100, {
                           {(99LL * 60 + 59) * 44100 + 74 * 588, "99:59:74"},
                           {100LL * 60 * 44100, "100:00:00"},
                           {(1234LL * 60 + 5) * 44100 + 6 * 588, "1234:05:06"},
                       });
    // Three days, and an RF64 file of 2^40 frames: no overflow on the way.
    expectTimes(8000, {{3LL * 24 * 3600 * 8000, "4320:00:00"}});
    expectTimes(44100, {{std::int64_t{1869917734} * 588, "415537:16:34"}});
}

TEST(CueField, KeepsEveryLineOneLineAndEveryFieldQuotable)
{
    EXPECT_EQ(cueField("Plain"), "Plain");
    // Quotes become U+201D; letters of every script stay as they are.
    EXPECT_EQ(cueField("12\" Mix"), "12\u201D Mix");
    EXPECT_EQ(cueField("\"Erlk\u00F6nig\""), "\u201DErlk\u00F6nig\u201D");
    EXPECT_EQ(cueField("\u65E5\u672C \u00C6r\u00F8 \U0001F3B5"), "\u65E5\u672C \u00C6r\u00F8 \U0001F3B5");
    // Line breaks and other control characters would end the line early.
    EXPECT_EQ(cueField("Side A\r\nSide B"), "Side A  Side B");
    EXPECT_EQ(cueField("Tab\there"), "Tab here");
    EXPECT_EQ(cueField("a\u0085b\u2028c\u2029d"), "a b c d");
    EXPECT_EQ(cueField(std::string("nul\0x\x7Fy", 7)), "nul x y");
    // Spaces at either end, and a field of spaces only, go.
    EXPECT_EQ(cueField("  padded \n"), "padded");
    EXPECT_EQ(cueField(" \t\n "), "");
    // Bytes that are no UTF-8 (Latin-1, a cut-off character, an overlong
    // slash, a surrogate) become U+FFFD, one per byte.
    EXPECT_EQ(cueField("Caf\xE9"), "Caf\uFFFD");
    EXPECT_EQ(cueField("cut \xE6\x97"), "cut \uFFFD\uFFFD");
    EXPECT_EQ(cueField("\xC0\xAF"), "\uFFFD\uFFFD");
    EXPECT_EQ(cueField("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(cueField("\xF4\x90\x80\x80"), "\uFFFD\uFFFD\uFFFD\uFFFD"); // past U+10FFFF
}

TEST(CueSheet, ReadsBackTrackByTrack)
{
    const std::string sheet = sheetFor({
        {0, "/music/01 Intro.flac", "Intro", "The Band"},
        {57330, "/music/02 Middle \"live\".ogg", "", ""},
        {176841, "/music/.hidden", " \r\n", "Solo\nArtist"},
        {176842, "/music/no extension", "", ""},
    });
    ASSERT_EQ(sheet.find('\r'), std::string::npos);
    const CueSheetRead read = parsed(sheet);
    ASSERT_TRUE(read.valid) << read.error.toStdString() << "\n" << sheet;
    EXPECT_EQ(read.file, "out.wav");
    EXPECT_EQ(read.rate, 44100);
    ASSERT_EQ(read.tracks.size(), 4u);

    EXPECT_EQ(read.tracks[0].title, "Intro");
    EXPECT_EQ(read.tracks[0].performer, "The Band");
    EXPECT_TRUE(read.tracks[0].hasPerformer);
    EXPECT_EQ(read.tracks[0].sample, 0);
    EXPECT_EQ(read.tracks[0].source, "/music/01 Intro.flac");
    EXPECT_EQ(read.tracks[0].index, "00:00:00");

    // No title or artist tag: the title is the file name without its
    // extension, and there is no performer at all rather than the file name.
    EXPECT_EQ(read.tracks[1].title, QString::fromUtf8("02 Middle \u201Dlive\u201D"));
    EXPECT_FALSE(read.tracks[1].hasPerformer);
    EXPECT_EQ(read.tracks[1].performer, "");
    EXPECT_EQ(read.tracks[1].source, QString::fromUtf8("/music/02 Middle \u201Dlive\u201D.ogg"));
    EXPECT_EQ(read.tracks[1].sample, 57330);
    EXPECT_EQ(read.tracks[1].index, "00:01:23"); // 97.5 frames

    // A title of spaces and breaks counts as none.
    EXPECT_EQ(read.tracks[2].title, ".hidden");
    EXPECT_EQ(read.tracks[2].performer, "Solo Artist");
    EXPECT_TRUE(read.tracks[2].hasPerformer);
    EXPECT_EQ(read.tracks[2].index, "00:04:01"); // 300.75 frames
    EXPECT_EQ(read.tracks[3].title, "no extension");
    EXPECT_FALSE(read.tracks[3].hasPerformer);
    // A performer of spaces and breaks counts as none too.
    const CueSheetRead blank = parsed(sheetFor({{0, "/music/a.flac", "A", " \t\r\n"}}));
    ASSERT_TRUE(blank.valid) << blank.error.toStdString();
    EXPECT_FALSE(blank.tracks[0].hasPerformer);
    EXPECT_EQ(sheetFor({{0, "/music/a.flac", "", ""}}).find("PERFORMER"), std::string::npos);
}

TEST(CueSheet, HoldsAtMost99Tracks)
{
    std::vector<CueTrack> tracks;
    for (int i = 0; i < 99; ++i)
        tracks.push_back({i * 44100LL, "/m/t" + std::to_string(i) + ".wav", "", ""});
    const CueSheetRead read = parsed(sheetFor(tracks));
    ASSERT_TRUE(read.valid) << read.error.toStdString();
    ASSERT_EQ(read.tracks.size(), 99u);
    EXPECT_EQ(read.tracks[98].number, 99);
    EXPECT_EQ(read.tracks[98].title, "t98");
    EXPECT_EQ(read.tracks[98].index, "01:38:00");

    tracks.push_back({99 * 44100LL, "/m/t99.wav", "", ""});
    std::string sheet = "untouched";
    const Result refused = renderCueSheet("out.wav", tracks, 44100, sheet);
    EXPECT_TRUE(refused.failed());
    EXPECT_NE(failureText(refused).find("at most 99 tracks"), std::string::npos) << failureText(refused);
    EXPECT_NE(failureText(refused).find("100"), std::string::npos) << failureText(refused);
    EXPECT_EQ(sheet, "untouched");
    EXPECT_TRUE(checkCueSheet("out.wav", 99));
    EXPECT_TRUE(checkCueSheet("out.wav", 100).failed());
}

// The FILE line must name the WAV exactly; a name changed to fit would
// point the sheet at a file that does not exist.
TEST(CueSheet, RefusesAFileNameItCannotQuote)
{
    EXPECT_TRUE(checkCueSheet("Album (2024) \u00E9t\u00E9 \u2013 'live' \u65E5\u672C.wav", 3));
    EXPECT_TRUE(checkCueSheet(" spaced .wav", 3));
    for (const std::string name : {"say \"hi\".wav", "two\nlines.wav", "tab\t.wav", "caf\xE9.wav", ""}) {
        std::string sheet;
        EXPECT_TRUE(renderCueSheet(name, {{0, "/a.wav", "", ""}}, 44100, sheet).failed()) << name;
        EXPECT_TRUE(sheet.empty()) << name;
    }
}

TEST(MediaTags, ReadsTitleAndArtistFromEveryCommonTagFormat)
{
    MediaFixtures media;
    const QString title = QString::fromUtf8("Der \"Erlk\u00F6nig\" \u65E5\u672C");
    const QString artist = QString::fromUtf8("\u00C6r\u00F8 Ensemble");
    const QString album = QString::fromUtf8("Lieder \u2013 \"live\"");
    const QStringList tone{"-f", "lavfi", "-i", "sine=frequency=440:duration=0.3:sample_rate=44100", "-ac", "2"};
    struct Tagged
    {
        const char *name;
        QStringList args;
    };
    const Tagged files[] = {
        {"id3v2.mp3", {}},
        {"vorbis.ogg", {"-c:a", "libvorbis"}},
        {"opus.opus", {"-c:a", "libopus"}},
        {"comment.flac", {}},
        {"itunes.m4a", {"-c:a", "aac"}},
        {"info.wav", {}},
        {"matroska.mka", {"-c:a", "flac"}},
        {"asf.wma", {"-c:a", "wmav2"}},
    };
    for (const Tagged &f : files) {
        // The keys in capitals: Vorbis comments keep them so.
        const QString path = media.make(f.name, tone + f.args + QStringList{"-metadata", "TITLE=" + title, "-metadata",
                                                                            "ARTIST=" + artist, "-metadata",
                                                                            "ALBUM=" + album});
        MediaTags tags;
        const Result r = readMediaTags(path.toStdString(), tags);
        ASSERT_TRUE(r) << f.name << ": " << failureText(r);
        EXPECT_EQ(QString::fromStdString(tags.title), title) << f.name;
        EXPECT_EQ(QString::fromStdString(tags.artist), artist) << f.name;
        EXPECT_EQ(QString::fromStdString(tags.album), album) << f.name;
    }

    MediaTags none{"stale", "stale", "stale", {{1, 2}, "image/png"}};
    ASSERT_TRUE(readMediaTags(media.make("bare.wav", tone).toStdString(), none));
    EXPECT_EQ(none.title, "");
    EXPECT_EQ(none.artist, "");
    EXPECT_EQ(none.album, "");
    EXPECT_TRUE(none.cover.empty());
    MediaTags missing;
    EXPECT_TRUE(readMediaTags(media.path("gone.mp3").toStdString(), missing).failed());
}

// Every byte against Qt's own Windows-1252 table: the five bytes the code
// page leaves undefined become U+FFFD, the rest their own character.
TEST(TextEncoding, ReadsEveryWindows1252ByteAsItsCharacter)
{
    QStringDecoder reference("windows-1252");
    if (!reference.isValid())
        GTEST_SKIP() << "this Qt has no Windows-1252 codec";
    for (int byte = 1; byte < 256; ++byte) {
        const std::string utf8 = windows1252ToUtf8(std::string(1, static_cast<char>(byte)));
        const bool undefined = byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
        const QString expected = undefined ? QString(QChar(0xFFFD)) : reference.decode(QByteArray(1, static_cast<char>(byte)));
        EXPECT_EQ(QString::fromStdString(utf8), expected) << "byte " << byte;
        EXPECT_TRUE(isUtf8(utf8)) << "byte " << byte;
    }
    EXPECT_TRUE(isUtf8("Caf\u00E9 \u201Clive\u201D \U0001F3B5"));
    EXPECT_FALSE(isUtf8("Caf\xE9"));
    EXPECT_FALSE(isUtf8("\xC0\xAF"));
}

// A WAV whose INFO tags hold Windows-1252 bytes, as Windows programs write
// them, is read as that code page, in the tags, the chapters and the cue
// sheet; a value that is UTF-8 stays as it is, even where its bytes would
// also make sense as Windows-1252.
TEST(MediaTags, ReadsRiffInfoThatIsNoUtf8AsWindows1252)
{
    MediaFixtures media;
    const QString wav = media.constantWav("ansi.wav", 44100, 44100, 2, 7);
    MediaFixtures::appendRiffInfo(wav, {{"INAM", "Caf\xE9 \x93live\x94 \x80"},
                                        {"IART", "Bj\xF6rk \x96 Ensemble"},
                                        {"IPRD", "Caf\xC3\xA9"}});
    const QString title = QString::fromUtf8("Caf\u00E9 \u201Clive\u201D \u20AC");
    const QString artist = QString::fromUtf8("Bj\u00F6rk \u2013 Ensemble");
    MediaTags tags;
    const Result r = readMediaTags(wav.toStdString(), tags);
    ASSERT_TRUE(r) << failureText(r);
    EXPECT_EQ(QString::fromStdString(tags.title), title);
    EXPECT_EQ(QString::fromStdString(tags.artist), artist);
    EXPECT_EQ(QString::fromStdString(tags.album), QString::fromUtf8("Caf\u00E9"));

    JoinPlan plan = planJoin({{wav.toStdString(), kUnitsPerSecond}}, media.path("out.wav").toStdString(),
                              pcmFormat(44100, 2, 16));
    describeJoin(plan);
    ASSERT_EQ(plan.chapters.size(), 1u);
    EXPECT_EQ(QString::fromStdString(plan.chapters[0].title), title);

    std::string sheet;
    ASSERT_TRUE(renderCueSheet("out.wav", {{0, wav.toStdString(), tags.title, tags.artist}}, 44100, sheet));
    const CueSheetRead read = parsed(sheet);
    ASSERT_TRUE(read.valid) << read.error.toStdString();
    EXPECT_EQ(read.tracks[0].title, title);
    EXPECT_EQ(read.tracks[0].performer, artist);

    // An AVI's INFO list is RIFF too: its title written with a placeholder
    // of the same length, then patched to Windows-1252 bytes.
    const QString avi = media.make("ansi.avi", {"-f", "lavfi", "-i", "sine=d=1", "-c:a", "pcm_s16le", "-metadata",
                                                "title=CafX"});
    QFile file(avi);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const qsizetype at = bytes.indexOf("CafX");
    ASSERT_GE(at, 0);
    bytes[at + 3] = '\xE9';
    ASSERT_TRUE(file.seek(0));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    MediaTags aviTags;
    ASSERT_TRUE(readMediaTags(avi.toStdString(), aviTags));
    EXPECT_EQ(QString::fromStdString(aviTags.title), QString::fromUtf8("Caf\u00E9"));
}
