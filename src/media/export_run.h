#pragma once

#include "media/export_job.h"
#include "media/output_file.h"
#include "media/piece_protocol.h"
#include "media/source_watchdog.h"

#include <chrono>
#include <memory>

namespace sonaweld::media {

class ClipReader;
struct MixInput;

// The state of one export that its threads share. Workers hold it by
// shared pointer: a worker stuck inside a read that never returns (a drive
// or network share that stopped answering) is left behind when the run
// ends, and whatever it touches when it wakes must still exist.
class ExportRun : public std::enable_shared_from_this<ExportRun>
{
public:
    using Clock = std::chrono::steady_clock;

    ExportRun(std::vector<ClipSpec> clips, WaveFormatEx format, std::string outputPath, ExportOptions options);

    Result createFile() { return output_->create(outputPath_, format_, options_.rf64Threshold); }
    void setFinished(ExportJob::Finished finished) { finished_ = std::move(finished); }
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
    // What one worker thread works with: its slot in the watchdog and its
    // buffer. Every call it makes into a source is watched.
    class Worker final : public PieceWorker
    {
    public:
        Worker(ExportRun &run, std::size_t slot);

        Result indexSource(int clip, const std::vector<std::int64_t> &starts, PacketIndex &index) override;
        Result openReader(int clip, std::int64_t skipFrames, std::int64_t frames, PieceStart piece,
                          std::unique_ptr<ClipReader> &reader) override;
        Result copy(int clip, ClipReader &reader, std::size_t index, std::int64_t &at) override;
        template <typename Call>
        Result watched(int clip, Call &&call)
        {
            return run_.watchdog_.call(slot_, clip, std::forward<Call>(call));
        }

        std::vector<std::uint8_t> buffer;

    private:
        ExportRun &run_;
        const std::size_t slot_;
    };

    void plan();
    void startWorkers(int count);
    void work(std::size_t slot);
    Result renderSegment(Worker &worker, std::size_t index);
    Result renderSilence(Worker &worker, std::size_t index);
    Result renderClip(Worker &worker, std::size_t index);
    Result renderMix(Worker &worker, std::size_t index);
    Result openMixInputs(Worker &worker, const Segment &segment, std::vector<MixInput> &inputs);
    Result writeSpan(std::size_t index, std::int64_t at, const std::uint8_t *data, std::int64_t frames);
    void recordFailure(Result r);
    void cancelLocked();
    void superviseWorkers();
    void joinWorkers();
    void finish();
    Result closeFile();

    const std::vector<ClipSpec> clips_;
    const WaveFormatEx format_;
    const std::string outputPath_;
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
