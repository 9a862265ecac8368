#pragma once

#include "media/fault_hook.h"
#include "media/join_plan.h"
#include "media/media_error.h"
#include "media/segment_plan.h"
#include "media/wav_file.h"
#include "media/wave_format.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sonaweld::media {

struct ExportOptions
{
    int workers = 0; // 0: one per core
    std::uint64_t rf64Threshold = WavFile::kRiffLimit;
    int chunkFrames = 16384;
    // A source that yields nothing for this long has stopped answering (a
    // drive or share that hangs); the join fails naming it instead of
    // waiting forever.
    std::chrono::milliseconds stallTimeout{60000};
    // Long clips are decoded in pieces of this many seconds by several
    // workers at once, when there are several; 0 keeps every clip whole.
    int pieceSeconds = 30;
    // The worker decoding a clip's first piece goes on into the next ones
    // nobody has taken yet (the cheapest way through them); off, every
    // piece after the first is decoded apart.
    bool followOnPieces = true;
    // Asked "ClipReader.Open:<path>" and "ClipReader.Read:<path>" before
    // opening and each read of a source, "ClipReader.Seek:<path>" before
    // entering it in the middle (a failure there makes the piece one that
    // cannot be entered), "ExportRun.Write:<path>" before each write of its
    // output (an empty path for silence), "ExportRun.Close:<output path>"
    // before closing the output (which is closed all the same) and
    // "ExportRun.StartWorker" before starting each worker thread. It may
    // also throw, as the calls it stands before may.
    SharedFaultHook faults;
};

class ExportRun;

// Renders a group of clips into a WAV file on worker threads. Every segment's
// place in the file is known before the run, so segments are decoded in
// parallel and written at their offsets; the header follows the longest
// fully written prefix.
class ExportJob
{
public:
    // Called once from the job's own thread when the run ends by itself:
    // success, or the failure that ended it. The file is closed by then.
    // It must not destroy the job (a thread cannot join itself; doing so
    // aborts the program); hand the news to another thread instead.
    using Finished = std::function<void(const Result &)>;

    explicit ExportJob(JoinPlan plan, ExportOptions options = {});
    // Stops the run; never from the job's own thread.
    ~ExportJob();
    ExportJob(const ExportJob &) = delete;
    ExportJob &operator=(const ExportJob &) = delete;

    Result start(Finished finished);
    // Stops the workers, leaves a valid file of the fully written prefix and
    // returns once the file is closed, with how the run ended: the failure
    // that ended it, the failure of cutting or closing the file, or the
    // source whose read did not return in time (that read is left behind).
    // Harmless after the end, also from the Finished callback.
    Result stop();

    std::int64_t totalFrames() const;
    // Frames of the fully written prefix.
    std::int64_t framesDone() const;

    // Workers left behind in a read that never returned, still blocked.
    static int abandonedWorkers();

    // Pieces of long clips decoded apart from the start of their source,
    // and those that had to be decoded from the start after all.
    struct PieceCounts
    {
        int apart = 0;
        int fromStart = 0;
    };
    PieceCounts pieceCounts() const;

private:
    std::shared_ptr<ExportRun> run_;
    std::thread coordinator_;
};

} // namespace sonaweld::media
