#pragma once

#include "media/wave_format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sonaweld::media {

// One source placed in the output: its span of the timeline, and where in
// the source that span starts.
struct ClipSpec
{
    std::string path;
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    ReferenceTime mediaStart = 0;
};

// One entry of the ordered list to join, with its measured length.
struct PlanItem
{
    std::string path;
    ReferenceTime length = 0;
};

// Everything a join writes, decided before anything is decoded: the clips
// in list order with their exact places, and the output file and format.
// The window and the command line both join from one.
struct JoinPlan
{
    std::vector<ClipSpec> clips;
    std::string outputPath;
    WaveFormatEx format;

    int rate() const { return static_cast<int>(format.samplesPerSec); }
    // Clip i covers output samples [firstSample(i), sampleAt(stop)).
    std::int64_t firstSample(std::size_t i) const { return sampleAt(clips[i].start, rate()); }
    // The output ends with the clip that ends last.
    std::int64_t totalFrames() const;
};

// The items back to back from time 0, each played from its beginning for
// its length. Laying stops at the first clip that reaches the end, so empty
// items after the last sounding one get no clip; one in the middle gets an
// empty clip, and a list of empty items gets one empty clip.
JoinPlan planJoin(const std::vector<PlanItem> &items, std::string outputPath, const WaveFormatEx &format);

} // namespace sonaweld::media
