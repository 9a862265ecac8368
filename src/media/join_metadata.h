#pragma once

#include "media/join_plan.h"

namespace sonaweld::media {

// Reads every clip's tags once and fills the plan's chapters (one per clip
// that plays something, titled by its title tag, else by its file name
// without the extension) and its own tags: the album and artist every clip
// shares, the album again as the title, and the first cover picture found.
// A clip whose tags cannot be read counts as one without tags; the join
// itself reports a file it cannot read.
void describeJoin(JoinPlan &plan);

// Moves the chapters describeJoin made to their clips' places after the
// plan's clips were re-placed (by gaps, crossfades or trims, which keep
// every clip that plays something playing).
void placeChapters(JoinPlan &plan);

} // namespace sonaweld::media
