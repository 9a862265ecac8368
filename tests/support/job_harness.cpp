#include "support/job_harness.h"

#include "compose/failure_text.h"

#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

using sonaweld::failureText;

namespace sonaweld::test {

struct JobWatch::State
{
    mutable std::mutex mutex;
    std::condition_variable ended;
    int calls = 0;
    media::Result result;
};

JobWatch::JobWatch(media::ExportJob &job)
    : state_(std::make_shared<State>())
{
    start_ = job.start([state = state_](const media::Result &r) {
        std::lock_guard lock(state->mutex);
        if (++state->calls > 1)
            ADD_FAILURE() << "the Finished callback came again, with: " << failureText(r);
        state->result = r;
        state->ended.notify_all();
    });
}

bool JobWatch::waitForEnd(std::chrono::milliseconds timeout)
{
    if (!started())
        return false;
    std::unique_lock lock(state_->mutex);
    return state_->ended.wait_for(lock, timeout, [this] { return state_->calls > 0; });
}

bool JobWatch::ended() const
{
    std::lock_guard lock(state_->mutex);
    return state_->calls > 0;
}

media::Result JobWatch::result() const
{
    std::lock_guard lock(state_->mutex);
    return state_->result;
}

JobEnd runJob(media::ExportJob &job, std::chrono::milliseconds timeout)
{
    JobWatch watch(job);
    const bool ended = watch.waitForEnd(timeout);
    return {watch.start(), ended, watch.result()};
}

} // namespace sonaweld::test
