#include "media/join_plan.h"

#include <algorithm>

namespace sonaweld::media {

std::int64_t JoinPlan::totalFrames() const
{
    std::int64_t total = 0;
    for (const ClipSpec &clip : clips)
        total = std::max(total, sampleAt(clip.stop, rate()));
    return total;
}

JoinPlan planJoin(const std::vector<PlanItem> &items, std::string outputPath, const WaveFormatEx &format)
{
    JoinPlan plan{{}, std::move(outputPath), format};
    ReferenceTime total = 0;
    for (const PlanItem &item : items)
        total += item.length;
    ReferenceTime cursor = 0;
    for (const PlanItem &item : items) {
        const ReferenceTime stop = std::min(cursor + item.length, total);
        plan.clips.push_back({item.path, cursor, stop, 0});
        if (stop == total)
            break;
        cursor = stop;
    }
    return plan;
}

} // namespace sonaweld::media
