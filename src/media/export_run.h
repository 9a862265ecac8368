#pragma once

#include "media/export_job.h"
#include "media/packet_index.h"
#include "media/source_watchdog.h"

#include <chrono>
#include <memory>
#include <shared_mutex>

namespace sonaweld::media {

class ClipReader;

// The state of one export that its threads share. Workers hold it by
// shared pointer: a worker stuck inside a read that never returns (a drive
// or network share that stopped answering) is left behind when the run
// ends, and whatever it touches when it wakes must still exist.
class ExportRun : public std::enable_shared_from_this<ExportRun>
{
public:
    using Clock = std::chrono::steady_clock;

    ExportRun(std::vector<ClipSpec> clips, WaveFormatEx format, std::string outputPath, ExportOptions options);

    Result createFile() { return file_.create(outputPath_, format_, totalFrames_, options_.rf64Threshold); }
    void setFinished(ExportJob::Finished finished) { finished_ = std::move(finished); }
    // Runs on the coordinator thread until the file is closed.
    void coordinate();
    // Asks the workers to stop; returns at once.
    void requestStop();
    // How the run ended, once it has: the failure that ended it, a
    // failure to close the file, or the source that hung at a stop.
    Result outcome();

    std::int64_t totalFrames() const { return totalFrames_; }
    std::int64_t framesDone() const;

    static int abandonedWorkers();
    ExportJob::PieceCounts pieceCounts() const;

private:
    // A long clip cut into pieces.
    struct PiecedClip
    {
        std::once_flag once;
        Result decided;                            // a source that cannot be read at all
        std::shared_ptr<const PacketIndex> index;  // null: decoded whole, in order
        std::atomic<bool> apartFailed{false};      // a piece could not be entered: in order from there
        std::atomic<int> piecesLeft{0};
        std::vector<std::size_t> segments;
    };

    void work(std::size_t slot);
    Result renderSegment(std::size_t slot, std::size_t index);
    Result renderSilence(std::size_t index, std::vector<std::uint8_t> &buffer);
    Result renderClip(std::size_t slot, std::size_t index, std::vector<std::uint8_t> &buffer);
    Result renderMix(std::size_t slot, std::size_t index, std::vector<std::uint8_t> &buffer);
    Result renderPiece(std::size_t slot, std::size_t index, std::vector<std::uint8_t> &buffer);
    void decidePieces(std::size_t slot, int clip, PiecedClip &pieced);
    void decideOnce(std::size_t slot, int clip, PiecedClip &pieced);
    Result renderInOrder(std::size_t slot, PiecedClip &pieced, std::size_t from);
    Result renderPieceApart(std::size_t slot, std::size_t index, PiecedClip &pieced, std::vector<std::uint8_t> &buffer);
    Result copyReader(std::size_t slot, int clip, ClipReader &reader, std::size_t index, std::int64_t &at,
                      std::vector<std::uint8_t> &buffer);
    Result writeSpan(std::size_t index, std::int64_t at, const std::uint8_t *data, std::int64_t frames);
    void recordFailure(const Result &r);
    void cancelLocked();
    void superviseWorkers();
    void joinWorkers();
    Result closeFile(std::int64_t frames);

    const std::vector<ClipSpec> clips_;
    const WaveFormatEx format_;
    const std::string outputPath_;
    const ExportOptions options_;
    int workerCount_ = 1;
    std::vector<Segment> segments_;
    std::int64_t totalFrames_ = 0;
    std::vector<std::unique_ptr<PiecedClip>> pieced_;
    // Pieces some worker is writing or has written.
    std::unique_ptr<std::atomic<bool>[]> claimed_;
    std::vector<std::size_t> pieceOf_; // the pieced_ entry of a piece's segment
    std::atomic<int> piecesApart_{0};
    std::atomic<int> piecesFromStart_{0};
    SourceWatchdog watchdog_{clips_};

    WavFile file_;
    // Writers hold it shared; closing the file takes it alone, after which
    // a worker that wakes late writes nothing.
    std::shared_mutex fileGate_;
    bool fileClosed_ = false;
    std::unique_ptr<std::atomic<std::int64_t>[]> progress_; // frames written per segment
    std::atomic<std::size_t> nextSegment_{0};
    std::atomic<bool> cancel_{false};

    std::mutex mutex_;
    std::condition_variable wake_;
    int activeWorkers_ = 0;
    Clock::time_point cancelledAt_;
    Result failure_;
    Result ended_;
    Result hung_; // names the source a worker left behind at a stop hangs in
    bool failed_ = false;
    bool stopRequested_ = false;

    ExportJob::Finished finished_;
    std::vector<std::thread> workers_;
};

} // namespace sonaweld::media
