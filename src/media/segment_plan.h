#pragma once

#include "media/join_plan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sonaweld::media {

// A contiguous piece of the output written by one worker: silence, or a
// stretch of one clip with the clips that start inside it mixed in.
struct Segment
{
    std::int64_t begin = 0;
    std::int64_t end = 0;
    // Indexes into the clip list: the clip the stretch belongs to, then the
    // ones mixed into it. Empty for silence.
    std::vector<int> clips;
    // A piece of a long stretch: its number within the clip. -1: whole.
    int piece = -1;
    // Where the first clip's part starts, in output frames from the start
    // of its source.
    std::int64_t clipOffset = 0;
};

// Clip i covers samples [floor(start*R/10^7), floor(stop*R/10^7)); time
// covered by no clip is silence, and the output ends with the last clip.
// Each clip gets a stretch from where the output before it ends to its own
// end; clips that start inside it are mixed into it. With `pieceFrames` (a
// whole number of seconds at `rate`), a stretch longer than two pieces and
// than `wholeUpTo` frames is cut at whole pieces of its source, so several
// workers can decode it at once.
std::vector<Segment> planSegments(const std::vector<ClipSpec> &clips, int rate, std::int64_t pieceFrames = 0,
                                  std::int64_t wholeUpTo = 0);

} // namespace sonaweld::media
