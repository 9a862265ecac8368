#pragma once

#include "media/join_plan.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sonaweld::media {

// What a join makes of one clip before placing it: frames left out at its
// start (`lead`), how many it keeps from there (-1: to the end of its
// span), and its gain.
struct ClipShape
{
    std::int64_t lead = 0;
    std::int64_t kept = -1;
    double gain = 1.0;
};

// What happens at and between the clips. Gap and crossfade exclude each
// other; `shapes` is empty or holds one entry per clip of the plan.
struct Joints
{
    std::int64_t gapFrames = 0;
    std::int64_t crossfadeFrames = 0;
    std::vector<ClipShape> shapes;
};

// A crossfade longer than half the shorter of its two clips, shortened to
// that: the clips' indexes in the plan and the frames it got.
struct ShortenedFade
{
    std::size_t before = 0;
    std::size_t after = 0;
    std::int64_t frames = 0;
};

// Re-places a back-to-back plan's clips by `joints`: each keeps its shape's
// frames, consecutive sounding clips are `gapFrames` apart or overlap by the
// crossfade, and everything after a clip moves with it. Chapters are left to
// describeJoin, which reads the new places.
std::vector<ShortenedFade> shapeJoin(JoinPlan &plan, const Joints &joints);

// The quarter-sine fade's gain `index` frames into a fade of `range`
// frames: 0 at its start, rising towards 1 at its end.
double fadeGain(std::int64_t index, std::int64_t range);

// The gain of `clip` at frame `p` of its span of `spanFrames` frames: its own
// gain, times its fade-in near the start and its fade-out near the end.
double envelopeAt(const ClipSpec &clip, std::int64_t spanFrames, std::int64_t p);

} // namespace sonaweld::media
