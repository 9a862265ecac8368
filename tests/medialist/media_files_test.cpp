#include "medialist/media_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

using namespace sonaweld;

namespace {

// The order a person expects, written out by hand: numbers by value however
// many digits they have, letters without regard to case, and names equal
// under those rules in plain character order.
const QStringList kNaturalOrder{
    "1 - Intro.mp3",
    "2 - Verse.mp3",
    "2-9.wav",
    "2-10.wav",
    "10 - Outro.mp3",
    "10-1.wav",
    "a1.wav",
    "ab.wav",
    "Apple.wav",
    "banana.wav",
    "Cherry.wav",
    "Disc 007.wav",
    "Disc 7.wav",
    "Disc 8.wav",
    "take 99999999999999999999.wav",
    "take 100000000000000000000.wav",
    "track1.wav",
    "track2.wav",
    "Track10.wav",
    "track11.wav",
    "track100.wav",
    "X.wav",
    "x.wav",
};

void touch(const QString &path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

} // namespace

TEST(NaturalOrder, SortsNamesAsAPersonExpectsWhateverTheInputOrder)
{
    QStringList names = kNaturalOrder;
    std::reverse(names.begin(), names.end());
    std::sort(names.begin(), names.end(), naturalLess);
    EXPECT_EQ(names, kNaturalOrder);
    for (unsigned seed : {1u, 7u, 42u, 2024u}) {
        std::shuffle(names.begin(), names.end(), std::mt19937(seed));
        std::sort(names.begin(), names.end(), naturalLess);
        EXPECT_EQ(names, kNaturalOrder) << "seed " << seed;
    }
}

TEST(NaturalOrder, IsAStrictTotalOrder)
{
    // std::sort needs a strict weak ordering; a comparison that broke it
    // could scramble a folder or read out of bounds.
    const QStringList &names = kNaturalOrder;
    for (const QString &a : names) {
        EXPECT_EQ(naturalCompare(a, a), 0);
        for (const QString &b : names) {
            EXPECT_EQ(naturalCompare(a, b), -naturalCompare(b, a)) << a.toStdString() << " / " << b.toStdString();
            if (a != b) {
                EXPECT_NE(naturalCompare(a, b), 0) << a.toStdString() << " / " << b.toStdString();
            }
            for (const QString &c : names) {
                if (naturalLess(a, b) && naturalLess(b, c)) {
                    EXPECT_TRUE(naturalLess(a, c)) << a.toStdString() << " < " << b.toStdString() << " < "
                                                   << c.toStdString();
                }
            }
        }
    }
    // A name that is a prefix of another comes first, digits or not.
    EXPECT_TRUE(naturalLess("track", "track1"));
    EXPECT_TRUE(naturalLess("track1", "track1b"));
    EXPECT_TRUE(naturalLess("", "a"));
}

TEST(NaturalOrder, LettersBeyondAsciiFollowTheUsersLanguage)
{
    // "Ä" is an A in German and a letter after Z in Swedish; numbers still
    // compare by value around them.
    struct Case
    {
        const char *locale;
        QStringList order;
    };
    const Case cases[] = {
        {"de_DE", {"Apfel 2.mp3", "Äpfel 2.mp3", "Äpfel 10.mp3", "Banane.mp3", "Zitrone.mp3"}},
        {"sv_SE", {"Apfel 2.mp3", "Banane.mp3", "Zitrone.mp3", "Äpfel 2.mp3", "Äpfel 10.mp3"}},
        {"fr_FR", {"cote.wav", "côte.wav", "coter.wav"}},
    };
    const QLocale before;
    for (const Case &c : cases) {
        QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
        QStringList names = c.order;
        for (unsigned seed : {3u, 11u, 99u}) {
            std::shuffle(names.begin(), names.end(), std::mt19937(seed));
            std::sort(names.begin(), names.end(), naturalLess);
            EXPECT_EQ(names, c.order) << c.locale << " seed " << seed;
        }
    }
    QLocale::setDefault(before);
}

TEST(NaturalOrder, AFolderIsListedInTheUsersOrder)
{
    QTemporaryDir dir;
    for (const char *name : {"Zebra.mp3", "Ärger.mp3", "apple 10.mp3", "apple 9.mp3"})
        touch(dir.filePath(QString::fromUtf8(name)));
    const QLocale before;
    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    const QStringList listed = mediaFilesInFolder(dir.path());
    QLocale::setDefault(before);
    QStringList names;
    for (const QString &path : listed)
        names << QFileInfo(path).fileName();
    EXPECT_EQ(names, QStringList({"apple 9.mp3", "apple 10.mp3", "Ärger.mp3", "Zebra.mp3"}));
}

TEST(MediaPatterns, TheMediaFilterKeepsItsTextAndReadsTheOtherContainers)
{
    const QList<FileFilter> &filters = mediaFileFilters();
    ASSERT_EQ(filters.size(), 5);
    EXPECT_EQ(filters[0].description, "Media Files (all types)");
    EXPECT_TRUE(filters[0].patterns.startsWith(
        "*.asf;*.wma;*.wmv;*.avi;*.vob;*.qt;*.mov;*.mpg;*.mpeg;*.dat;*.mp4;*.divx;*.div;"
        "*.ogm;*.wav;*.mpa;*.mp2;*.mp3;*.au;*.aif;*.aiff;*.snd;*.ogg;*.ac3;"));
    EXPECT_EQ(filters[4].description, "Any Files (*.*)");
    EXPECT_EQ(filters[4].patterns, "*.*;");

    for (const char *name : {"a.flac", "a.m4a", "a.aac", "a.opus", "a.webm", "a.mka", "a.mkv", "a.wv", "a.mp3",
                             "a.ac3", "a.asf"})
        EXPECT_TRUE(isMediaFileName(name)) << name;
    for (const char *name : {"Track.MP3", "Live.FLAC", "x.Wv"})
        EXPECT_TRUE(isMediaFileName(name)) << name << ": letter case must not matter";
    for (const char *name : {"cover.jpg", "notes.txt", "a.mp3.part", "mp3", "a.wvx", "a.flac~"})
        EXPECT_FALSE(isMediaFileName(name)) << name;
}

TEST(MediaPatterns, AFolderGivesItsMediaFilesInNaturalOrderAndNothingElse)
{
    QTemporaryDir root;
    const QDir dir(root.path());
    for (const char *name : {"10 b.mp3", "2 a.MP3", "1.flac", "notes.txt", "cover.jpg", "._1.mp3", "9.wv"})
        touch(dir.filePath(name));
    // A folder is entered only when dropped itself; one with a media name
    // is still a folder.
    ASSERT_TRUE(dir.mkpath("sub"));
    touch(dir.filePath("sub/3.mp3"));
    ASSERT_TRUE(dir.mkpath("4.mp3"));

    EXPECT_EQ(mediaFilesInFolder(root.path()),
              QStringList({dir.filePath("1.flac"), dir.filePath("2 a.MP3"), dir.filePath("9.wv"),
                           dir.filePath("10 b.mp3")}));
    EXPECT_EQ(mediaFilesInFolder(dir.filePath("sub")), QStringList({dir.filePath("sub/3.mp3")}));
    EXPECT_TRUE(mediaFilesInFolder(dir.filePath("4.mp3")).isEmpty());
    EXPECT_TRUE(mediaFilesInFolder(dir.filePath("no such folder")).isEmpty());
}
