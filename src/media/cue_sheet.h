#pragma once

#include "media/media_error.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sonaweld::media {

// Track numbers in a cue sheet have two digits.
inline constexpr int kMaxCueTracks = 99;
// CD frames per second, the unit of a cue sheet's times.
inline constexpr int kCueFramesPerSecond = 75;

// One clip of the joined file as the sheet names it.
struct CueTrack
{
    // The clip's first sample frame in the output, at the output's rate.
    std::int64_t firstSample = 0;
    // The source as the sheet records it (UTF-8).
    std::string path;
    // From the source's tags. An empty title becomes the file name without
    // its extension; an empty performer gets no PERFORMER line.
    std::string title;
    std::string performer;
};

// "mm:ss:ff" of the CD frame nearest to `sample` at `rate`; a sample exactly
// half way between two frames goes to the later one. Minutes count on past
// 99 (a join longer than a CD) rather than wrap.
std::string cueTime(std::int64_t sample, int rate);

// `text` as it may stand between the quotes of a cue-sheet line: a double
// quote becomes U+201D, control characters (line breaks, tabs) become spaces,
// bytes that are no UTF-8 become U+FFFD, and spaces at either end go.
std::string cueField(std::string_view text);

// Whether a sheet can describe `wavName` with `tracks` tracks: at most 99,
// and a name that fits between quotes unchanged (a changed name would point
// the sheet at a file that does not exist).
Result checkCueSheet(const std::string &wavName, std::size_t tracks);

// The sheet for the WAV file named `wavName` (its name only, no folder)
// whose clips start at the tracks' samples: UTF-8 without a byte order mark,
// lines ending in LF. Fails as checkCueSheet does.
Result renderCueSheet(const std::string &wavName, const std::vector<CueTrack> &tracks, int rate,
                      std::string &sheet);

} // namespace sonaweld::media
