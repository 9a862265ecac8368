#pragma once

#include "media/export_job.h"

#include <chrono>
#include <memory>

namespace sonaweld::test {

// Starts an export job and keeps what its Finished callback hands over, so
// a test can wait for the end, or stop the job and see that no callback
// came. A second call of the callback fails the test: it is called once.
class JobWatch
{
public:
    explicit JobWatch(media::ExportJob &job);

    // Why the job did not start, when it did not.
    const media::Result &start() const { return start_; }
    bool started() const { return !start_.failed(); }
    // Waits up to `timeout` for the callback; whether it came.
    bool waitForEnd(std::chrono::milliseconds timeout);
    // Whether the callback has come, without waiting.
    bool ended() const;
    // What the callback handed over; ok until it came.
    media::Result result() const;

private:
    // Shared with the callback, which may still be leaving when the watch
    // goes out of scope.
    struct State;
    std::shared_ptr<State> state_;
    media::Result start_;
};

// How a job that was left to run ended.
struct JobEnd
{
    media::Result start;  // why the job did not start, when it did not
    bool ended = false;   // the callback came in the time allowed
    media::Result result; // what it handed over
};

// Starts `job` and waits up to `timeout` for it to end by itself.
JobEnd runJob(media::ExportJob &job, std::chrono::milliseconds timeout = std::chrono::seconds(120));

} // namespace sonaweld::test
