#pragma once

#include "media/join_plan.h"

#include <cstdint>
#include <vector>

namespace sonaweld::media {

// The markers a WAVE file of `frames` frames can hold, in their order: those
// that start inside its audio (a stopped join ends early) at a place a cue
// point's 32-bit sample offset can name.
std::vector<Chapter> markersWithinAudio(const std::vector<Chapter> &markers, std::int64_t frames);

// The chunks that follow the data chunk for `markers`: a `cue ` chunk with
// one cue point each (ids 1..n in their order) and a `LIST`/`adtl` chunk
// with one `labl` each, its title as zero-terminated UTF-8. Every chunk is
// of even size, so the bytes go straight after the data chunk's pad byte.
// Nothing for no markers.
std::vector<std::uint8_t> markerChunks(const std::vector<Chapter> &markers);

} // namespace sonaweld::media
