#include "media/export_job.h"

#include "media/export_run.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace sonaweld::media {

ExportJob::ExportJob(JoinPlan plan, ExportOptions options)
    : run_(std::make_shared<ExportRun>(std::move(plan), std::move(options)))
{
}

ExportJob::~ExportJob()
{
    if (coordinator_.joinable() && coordinator_.get_id() == std::this_thread::get_id()) {
        // The coordinator cannot join itself, and left running it would go on
        // using a destroyed job. assert() is gone from release builds.
        std::fputs("sonaweld: an export job was destroyed on its own thread "
                   "(from its Finished callback)\n",
                   stderr);
        std::abort();
    }
    stop();
}

Result ExportJob::start(Finished finished)
{
    if (coordinator_.joinable())
        return fail(Code::kNotStopped, "The export is already running");
    if (Result r = run_->createFile(); r.failed())
        return r;
    run_->setFinished(std::move(finished));
    try {
        coordinator_ = std::thread([run = run_] { run->coordinate(); });
    } catch (const std::exception &e) {
        // Nothing ran: the file is closed as it was made, and the caller
        // hears why instead of the program ending.
        try {
            run_->closeUnstarted();
        } catch (const std::exception &) {
        }
        return fail(Code::kFail, std::string("The join failed: its thread could not be started (") + e.what() + ")");
    }
    return ok();
}

Result ExportJob::stop()
{
    run_->requestStop();
    // From the Finished callback the file is already closed; the thread is
    // joined by whoever destroys the job. The coordinator itself never
    // waits long for a worker once stopped, so neither does this.
    if (coordinator_.joinable() && coordinator_.get_id() != std::this_thread::get_id())
        coordinator_.join();
    return run_->outcome();
}

std::int64_t ExportJob::totalFrames() const
{
    return run_->totalFrames();
}

std::int64_t ExportJob::framesDone() const
{
    return run_->framesDone();
}

ExportJob::PieceCounts ExportJob::pieceCounts() const
{
    return run_->pieceCounts();
}

int ExportJob::abandonedWorkers()
{
    return ExportRun::abandonedWorkers();
}

} // namespace sonaweld::media
