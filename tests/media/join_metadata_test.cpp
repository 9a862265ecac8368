#include "media/join_metadata.h"
#include "media/media_tags.h"
#include "support/media_fixtures.h"

#include <gtest/gtest.h>

using namespace sonaweld::media;
using sonaweld::test::fileBytes;
using sonaweld::test::MediaFixtures;

namespace {

const QStringList kTone{"-f", "lavfi", "-i", "sine=frequency=440:duration=0.2:sample_rate=44100", "-ac", "2"};

QStringList withTags(QStringList args, const QStringList &tags)
{
    for (const QString &tag : tags)
        args << "-metadata" << tag;
    return args;
}

// Back to back, each for its seconds: a file given 0 plays nothing.
JoinPlan planOf(const std::vector<std::pair<QString, int>> &files)
{
    std::vector<PlanItem> items;
    for (const auto &[path, seconds] : files)
        items.push_back({path.toStdString(), seconds * kUnitsPerSecond});
    return planJoin(items, "/out/joined.flac", pcmFormat(44100, 2, 16));
}

std::vector<std::uint8_t> bytesOf(const QString &path)
{
    const QByteArray bytes = fileBytes(path);
    return {bytes.begin(), bytes.end()};
}

} // namespace

TEST(JoinMetadata, ChaptersTitledByTagElseFileNameAndTheFirstCover)
{
    MediaFixtures media;
    const std::string awkward = "\xC3\x87" "a \"va\" \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC";
    const QString png = media.make("cover.png", {"-f", "lavfi", "-i", "color=c=red:s=16x16", "-frames:v", "1"});
    const QString jpeg = media.make("cover.jpg", {"-f", "lavfi", "-i", "color=c=blue:s=16x16", "-frames:v", "1"});
    const QString gif = media.make("cover.gif", {"-f", "lavfi", "-i", "color=c=green:s=16x16", "-frames:v", "1"});
    auto cover = [](const QString &picture) {
        return QStringList{"-i", picture, "-map", "0", "-map", "1", "-c:v", "copy", "-disposition:v", "attached_pic"};
    };
    const QStringList common{"ARTIST=Ensemble", "ALBUM=Live"};
    const QStringList titled = common + QStringList{"title=" + QString::fromStdString(awkward)};
    JoinPlan plan = planOf({
        {media.make("one.mp3", withTags(kTone + cover(gif), titled)), 1},
        {media.make("two.take.mp3", withTags(kTone + cover(png), common)), 1},
        {media.make("gap.mp3", withTags(kTone + cover(jpeg), {"title=Gap", "artist=Other", "album=Else"})), 0},
        {media.make("three.flac", withTags(kTone + cover(jpeg), common + QStringList{"TITLE=Three"})), 1},
    });
    describeJoin(plan);
    EXPECT_EQ(plan.chapters.size(), 3u);
    const std::pair<std::int64_t, std::string> expected[] = {{0, awkward}, {44100, "two.take"}, {88200, "Three"}};
    for (std::size_t i = 0; i < std::min<std::size_t>(3, plan.chapters.size()); ++i)
        EXPECT_EQ(std::pair(plan.chapters[i].firstSample, plan.chapters[i].title), expected[i]) << i;
    // The clips' titles are chapters only: the file is titled as the album.
    using Tags = decltype(plan.tags.values);
    EXPECT_EQ(plan.tags.values, (Tags{{"album", "Live"}, {"artist", "Ensemble"}, {"title", "Live"}}));
    EXPECT_EQ(plan.tags.cover.mimeType, "image/png");
    EXPECT_EQ(plan.tags.cover.data, bytesOf(png));

    MediaTags tags;
    ASSERT_TRUE(readMediaTags(plan.clips[3].path, tags, CoverRead::Read));
    EXPECT_EQ(tags.cover.mimeType, "image/jpeg");
    EXPECT_EQ(tags.cover.data, bytesOf(jpeg));
    ASSERT_TRUE(readMediaTags(plan.clips[3].path, tags));
    EXPECT_TRUE(tags.cover.empty());
}

TEST(JoinMetadata, AlbumAndArtistOnlyWhenEveryClipHasTheSame)
{
    MediaFixtures media;
    struct Case
    {
        QStringList first, second; // {"missing"}: a file that cannot be read
        const char *album, *artist; // nullptr: left out
    };
    const Case cases[] = {
        {{"album=A", "artist=X"}, {"album=A", "artist=x"}, "A", nullptr},
        {{"album=A", "artist=X"}, {"artist=X"}, nullptr, "X"},
        {{"album=A"}, {"album=B", "artist=X"}, nullptr, nullptr},
        {{"album=A", "artist=X"}, {"missing"}, nullptr, nullptr},
    };
    int n = 0;
    for (const Case &c : cases) {
        const QString name = QString::number(++n) + "b.mp3";
        const QString second =
            c.second == QStringList{"missing"} ? media.path(name) : media.make(name, withTags(kTone, c.second));
        JoinPlan plan = planOf({{media.make(QString::number(n) + "a.mp3", withTags(kTone, c.first)), 1}, {second, 1}});
        describeJoin(plan);
        auto value = [&](const char *key) { return plan.tags.find(key) ? plan.tags.find(key)->c_str() : nullptr; };
        EXPECT_STREQ(value("album"), c.album) << n;
        EXPECT_STREQ(value("title"), c.album) << n;
        EXPECT_STREQ(value("artist"), c.artist) << n;
        EXPECT_EQ(plan.chapters.at(1).title, std::to_string(n) + "b") << n;
    }
}
