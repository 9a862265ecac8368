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

const std::string *OutputTags::find(const std::string &key) const
{
    for (const auto &[k, v] : values) {
        if (k == key)
            return &v;
    }
    return nullptr;
}

void OutputTags::set(const std::string &key, const std::string &value)
{
    std::erase_if(values, [&](const auto &entry) { return entry.first == key; });
    if (!value.empty())
        values.emplace_back(key, value);
}

JoinPlan planJoin(const std::vector<PlanItem> &items, std::string outputPath, const WaveFormatEx &format)
{
    JoinPlan plan;
    plan.outputPath = std::move(outputPath);
    plan.format = format;
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
