#pragma once

#include "media/media_error.h"
#include "media/segment_plan.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sonaweld::media {

// Watches the workers of a run in their calls into a source (opening,
// reading or indexing it): the one place a worker can hang on someone
// else's drive or share, out of reach of any stop. Time spent writing the
// output or waiting for the processor does not count. It names a source
// that stops answering, and at a stop leaves behind the workers that do
// not come back in time.
class SourceWatchdog
{
public:
    using Clock = std::chrono::steady_clock;

    // How long workers get to notice a stop before a read that has not
    // returned is left behind, so Stop answers within 200 ms.
    static constexpr auto kStopGrace = std::chrono::milliseconds(100);
    // A worker left behind inside a call into its source that began less
    // than this ago may only be slow (a loaded machine), and is not named.
    static constexpr auto kHungAfter = std::chrono::milliseconds(200);

    // `clips` names the sources; it must outlive the watchdog.
    explicit SourceWatchdog(const std::vector<ClipSpec> &clips);
    SourceWatchdog(const SourceWatchdog &) = delete;
    SourceWatchdog &operator=(const SourceWatchdog &) = delete;

    // One slot per worker, before the first one starts.
    void open(std::size_t workers);

    // Runs `call`, a call into `clip`'s source for worker `slot`, watched.
    template <typename Call>
    Result call(std::size_t slot, int clip, Call &&call)
    {
        const Watched watched(slots_[slot], clip);
        return call();
    }
    // A long call shows it is still getting somewhere.
    void renew(std::size_t slot);
    // The clip worker `slot` called into last, if it called into any.
    std::optional<int> lastClip(std::size_t slot) const
    {
        const int clip = slots_[slot].clip.load();
        return clip >= 0 ? std::optional<int>(clip) : std::nullopt;
    }

    // Worker `slot` has ended, or never started.
    void ended(std::size_t slot);
    bool abandoned(std::size_t slot) const;
    // The failure naming a source some worker has been inside a call into
    // for longer than `limit`; ok when there is none.
    Result stalled(Clock::time_point now, std::chrono::milliseconds limit) const;
    // Leaves behind every worker still running, once a stop has had its
    // grace; the failure naming the source one of them hangs in, if any.
    Result abandonRunning();

    // Workers left behind in a call that never returned, over all runs,
    // still blocked.
    static int abandonedWorkers();

private:
    struct Slot
    {
        std::atomic<int> clip{-1}; // an atomic cannot hold an optional: below 0, none yet
        // When the call into the clip's source began; 0 outside one.
        std::atomic<Clock::rep> inSourceSince{0};
        bool done = false;      // under mutex_
        bool abandoned = false; // under mutex_
    };

    class Watched
    {
    public:
        Watched(Slot &slot, int clip);
        ~Watched();
        Watched(const Watched &) = delete;
        Watched &operator=(const Watched &) = delete;

    private:
        Slot &slot_;
    };

    std::string stuckClipLocked(const Slot &slot, Clock::time_point now, Clock::duration limit) const;

    const std::vector<ClipSpec> &clips_;
    mutable std::mutex mutex_;
    std::unique_ptr<Slot[]> slots_;
    std::size_t count_ = 0;
};

} // namespace sonaweld::media
