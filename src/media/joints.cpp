#include "media/joints.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sonaweld::media {
namespace {

// A clip's frames as the back-to-back plan gave them, and what its shape
// keeps of them.
struct Kept
{
    std::int64_t skip = 0; // output frames into the source
    std::int64_t frames = 0;
};

Kept keptOf(const JoinPlan &plan, std::size_t i, const Joints &joints)
{
    const ClipSpec &clip = plan.clips[i];
    const std::int64_t span = std::max<std::int64_t>(sampleAt(clip.stop, plan.rate()) - plan.firstSample(i), 0);
    Kept kept{sampleAt(clip.mediaStart, plan.rate()), span};
    if (i < joints.shapes.size()) {
        const ClipShape &shape = joints.shapes[i];
        const std::int64_t lead = std::clamp<std::int64_t>(shape.lead, 0, span);
        kept.skip += lead;
        kept.frames = shape.kept < 0 ? span - lead : std::min(shape.kept, span - lead);
    }
    return kept;
}

void place(ClipSpec &clip, std::int64_t begin, const Kept &kept, int rate)
{
    clip.start = timeAt(begin, rate);
    clip.stop = timeAt(begin + kept.frames, rate);
    clip.mediaStart = timeAt(kept.skip, rate);
}

} // namespace

std::vector<ShortenedFade> shapeJoin(JoinPlan &plan, const Joints &joints)
{
    const int rate = plan.rate();
    std::vector<Kept> kept;
    for (std::size_t i = 0; i < plan.clips.size(); ++i)
        kept.push_back(keptOf(plan, i, joints));

    std::vector<ShortenedFade> shortened;
    std::int64_t end = 0; // where the last sounding clip placed so far ends
    bool first = true;
    std::size_t previous = 0;
    for (std::size_t i = 0; i < plan.clips.size(); ++i) {
        ClipSpec &clip = plan.clips[i];
        if (i < joints.shapes.size())
            clip.gain = joints.shapes[i].gain;
        // An empty clip keeps no place of its own: it sits where the sound
        // before it ends, and neither adds a gap nor splits a crossfade.
        if (kept[i].frames <= 0) {
            place(clip, end, {kept[i].skip, 0}, rate);
            continue;
        }
        std::int64_t begin = end;
        if (!first) {
            // A crossfade may take at most half of either clip, so the fades
            // of one clip's two ends never overlap each other.
            const std::int64_t limit = std::min(kept[previous].frames, kept[i].frames) / 2;
            const std::int64_t fade = std::min(joints.crossfadeFrames, limit);
            if (fade < joints.crossfadeFrames)
                shortened.push_back({previous, i, fade});
            plan.clips[previous].fadeOutFrames = fade;
            clip.fadeInFrames = fade;
            begin = end + joints.gapFrames - fade;
        }
        place(clip, begin, kept[i], rate);
        end = begin + kept[i].frames;
        previous = i;
        first = false;
    }
    return shortened;
}

// The curve FFmpeg's fades call qsin, so a crossfade made here and one made
// by its filter agree to the rounding.
double fadeGain(std::int64_t index, std::int64_t range)
{
    if (range <= 0)
        return 1.0;
    const double x = std::clamp(static_cast<double>(index) / static_cast<double>(range), 0.0, 1.0);
    return std::sin(x * std::numbers::pi / 2.0);
}

double envelopeAt(const ClipSpec &clip, std::int64_t spanFrames, std::int64_t p)
{
    double gain = clip.gain;
    if (p < clip.fadeInFrames)
        gain *= fadeGain(p, clip.fadeInFrames);
    const std::int64_t fadeOutFrom = spanFrames - clip.fadeOutFrames;
    if (clip.fadeOutFrames > 0 && p >= fadeOutFrom)
        gain *= fadeGain(clip.fadeOutFrames - 1 - (p - fadeOutFrom), clip.fadeOutFrames);
    return gain;
}

} // namespace sonaweld::media
