#include "medialist/media_item.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace sonaweld;

namespace {

void fill(ItemTable &t, std::initializer_list<const char *> paths)
{
    ReferenceTime d = 0;
    for (const char *p : paths)
        ASSERT_TRUE(t.append(QString::fromUtf8(p), d += kUnitsPerSecond));
}

QStringList pathsOf(const ItemTable &t)
{
    QStringList out;
    for (int i = 0; i < t.itemCount(); ++i)
        out << t.pathAt(i);
    return out;
}

} // namespace

TEST(ItemTable, RemoveClosesTheGapMovingBothFields)
{
    ItemTable t;
    fill(t, {"/a.mp3", "/bb.mp3", "/c.mp3"});
    t.removeItemAt(0);
    EXPECT_EQ(pathsOf(t), QStringList({"/bb.mp3", "/c.mp3"}));
    EXPECT_EQ(t.durationAt(0), 2 * kUnitsPerSecond);
    EXPECT_EQ(t.durationAt(1), 3 * kUnitsPerSecond);

    t.removeItemAt(1);
    EXPECT_EQ(pathsOf(t), QStringList({"/bb.mp3"}));
    t.removeItemAt(0);
    EXPECT_EQ(t.itemCount(), 0);
}

TEST(ItemTable, ExchangeSwapsWholeRecords)
{
    ItemTable t;
    fill(t, {"/long/path/first.wav", "/s.wav"});
    t.exchange(0, 1);
    EXPECT_EQ(pathsOf(t), QStringList({"/s.wav", "/long/path/first.wav"}));
    EXPECT_EQ(t.durationAt(0), 2 * kUnitsPerSecond);
    EXPECT_EQ(t.durationAt(1), 1 * kUnitsPerSecond);
}

TEST(ItemTable, NeverHoldsMoreThanItsCapacityAndNeverCutsAPath)
{
    ItemTable t;
    for (int i = 0; i < kMaxItems; ++i)
        ASSERT_TRUE(t.append(QStringLiteral("/f%1.mp3").arg(i), i));
    EXPECT_TRUE(t.isFull());
    EXPECT_FALSE(t.append("/one-more.mp3", 1));
    EXPECT_EQ(t.itemCount(), kMaxItems);
    EXPECT_EQ(t.pathAt(kMaxItems - 1), "/f999.mp3");

    ItemTable u;
    EXPECT_FALSE(u.append("/" + QString(kPathBufferBytes, u'x'), 1));
    EXPECT_EQ(u.itemCount(), 0);
    // Non-ASCII survives the byte buffer.
    ASSERT_TRUE(u.append(QStringLiteral("/música/日本 1.flac"), 1));
    EXPECT_EQ(u.pathAt(0), QStringLiteral("/música/日本 1.flac"));
    u.clear();
    EXPECT_EQ(u.itemCount(), 0);
}

TEST(ItemTable, DurationTextTruncatesTowardZero)
{
    EXPECT_EQ(durationText(9'990'000), "0");
    EXPECT_EQ(durationText(100'000'000), "10");
    EXPECT_EQ(durationText(39'000'000), "3");
    EXPECT_EQ(durationText(-15'000'000), "-1");
    EXPECT_EQ(durationText(0), "0");
    EXPECT_EQ(durationText(36000LL * 1000 * kUnitsPerSecond), "36000000");
}
