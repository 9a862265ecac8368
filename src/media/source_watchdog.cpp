#include "media/source_watchdog.h"

#include <algorithm>
#include <cstdio>

namespace sonaweld::media {
namespace {

// Workers left behind in a call that never returned, over all runs.
std::atomic<int> abandonedCount{0};

std::string secondsText(std::chrono::milliseconds span)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(span.count()) / 1000.0);
    return text;
}

// Never 0, which marks a worker outside any call.
SourceWatchdog::Clock::rep nowStamp()
{
    return std::max<SourceWatchdog::Clock::rep>(SourceWatchdog::Clock::now().time_since_epoch().count(), 1);
}

} // namespace

SourceWatchdog::SourceWatchdog(const std::vector<ClipSpec> &clips)
    : clips_(clips)
{
}

void SourceWatchdog::open(std::size_t workers)
{
    slots_ = std::make_unique<Slot[]>(workers);
    count_ = workers;
}

SourceWatchdog::Watched::Watched(Slot &slot, int clip)
    : slot_(slot)
{
    slot.clip.store(clip);
    slot.inSourceSince.store(nowStamp());
}

SourceWatchdog::Watched::~Watched()
{
    slot_.inSourceSince.store(0);
}

void SourceWatchdog::renew(std::size_t slot)
{
    slots_[slot].inSourceSince.store(nowStamp());
}

void SourceWatchdog::ended(std::size_t slot)
{
    std::lock_guard lock(mutex_);
    slots_[slot].done = true;
    if (slots_[slot].abandoned)
        --abandonedCount;
}

bool SourceWatchdog::abandoned(std::size_t slot) const
{
    std::lock_guard lock(mutex_);
    return slots_[slot].abandoned;
}

// The clip a worker has been inside a call into for longer than `limit`.
std::string SourceWatchdog::stuckClipLocked(const Slot &slot, Clock::time_point now, Clock::duration limit) const
{
    const Clock::rep since = slot.inSourceSince.load();
    const int clip = slot.clip.load();
    if (slot.done || since == 0 || clip < 0 || now - Clock::time_point(Clock::duration(since)) <= limit)
        return {};
    return clips_[static_cast<std::size_t>(clip)].path;
}

Result SourceWatchdog::stalled(Clock::time_point now, std::chrono::milliseconds limit) const
{
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < count_; ++i) {
        if (std::string path = stuckClipLocked(slots_[i], now, limit); !path.empty())
            return fail(Code::kTimeout, Operation::None, path,
                        " is not responding: nothing was read from it for " + secondsText(limit)
                            + " seconds (a drive or network share that hangs?)");
    }
    return ok();
}

Result SourceWatchdog::abandonRunning()
{
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    std::string named;
    for (std::size_t i = 0; i < count_; ++i) {
        Slot &slot = slots_[i];
        if (slot.done)
            continue;
        slot.abandoned = true;
        ++abandonedCount;
        if (named.empty())
            named = stuckClipLocked(slot, now, kHungAfter);
    }
    if (named.empty())
        return ok();
    return fail(Code::kTimeout, Operation::None, named,
                " is not responding: reading it did not return when the join was stopped "
                "(a drive or network share that hangs?)");
}

int SourceWatchdog::abandonedWorkers()
{
    return abandonedCount.load();
}

} // namespace sonaweld::media
