#include "app/paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sonaweld;

namespace {

QString nameOf(const QString &path, PathStyle style)
{
    QString out = QStringLiteral("untouched");
    fileNameOfPath(path, out, style);
    return out;
}

} // namespace

TEST(Paths, WindowsStyleSplitsOnBothSeparatorsAndDrives)
{
    const auto w = PathStyle::Windows;
    EXPECT_EQ(pathTail("c:\\sonaweld.wav", w), "\\sonaweld.wav");
    EXPECT_EQ(pathTail("c:\\music/a.mp3", w), "/a.mp3");
    EXPECT_EQ(pathTail("sonaweld.wav", w), "");

    EXPECT_EQ(folderOfPath("c:\\music\\a.mp3", w), "c:\\music\\");
    EXPECT_EQ(folderOfPath("c:\\a.mp3", w), "c:\\");
    EXPECT_EQ(folderOfPath("d:/x/y.wav", w), "d:/x/");
    EXPECT_EQ(folderOfPath("c:a.mp3", w), "c:");
    EXPECT_EQ(folderOfPath("a.mp3", w), "");

    EXPECT_EQ(nameOf("c:\\music\\song.mp3", w), "song.mp3");
    EXPECT_EQ(nameOf("c:song.mp3", w), "song.mp3");
    EXPECT_EQ(nameOf("\\\\server\\share\\my.song.v2.mp3", w), "my.song.v2.mp3");
    EXPECT_EQ(nameOf("c:\\music\\README", w), "README");
}

TEST(Paths, PosixStyleTakesBackslashAsAnOrdinaryCharacter)
{
    const auto p = PathStyle::Posix;
    EXPECT_EQ(pathTail("/home/u/Music/a.wav", p), "/a.wav");
    EXPECT_EQ(pathTail("c:\\sonaweld.wav", p), "");
    EXPECT_EQ(folderOfPath("/home/u/a\\b.mp3", p), "/home/u/");
    EXPECT_EQ(folderOfPath("/a.mp3", p), "/");
    EXPECT_EQ(folderOfPath("c:a.mp3", p), "");
    EXPECT_EQ(nameOf("/home/u/a\\b.mp3", p), "a\\b.mp3");
    EXPECT_EQ(nameOf("/home/u/.hidden", p), ".hidden");
    EXPECT_EQ(nameOf("/música/日本.flac", p), "日本.flac");
}

TEST(Paths, EmptyPathLeavesTheNameUntouched)
{
    QString out = QStringLiteral("kept");
    EXPECT_FALSE(fileNameOfPath(QString(), out, PathStyle::Posix));
    EXPECT_EQ(out, "kept");
    EXPECT_TRUE(fileNameOfPath("x", out, PathStyle::Posix));
    EXPECT_EQ(out, "x");
}

TEST(Paths, OverlongPathsAreRefusedNotCut)
{
    const QString windowsLimit = "c:\\" + QString(256, u'a');
    ASSERT_EQ(windowsLimit.size(), 259);
    EXPECT_TRUE(pathFits(windowsLimit, PathStyle::Windows));
    EXPECT_FALSE(pathFits(windowsLimit + u'a', PathStyle::Windows));

    // POSIX counts bytes: 4095 in all, 255 in any one name. Names of 80
    // three-byte characters (240 bytes) joined by "/" fill the path.
    const QString name(80, QChar(0x65E5));
    QString wide;
    while (wide.toUtf8().size() + 241 <= 4095)
        wide += "/" + name;
    wide += "/" + QString(4095 - wide.toUtf8().size() - 1, u'a');
    ASSERT_EQ(wide.toUtf8().size(), 4095);
    EXPECT_TRUE(pathFits(wide, PathStyle::Posix));
    EXPECT_FALSE(pathFits(wide + "a", PathStyle::Posix));
    // A single name past 255 bytes never fits, however short the path.
    EXPECT_TRUE(pathFits("/music/" + QString(83, QChar(0x65E5)) + ".wav", PathStyle::Posix));
    EXPECT_FALSE(pathFits("/music/" + QString(84, QChar(0x65E5)) + ".wav", PathStyle::Posix));
    EXPECT_FALSE(pathFits("/music/" + QString(256, u'x'), PathStyle::Posix));

    const QString message = pathTooLongMessage(windowsLimit + u'a', PathStyle::Windows);
    EXPECT_TRUE(message.contains("259 characters"));
    EXPECT_TRUE(message.endsWith(windowsLimit + u'a'));
}

TEST(Paths, SameFileComparesIdentityNotText)
{
    QTemporaryDir dir;
    const QString a = dir.filePath("a.wav");
    QFile file(a);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(QFile::link(a, dir.filePath("link.wav")));
    EXPECT_TRUE(sameFile(a, dir.path() + "/./a.wav"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    EXPECT_TRUE(sameFile(a, dir.path() + "/sub/../a.wav"));
    EXPECT_TRUE(sameFile(dir.filePath("link.wav"), a));
    EXPECT_FALSE(sameFile(a, dir.filePath("missing.wav")));
    EXPECT_FALSE(sameFile(dir.filePath("missing.wav"), dir.filePath("missing.wav")));
}
