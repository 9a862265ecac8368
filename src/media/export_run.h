#pragma once

#include "media/export_job.h"
#include "media/output_file.h"
#include "media/piece_protocol.h"
#include "media/source_watchdog.h"

#include <chrono>
#include <memory>

namespace sonaweld::media {

// The state of one export that its threads share. Workers hold it by
// shared pointer: a worker stuck inside a read that never returns (a drive
// or network share that stopped answering) is left behind when the run
// ends, and whatever it touches when it wakes must still exist.
class ExportRun : public std::enable_shared_from_this<ExportRun>
{
public:
    using Clock = std::chrono::steady_clock;

    ExportRun(JoinPlan plan, ExportOptions options);

    Result createFile() { return output_->create(plan_, options_.rf64Threshold, encoderWindow()); }
    void setFinished(ExportJob::Finished finished) { finished_ = std::move(finished); }
    // Closes the file of a run whose coordinator could not be started.
    Result closeUnstarted() { return closeFile(); }
    // Runs on the coordinator thread until the file is closed.
    void coordinate();
    // Asks the workers to stop; returns at once.
    void requestStop();
    // How the run ended, once it has: the failure that ended it, a
    // failure to close the file, or the source that hung at a stop.
    Result outcome();

    std::int64_t totalFrames() const { return output_->totalFrames(); }
    std::int64_t framesDone() const { return output_->framesDone(); }

    static int abandonedWorkers();
    ExportJob::PieceCounts pieceCounts() const;

private:
    void layOut();
    std::int64_t encoderWindow() const;
    void startWorkers(int count);
    void work(std::size_t slot);
    Result renderSegments(std::size_t slot);
    std::string doing(std::size_t slot, std::size_t index) const;
    void recordFailure(Result r);
    void cancelLocked();
    void superviseWorkers();
    void joinWorkers();
    void finish();
    Result closeFile(bool stopped = false);

    const JoinPlan plan_;
    const std::vector<ClipSpec> &clips_ = plan_.clips;
    const WaveFormatEx &format_ = plan_.format;
    const std::string &outputPath_ = plan_.outputPath;
    const ExportOptions options_;
    int workerCount_ = 1;
    std::vector<Segment> segments_;
    std::unique_ptr<PieceProtocol> pieces_;
    SourceWatchdog watchdog_{clips_};

    std::unique_ptr<OutputFile> output_;
    std::atomic<std::size_t> nextSegment_{0};
    std::atomic<bool> cancel_{false};

    std::mutex mutex_;
    std::condition_variable wake_;
    int activeWorkers_ = 0;
    Clock::time_point cancelledAt_;
    Result failure_;
    Result ended_;
    Result hung_; // the source a worker left behind at a stop hangs in
    bool failed_ = false;
    bool stopRequested_ = false;
    bool failedAtStop_ = false; // the failure came after the stop was asked for

    ExportJob::Finished finished_;
    std::vector<std::thread> workers_;
};

} // namespace sonaweld::media
