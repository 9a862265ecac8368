#pragma once

#include "media/fault_hook.h"
#include "media/join_plan.h"
#include "media/media_error.h"
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

// A contiguous piece of the output written by one worker: silence, one clip,
// or several overlapping clips mixed.
struct Segment
{
    std::int64_t begin = 0;
    std::int64_t end = 0;
    std::vector<int> clips; // indexes into the clip list; empty for silence
    // A piece of a long clip: its number within the clip and where it
    // starts, in output frames from the clip's own start. -1: whole.
    int piece = -1;
    std::int64_t clipOffset = 0;
};

// Clip i covers samples [floor(start*R/10^7), floor(stop*R/10^7)); clips that
// overlap are mixed in one segment, and time covered by no clip is silence.
// The output ends with the last clip. With `pieceFrames` (a whole number of
// seconds at `rate`), a clip played from its start that is longer than two
// pieces and than `wholeUpTo` frames is cut into pieces of that length, so
// several workers can decode it at once.
std::vector<Segment> planSegments(const std::vector<ClipSpec> &clips, int rate, std::int64_t pieceFrames = 0,
                                  std::int64_t wholeUpTo = 0);

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
    // output (an empty path for silence).
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
