// Joints re-place a back-to-back plan: gaps, crossfades (shortened to half
// the shorter clip) and trims, each clip's span exact in output samples.
// The fades' curve is held against FFmpeg's acrossfade by the tool's tests.
#include "media/joints.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sonaweld::media;

namespace {

// A back-to-back plan at `rate` of clips with these lengths in frames.
JoinPlan backToBack(const std::vector<std::int64_t> &frames, int rate = 44100)
{
    std::vector<PlanItem> items;
    for (std::size_t i = 0; i < frames.size(); ++i)
        items.push_back({"clip" + std::to_string(i), timeAt(frames[i], rate)});
    WaveFormatEx format;
    format.samplesPerSec = static_cast<std::uint32_t>(rate);
    format.channels = 2;
    format.bitsPerSample = 16;
    format.blockAlign = 4;
    return planJoin(items, "out.wav", format);
}

struct Placed
{
    std::int64_t begin, frames, skip, fadeIn, fadeOut;
    bool operator==(const Placed &) const = default;
};

std::vector<Placed> placesOf(const JoinPlan &plan)
{
    std::vector<Placed> out;
    for (std::size_t i = 0; i < plan.clips.size(); ++i) {
        const ClipSpec &c = plan.clips[i];
        out.push_back({plan.firstSample(i), sampleAt(c.stop, plan.rate()) - plan.firstSample(i),
                       sampleAt(c.mediaStart, plan.rate()), c.fadeInFrames, c.fadeOutFrames});
    }
    return out;
}

} // namespace

TEST(Joints, TimesMadeFromSamplesGiveThoseSamplesBack)
{
    for (const int rate : {44100, 22050, 11025, 8000, 48000}) {
        for (std::int64_t f : {0LL, 1LL, 2LL, 44099LL, 44101LL, 123456789LL, 10LL * 365 * 86400 * 44100}) {
            EXPECT_EQ(sampleAt(timeAt(f, rate), rate), f) << rate << " " << f;
            // The earliest such time: one unit less is the sample before.
            if (f > 0) {
                EXPECT_EQ(sampleAt(timeAt(f, rate) - 1, rate), f - 1) << rate << " " << f;
            }
        }
    }
}

TEST(Joints, ClipsArePlacedByGapsCrossfadesAndTrims)
{
    struct Case
    {
        const char *name;
        Joints joints;
        std::vector<Placed> expected;
        std::int64_t total;
    };
    const std::vector<std::int64_t> lengths{100000, 50000, 80000};
    const std::vector<Case> cases{
        {"nothing", {}, {{0, 100000, 0, 0, 0}, {100000, 50000, 0, 0, 0}, {150000, 80000, 0, 0, 0}}, 230000},
        {"gap", {22050, 0, {}}, {{0, 100000, 0, 0, 0}, {122050, 50000, 0, 0, 0}, {194100, 80000, 0, 0, 0}}, 274100},
        {"crossfade",
         {0, 10000, {}},
         {{0, 100000, 0, 0, 10000}, {90000, 50000, 0, 10000, 10000}, {130000, 80000, 0, 10000, 0}},
         210000},
        // Half of the 50000-frame clip is the most either of its fades gets.
        {"long crossfade",
         {0, 30000, {}},
         {{0, 100000, 0, 0, 25000}, {75000, 50000, 0, 25000, 25000}, {100000, 80000, 0, 25000, 0}},
         180000},
        {"trimmed",
         {1000, 0, {{500, 99000, 1.0}, {0, -1, 1.0}, {79999, 1, 1.0}}},
         {{0, 99000, 500, 0, 0}, {100000, 50000, 0, 0, 0}, {151000, 1, 79999, 0, 0}},
         151001},
        // Halves of the kept frames, not of the files.
        {"trimmed crossfade",
         {0, 30000, {{0, -1, 1.0}, {10000, 20000, 1.0}, {0, -1, 1.0}}},
         {{0, 100000, 0, 0, 10000}, {90000, 20000, 10000, 10000, 10000}, {100000, 80000, 0, 10000, 0}},
         180000},
    };
    for (const Case &c : cases) {
        JoinPlan plan = backToBack(lengths);
        shapeJoin(plan, c.joints);
        EXPECT_EQ(placesOf(plan), c.expected) << c.name;
        EXPECT_EQ(plan.totalFrames(), c.total) << c.name;
    }
}

TEST(Joints, AShortenedCrossfadeIsReportedWithItsClipsAndLength)
{
    JoinPlan plan = backToBack({100000, 50000, 80000, 90000});
    const std::vector<ShortenedFade> shortened = shapeJoin(plan, {0, 30000, {}});
    ASSERT_EQ(shortened.size(), 2u);
    EXPECT_EQ(shortened[0].before, 0u);
    EXPECT_EQ(shortened[0].after, 1u);
    EXPECT_EQ(shortened[0].frames, 25000);
    EXPECT_EQ(shortened[1].before, 1u);
    EXPECT_EQ(shortened[1].after, 2u);
    // 80000 and 90000 allow the whole crossfade.
    EXPECT_EQ(plan.clips[3].fadeInFrames, 30000);
}

TEST(Joints, EmptyClipsNeitherGetAGapNorSplitACrossfade)
{
    // An empty file between two others: one gap, one crossfade, not two.
    JoinPlan gapped = backToBack({1000, 0, 1000});
    shapeJoin(gapped, {100, 0, {}});
    EXPECT_EQ(placesOf(gapped), (std::vector<Placed>{{0, 1000, 0, 0, 0}, {1000, 0, 0, 0, 0}, {1100, 1000, 0, 0, 0}}));
    JoinPlan faded = backToBack({1000, 0, 1000});
    shapeJoin(faded, {0, 100, {}});
    EXPECT_EQ(placesOf(faded).back(), (Placed{900, 1000, 0, 100, 0}));
    EXPECT_EQ(faded.clips[0].fadeOutFrames, 100);
}
