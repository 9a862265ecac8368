#include "joint_options.h"

#include "media/clip_analysis.h"
#include "media/joints.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace sonaweld {
namespace {

// A decimal number in [lo, hi] that is the whole text, or nothing; no
// spaces, hexadecimal or exponents, which strtod would take.
std::optional<double> numberIn(const char *text, double lo, double hi)
{
    if (*text == '\0' || std::strspn(text, "+-.0123456789") != std::strlen(text))
        return std::nullopt;
    char *end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value < lo || value > hi)
        return std::nullopt;
    return value;
}

std::string refuse(const char *what, const char *value)
{
    return std::string(what) + ", not " + value;
}

std::string fixed(double value, const char *format)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::int64_t framesOf(std::optional<double> seconds, int rate)
{
    return seconds ? std::llround(*seconds * rate) : 0;
}

// The clips' gains, and a line for each clip the peak ceiling held back.
void applyGains(const JointOptions &options, const media::JoinPlan &plan, const media::AnalysisResult &analysis,
                media::Joints &joints, const JointReports &reports)
{
    const std::vector<media::GainChoice> gains =
        media::loudnessGains(analysis, *options.loudness, options.album);
    for (std::size_t i = 0; i < gains.size() && i < joints.shapes.size(); ++i) {
        joints.shapes[i].gain = gains[i].gain;
        if (gains[i].heldBack)
            reports.say(plan.clips[i].path + ": gain held to " + fixed(20 * std::log10(gains[i].gain), "%+.2f") +
                        " dB by the true-peak ceiling of -1 dBTP");
    }
}

media::Result analyse(const JointOptions &options, const media::JoinPlan &plan, int workers,
                      const JointReports &reports, media::AnalysisResult &analysis)
{
    media::AnalysisRequest request;
    request.findSilence = options.trimDb.has_value();
    request.silenceDb = options.trimDb.value_or(-60.0);
    request.measureLoudness = options.loudness.has_value();
    request.pooled = options.album;
    request.workers = workers;
    const double total = static_cast<double>(std::max<std::int64_t>(plan.totalFrames(), 1));
    // Redrawn only when the whole percentage moves: the workers report
    // every few thousand frames, and a terminal is slow.
    std::mutex reporting;
    int shown = -1;
    const auto progress = [&](std::int64_t frames) {
        if (!reports.progress)
            return;
        const double share = std::min(1.0, static_cast<double>(frames) / total);
        std::lock_guard lock(reporting);
        if (static_cast<int>(share * 100) == shown)
            return;
        shown = static_cast<int>(share * 100);
        reports.progress(share);
    };
    // Nothing is written yet: Ctrl+C ends the program as it is.
    static const std::atomic<bool> never{false};
    return media::analyseClips(plan, request, never, progress, analysis);
}

} // namespace

bool isTrimFlag(const char *flag)
{
    return std::strncmp(flag, "--trim-silence", 14) == 0 && (flag[14] == '\0' || flag[14] == '=');
}

bool isJointValueFlag(const char *flag)
{
    for (const char *f : {"--gap", "--crossfade", "--loudness", "--album-loudness"}) {
        if (std::strcmp(flag, f) == 0)
            return true;
    }
    return false;
}

std::string parseJointOption(const char *flag, const char *value, JointOptions &options)
{
    if (isTrimFlag(flag)) {
        options.trimDb = flag[14] == '=' ? numberIn(flag + 15, -120.0, 0.0) : -60.0;
        return options.trimDb ? std::string() : refuse("the silence threshold must be from -120 to 0 dBFS", flag + 15);
    }
    if (std::strcmp(flag, "--gap") == 0 || std::strcmp(flag, "--crossfade") == 0) {
        const std::optional<double> seconds = numberIn(value, 0.0, 3600.0);
        (std::strcmp(flag, "--gap") == 0 ? options.gapSeconds : options.crossfadeSeconds) = seconds;
        return seconds ? std::string() : refuse("a number of seconds from 0 to 3600 is needed", value);
    }
    const bool album = std::strcmp(flag, "--album-loudness") == 0;
    if (options.loudness && options.album != album)
        return "--loudness and --album-loudness exclude each other";
    options.album = album;
    options.loudness = numberIn(value, -70.0, 0.0);
    return options.loudness ? std::string() : refuse("the loudness must be from -70 to 0 LUFS", value);
}

std::string jointsRefusal(const JointOptions &options)
{
    if (options.gapSeconds && options.crossfadeSeconds)
        return "--gap and --crossfade exclude each other";
    return {};
}

media::Result applyJoints(const JointOptions &options, media::JoinPlan &plan, int workers,
                          const JointReports &reports)
{
    media::Joints joints;
    joints.gapFrames = framesOf(options.gapSeconds, plan.rate());
    joints.crossfadeFrames = framesOf(options.crossfadeSeconds, plan.rate());
    joints.shapes.resize(plan.clips.size());
    if (options.trimDb || options.loudness) {
        media::AnalysisResult analysis;
        if (media::Result r = analyse(options, plan, workers, reports, analysis); r.failed())
            return r;
        for (std::size_t i = 0; i < joints.shapes.size() && i < analysis.clips.size(); ++i)
            joints.shapes[i] = {analysis.clips[i].lead, analysis.clips[i].kept, 1.0};
        if (options.loudness)
            applyGains(options, plan, analysis, joints, reports);
    }
    for (const media::ShortenedFade &fade : media::shapeJoin(plan, joints))
        reports.say("the crossfade between " + plan.clips[fade.before].path + " and " + plan.clips[fade.after].path +
                    " is shortened to " + fixed(static_cast<double>(fade.frames) / plan.rate(), "%.3f") +
                    " s, half the shorter file");
    return media::ok();
}

} // namespace sonaweld
