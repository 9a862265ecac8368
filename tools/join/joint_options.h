#pragma once

#include "media/join_plan.h"
#include "media/media_error.h"

#include <functional>
#include <optional>
#include <string>

namespace sonaweld {

// What --gap, --crossfade, --trim-silence, --loudness and --album-loudness
// ask of the join.
struct JointOptions
{
    std::optional<double> gapSeconds;
    std::optional<double> crossfadeSeconds;
    std::optional<double> trimDb;
    std::optional<double> loudness;
    bool album = false;

    bool any() const { return gapSeconds || crossfadeSeconds || trimDb || loudness; }
};

// Whether `flag` is --trim-silence or --trim-silence=DB, which take no
// separate value.
bool isTrimFlag(const char *flag);

// Whether `flag` is one of the options that take a value here.
bool isJointValueFlag(const char *flag);

// Takes `flag` with `value` (or `--trim-silence[=DB]` alone, value null).
// Empty when accepted, else the refusal.
std::string parseJointOption(const char *flag, const char *value, JointOptions &options);

// Empty when the options go together, else the refusal.
std::string jointsRefusal(const JointOptions &options);

// How the analysis before the join reports: the share done (called from
// its workers, one at a time), and each line worth telling the user.
struct JointReports
{
    std::function<void(double)> progress;
    std::function<void(const std::string &)> say;
};

// Reshapes a back-to-back plan as the options ask, analysing the clips
// first where silence or loudness is asked for. Fails with the analysis.
media::Result applyJoints(const JointOptions &options, media::JoinPlan &plan, int workers,
                          const JointReports &reports);

} // namespace sonaweld
