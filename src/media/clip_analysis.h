#pragma once

#include "media/join_plan.h"
#include "media/media_error.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace sonaweld::media {

// What to find out about each clip before a join.
struct AnalysisRequest
{
    bool findSilence = false;
    double silenceDb = -60.0; // a frame is silent when no channel's peak is above this, in dBFS
    bool measureLoudness = false;
    int workers = 0; // 0: one per core
    // Whether the loudness of all clips together is wanted too; without it,
    // each clip's meter is let go as soon as its figures are read.
    bool pooled = true;
};

// One clip, as the join will write it (decoded and converted to the output
// format over its span in the plan).
struct ClipAnalysis
{
    // With findSilence: frames of silence at the start, and frames kept
    // from there to the end of the last frame that is not silent (at least
    // one, even for a clip that is silent throughout). Without: 0 and the
    // whole span.
    std::int64_t lead = 0;
    std::int64_t kept = 0;
    // With measureLoudness, over the kept frames: integrated loudness in LUFS
    // (-infinity when nothing passes the gates) and the true peak over all
    // channels, linear (1.0 = full scale).
    double loudness = 0;
    double truePeak = 0;
};

struct AnalysisResult
{
    std::vector<ClipAnalysis> clips; // one per clip of the plan
    // With `pooled`: the integrated loudness of all kept frames of all clips
    // together (the pooled measurement, not a mean of the clips' values).
    double pooledLoudness = 0;
};

// Decodes every clip of `plan` once, clips on several workers at once.
// `progress` (if set) is called from the workers with the frames analysed
// so far. Fails with the first clip that cannot be read, naming it; a
// cancel fails with Code::kAbort.
Result analyseClips(const JoinPlan &plan, const AnalysisRequest &request, const std::atomic<bool> &cancel,
                    const std::function<void(std::int64_t)> &progress, AnalysisResult &result);

// The gain each clip gets to reach `targetLufs`: its own (or, with
// `album`, one for all from the pooled loudness), limited so that no clip's
// true peak goes above `ceilingDbtp`. `heldBack` marks the clips whose gain
// that limit lowered (in album mode, those whose peak set the limit).
struct GainChoice
{
    double gain = 1.0; // linear
    bool heldBack = false;
};
std::vector<GainChoice> loudnessGains(const AnalysisResult &analysis, double targetLufs, bool album,
                                      double ceilingDbtp = -1.0);

} // namespace sonaweld::media
