#include "media/export_job.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace sonaweld::media;

namespace {

constexpr ReferenceTime kSecond = kUnitsPerSecond;

ClipSpec clip(ReferenceTime start, ReferenceTime stop)
{
    return {"x", start, stop, 0};
}

std::string picture(const std::vector<Segment> &segments)
{
    std::string out;
    for (const Segment &s : segments) {
        out += "[" + std::to_string(s.begin) + "," + std::to_string(s.end) + ")";
        for (int c : s.clips)
            out += std::to_string(c);
        out += ' ';
    }
    return out;
}

} // namespace

TEST(SampleAt, FloorsWithoutOverflow)
{
    EXPECT_EQ(sampleAt(0, 44100), 0);
    EXPECT_EQ(sampleAt(kSecond, 44100), 44100);
    // 1/3 s: 14700 exactly; one unit less falls to 14699.
    EXPECT_EQ(sampleAt(3333334, 44100), 14700);
    EXPECT_EQ(sampleAt(3333333, 44100), 14699);
    EXPECT_EQ(sampleAt(1, 8000), 0);
    // Ten years of audio does not overflow.
    const ReferenceTime decade = 10LL * 365 * 86400 * kSecond;
    EXPECT_EQ(sampleAt(decade, 44100), 10LL * 365 * 86400 * 44100);
}

TEST(PlanSegments, BackToBackClipsTileTheOutputExactly)
{
    // |--a--|--b--|---c---|  with boundaries that do not fall on samples
    const std::vector<ClipSpec> clips{clip(0, 3333333), clip(3333333, 7777777), clip(7777777, 20000000)};
    const auto segments = planSegments(clips, 11025);
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(picture(segments), "[0,3674)0 [3674,8574)1 [8574,22050)2 ");
    std::int64_t cursor = 0;
    for (const Segment &s : segments) {
        EXPECT_EQ(s.begin, cursor);
        cursor = s.end;
    }
    EXPECT_EQ(cursor, sampleAt(20000000, 11025));
}

TEST(PlanSegments, GapsBecomeSilenceAndLaterClipsAreMixedWhereTheyStart)
{
    //  ..|-a-|....|--b--|
    //              |--c--|   |-d-|
    const std::vector<ClipSpec> clips{clip(1 * kSecond, 2 * kSecond), clip(3 * kSecond, 5 * kSecond),
                                      clip(4 * kSecond, 6 * kSecond), clip(7 * kSecond, 8 * kSecond)};
    const auto segments = planSegments(clips, 10);
    EXPECT_EQ(picture(segments), "[0,10) [10,20)0 [20,30) [30,50)12 [50,60)2 [60,70) [70,80)3 ");
    // c goes on after b from where b's stretch left it in its source.
    EXPECT_EQ(segments[4].clipOffset, 10);

    // A clip inside another is mixed there whole; one that starts inside
    // several stretches is mixed into each of them.
    //  |----a----|
    //    |-b-| |---c---|
    //              |-d-|
    const std::vector<ClipSpec> nested{clip(0, 10 * kSecond), clip(2 * kSecond, 4 * kSecond),
                                       clip(8 * kSecond, 16 * kSecond), clip(12 * kSecond, 14 * kSecond)};
    EXPECT_EQ(picture(planSegments(nested, 10)), "[0,100)012 [100,160)23 ");
}

TEST(PlanSegments, TrimmedAndCrossfadedClipsArePlacedByTheirSourceOffsets)
{
    // a keeps its source from 1.5 s on and is crossfaded into b over 1 s.
    ClipSpec a = clip(0, 4 * kSecond);
    a.mediaStart = 15 * kSecond / 10;
    const std::vector<ClipSpec> clips{a, clip(3 * kSecond, 6 * kSecond)};
    const auto segments = planSegments(clips, 10);
    EXPECT_EQ(picture(segments), "[0,40)01 [40,60)1 ");
    EXPECT_EQ(segments[0].clipOffset, 15);
    EXPECT_EQ(segments[1].clipOffset, 10);
}

TEST(PlanSegments, EmptyClipsAddNothing)
{
    EXPECT_EQ(picture(planSegments({clip(0, 0)}, 44100)), "");
    EXPECT_EQ(picture(planSegments({clip(0, kSecond), clip(kSecond, kSecond), clip(kSecond, 2 * kSecond)}, 10)),
              "[0,10)0 [10,20)2 ");
}

TEST(PlanSegments, LongClipsAreCutAtWholeSecondsOfTheirOwn)
{
    // At 10 samples a second, pieces of 2 s (20 samples). The first clip
    // starts off a second of the output: its pieces count from its own
    // start. A remainder shorter than a piece joins the last one.
    const std::vector<ClipSpec> clips{clip(5 * kSecond / 10, 75 * kSecond / 10), clip(75 * kSecond / 10, 9 * kSecond)};
    const auto segments = planSegments(clips, 10, 20);
    EXPECT_EQ(picture(segments), "[0,5) [5,25)0 [25,45)0 [45,75)0 [75,90)1 ");
    ASSERT_EQ(segments.size(), 5u);
    EXPECT_EQ(segments[1].piece, 0);
    EXPECT_EQ(segments[3].piece, 2);
    EXPECT_EQ(segments[3].clipOffset, 40);
    EXPECT_EQ(segments[4].piece, -1);
    // No pieces without a piece length, or for a clip at most two long.
    EXPECT_EQ(picture(planSegments(clips, 10)), "[0,5) [5,75)0 [75,90)1 ");
    EXPECT_EQ(picture(planSegments({clip(0, 4 * kSecond)}, 10, 20)), "[0,40)0 ");
    // Nor for one no longer than the length given as worth cutting.
    EXPECT_EQ(picture(planSegments(clips, 10, 20, 70)), "[0,5) [5,75)0 [75,90)1 ");
    EXPECT_EQ(picture(planSegments(clips, 10, 20, 69)), "[0,5) [5,25)0 [25,45)0 [45,75)0 [75,90)1 ");
}

TEST(PlanSegments, StretchesStartingInsideTheirSourceAreCutAtItsWholeSeconds)
{
    // From 1 s into its source: pieces end at its 2 s, 4 s and 6 s, and the
    // remainder joins the last.
    ClipSpec late = clip(0, 8 * kSecond);
    late.mediaStart = kSecond;
    const auto segments = planSegments({late}, 10, 20);
    EXPECT_EQ(picture(segments), "[0,10)0 [10,30)0 [30,50)0 [50,80)0 ");
    std::vector<std::int64_t> offsets;
    for (const Segment &s : segments)
        offsets.push_back(s.clipOffset);
    EXPECT_EQ(offsets, (std::vector<std::int64_t>{10, 20, 40, 60}));

    // The clip mixed into a long stretch goes with the piece it reaches.
    const std::vector<ClipSpec> overlapping{clip(0, 8 * kSecond), clip(7 * kSecond, 9 * kSecond)};
    EXPECT_EQ(picture(planSegments(overlapping, 10, 20)), "[0,20)0 [20,40)0 [40,60)0 [60,80)01 [80,90)1 ");
}
