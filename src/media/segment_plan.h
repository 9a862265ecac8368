#pragma once

#include "media/join_plan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sonaweld::media {

// A contiguous piece of the output written by one worker: silence, one clip,
// or several overlapping clips mixed.
struct Segment
{
    std::int64_t begin = 0;
    std::int64_t end = 0;
    std::vector<int> clips; // indexes into the clip list; empty for silence
    // A piece of a long clip: its number within the clip and where it
    // starts, in output frames from the clip's own start. -1: whole.
    int piece = -1;
    std::int64_t clipOffset = 0;
};

// Clip i covers samples [floor(start*R/10^7), floor(stop*R/10^7)); clips that
// overlap are mixed in one segment, and time covered by no clip is silence.
// The output ends with the last clip. With `pieceFrames` (a whole number of
// seconds at `rate`), a clip played from its start that is longer than two
// pieces and than `wholeUpTo` frames is cut into pieces of that length, so
// several workers can decode it at once.
std::vector<Segment> planSegments(const std::vector<ClipSpec> &clips, int rate, std::int64_t pieceFrames = 0,
                                  std::int64_t wholeUpTo = 0);

} // namespace sonaweld::media
