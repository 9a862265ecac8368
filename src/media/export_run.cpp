#include "media/export_run.h"

#include "media/segment_writer.h"

#include <algorithm>
#include <exception>
#include <new>

namespace sonaweld::media {
namespace {

// How often the header is brought up to the written prefix.
constexpr auto kHeaderInterval = std::chrono::milliseconds(500);

std::string joinFailed(const std::exception &e)
{
    return "The join failed: " + exceptionText(e);
}

// The failure `text()` tells of; with no memory even for the text, the
// code alone, which needs none.
template <typename Text>
Result failWith(int code, Text text)
{
    try {
        return fail(code, text());
    } catch (const std::bad_alloc &) {
        return fail(code);
    }
}

} // namespace

ExportRun::ExportRun(JoinPlan plan, ExportOptions options)
    : plan_(std::move(plan))
    , options_(std::move(options))
{
    layOut();
}

void ExportRun::layOut()
{
    workerCount_ = options_.workers > 0 ? options_.workers
                                        : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const std::int64_t rate = format_.samplesPerSec;
    // One worker decodes every clip whole and in order anyway. With many
    // clips the workers are kept busy by whole clips, and cutting costs
    // more than it gains: only a clip longer than a quarter of each
    // worker's share of the output is cut.
    const std::int64_t pieceFrames = workerCount_ > 1 ? options_.pieceSeconds * rate : 0;
    const std::int64_t total = plan_.totalFrames();
    segments_ = planSegments(clips_, static_cast<int>(rate), pieceFrames, total / (4 * workerCount_));
    pieces_ = std::make_unique<PieceProtocol>(segments_, static_cast<int>(rate), options_.followOnPieces);
    output_ = std::make_unique<OutputFile>(segments_);
}

// How far the workers may run ahead of an encoder. Each worker decodes a
// piece (or a clip) of its own, so the window holds two pieces per worker
// to keep them all busy; a cap keeps memory flat with many cores.
std::int64_t ExportRun::encoderWindow() const
{
    constexpr std::int64_t kMaxBytes = 64 << 20;
    const std::int64_t rate = format_.samplesPerSec;
    const std::int64_t pieces = 2LL * workerCount_ * std::max(options_.pieceSeconds, 15) * rate;
    return std::min(pieces, kMaxBytes / std::max<std::int64_t>(format_.blockAlign, 1));
}

int ExportRun::abandonedWorkers()
{
    return SourceWatchdog::abandonedWorkers();
}

ExportJob::PieceCounts ExportRun::pieceCounts() const
{
    return {pieces_->apart(), pieces_->fromStart()};
}

void ExportRun::requestStop()
{
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        cancelLocked();
    }
    wake_.notify_all();
    // Lets a test act once the stop is on record, not merely on its way.
    injectedFault(options_.faults, "ExportRun.Stop");
}

Result ExportRun::outcome()
{
    std::lock_guard lock(mutex_);
    return ended_;
}

// Writers waiting for an encoder's room are woken too: the encoder may
// wait for a frame that a cancelled worker will never write.
void ExportRun::cancelLocked()
{
    if (!cancel_.exchange(true))
        cancelledAt_ = Clock::now();
    output_->interrupt();
}

void ExportRun::coordinate()
{
    const int count = std::max(std::min<int>(workerCount_, static_cast<int>(segments_.size())), 0);
    startWorkers(count);
    // The coordinator never takes the program down either: what throws
    // while it watches fails the run, and the workers are still brought in
    // (or left behind, as at a stop) before the file is closed.
    try {
        superviseWorkers();
    } catch (const std::exception &e) {
        recordFailure(failWith(Code::kFail, [&] { return joinFailed(e); }));
        superviseWorkers();
    }
    joinWorkers();
    finish();
}

// A thread the system will not start fails the run as a worker's failure
// does; those already started see the cancel and are joined as usual.
void ExportRun::startWorkers(int count)
{
    watchdog_.open(static_cast<std::size_t>(count));
    {
        std::lock_guard lock(mutex_);
        activeWorkers_ = count;
    }
    const auto refused = [](const std::string &why) {
        return "The join failed: a worker thread could not be started (" + why + ")";
    };
    int started = 0;
    Result failure;
    try {
        workers_.reserve(static_cast<std::size_t>(count));
        for (; started < count; ++started) {
            if (const int injected = injectedFault(options_.faults, "ExportRun.StartWorker"); injected < 0) {
                failure = failWith(injected, [&] { return refused(errorText(injected)); });
                break;
            }
            const auto slot = static_cast<std::size_t>(started);
            workers_.emplace_back([self = shared_from_this(), slot] { self->work(slot); });
        }
    } catch (const std::exception &e) {
        failure = failWith(Code::kFail, [&] { return refused(exceptionText(e)); });
    }
    if (started == count)
        return;
    {
        std::lock_guard lock(mutex_);
        activeWorkers_ -= count - started;
        for (int i = started; i < count; ++i)
            watchdog_.ended(static_cast<std::size_t>(i));
    }
    recordFailure(std::move(failure));
}

// Closes the file and hands over how the run ended.
void ExportRun::finish()
{
    bool stopped;
    bool callBack;
    Result outcome;
    Result hung;
    {
        std::lock_guard lock(mutex_);
        stopped = stopRequested_ && !failed_;
        // Nobody is called back after a stop, whatever came with it;
        // stop() hands the outcome over.
        callBack = !stopRequested_ || (failed_ && !failedAtStop_);
        outcome = failed_ ? failure_ : ok();
        hung = hung_;
    }
    // Every part of a finished run was written; a part nobody wrote would
    // otherwise be silence in a file reported as complete.
    if (outcome && !stopped && output_->writtenFrames() != totalFrames())
        outcome = fail(Code::kUnexpected, "The join left part of " + outputPath_ + " unwritten");
    Result closed;
    try {
        closed = closeFile(stopped);
    } catch (const std::exception &e) {
        closed = failWith(Code::kFail, [&] { return joinFailed(e); });
    }
    if (stopped && closed && hung.failed())
        outcome = hung;
    else if (outcome)
        outcome = closed;
    // When writing the output failed and closing it did too, the close has
    // the last word on what is left of it (an MP4 without its index is
    // removed).
    else if (plan_.kind() != OutputKind::Wav && closed.failed() && closed.file == outputPath_ &&
             outcome.file == outputPath_)
        outcome = closed;
    {
        std::lock_guard lock(mutex_);
        ended_ = outcome;
    }
    // The news cannot be handed over (no memory to post it): the caller
    // still finds the outcome through stop().
    try {
        if (callBack && finished_)
            finished_(outcome);
    } catch (const std::exception &) {
    }
}

// Waits for the workers while keeping the header current. A worker that
// shows no sign of life for the stall timeout fails the run; once the run
// is cancelled, workers still inside a read after the grace are left behind.
void ExportRun::superviseWorkers()
{
    Clock::time_point nextCommit = Clock::now() + kHeaderInterval;
    std::unique_lock lock(mutex_);
    while (activeWorkers_ > 0) {
        const Clock::time_point now = Clock::now();
        if (cancel_.load() && now >= cancelledAt_ + SourceWatchdog::kStopGrace) {
            hung_ = watchdog_.abandonRunning();
            return;
        }
        if (!cancel_.load()) {
            if (Result stalled = watchdog_.stalled(now, options_.stallTimeout); stalled.failed()) {
                failed_ = true;
                failure_ = std::move(stalled);
                cancelLocked();
                continue;
            }
        }
        if (now >= nextCommit) {
            lock.unlock();
            if (Result r = output_->commit(); r.failed())
                recordFailure(r);
            lock.lock();
            nextCommit = Clock::now() + kHeaderInterval;
            continue;
        }
        Clock::time_point until = nextCommit;
        if (cancel_.load())
            until = std::min(until, cancelledAt_ + SourceWatchdog::kStopGrace);
        else
            until = std::min(until, now + std::chrono::milliseconds(100));
        wake_.wait_until(lock, until);
    }
}

void ExportRun::joinWorkers()
{
    std::vector<std::thread> workers = std::move(workers_);
    workers_.clear();
    for (std::size_t i = 0; i < workers.size(); ++i) {
        // A worker left behind holds this run alive itself and ends when
        // its read returns at last.
        if (watchdog_.abandoned(i))
            workers[i].detach();
        else
            workers[i].join();
    }
}

// The file is closed whatever the fault hook says, so what was written
// stays a valid file.
// The file is closed whatever the hook does, also when it throws.
Result ExportRun::closeFile(bool stopped)
{
    int injected = 0;
    std::exception_ptr thrown;
    try {
        injected = options_.faults ? injectedFault(options_.faults, "ExportRun.Close:" + outputPath_) : 0;
    } catch (...) {
        thrown = std::current_exception();
    }
    const Result closed = output_->close(stopped);
    if (thrown)
        std::rethrow_exception(thrown);
    return closed && injected < 0 ? fail(injected) : closed;
}

void ExportRun::work(std::size_t slot)
{
    if (Result r = renderSegments(slot); r.failed())
        recordFailure(std::move(r));
    {
        std::lock_guard lock(mutex_);
        --activeWorkers_;
        watchdog_.ended(slot);
    }
    wake_.notify_all();
}

// A worker never takes the program down: an exception (no memory, a library
// that throws) fails the run as any failure does, naming what it was doing.
Result ExportRun::renderSegments(std::size_t slot)
{
    std::size_t index = segments_.size();
    try {
        SegmentWriter writer({clips_, segments_, format_, options_, cancel_, watchdog_, *pieces_, *output_}, slot);
        while (!cancel_.load()) {
            index = nextSegment_.fetch_add(1);
            if (index >= segments_.size())
                break;
            if (Result r = writer.render(index); r.failed())
                return r;
        }
        return ok();
    } catch (const std::exception &e) {
        const bool memory = isOutOfMemory(e);
        return failWith(memory ? Code::kOutOfMemory : Code::kUnexpected, [&] {
            const std::string what = memory ? "out of memory" : "an unexpected error (" + std::string(e.what()) + ")";
            return "The join failed: " + what + doing(slot, index);
        });
    }
}

// The file a worker was busy with: of a segment's clips, the one it called
// into last; the output, for silence or before any segment.
std::string ExportRun::doing(std::size_t slot, std::size_t index) const
{
    if (index >= segments_.size() || segments_[index].clips.empty())
        return " while writing " + outputPath_;
    const std::vector<int> &clips = segments_[index].clips;
    const std::optional<int> last = watchdog_.lastClip(slot);
    const int clip = last && std::find(clips.begin(), clips.end(), *last) != clips.end() ? *last : clips.front();
    return " while joining " + clips_[static_cast<std::size_t>(clip)].path;
}

void ExportRun::recordFailure(Result r)
{
    {
        std::lock_guard lock(mutex_);
        // A worker that gave up because of a stop has nothing to report; one
        // that failed as the stop came (a full disk) has.
        if (failed_ || (stopRequested_ && r.code == Code::kAbort))
            return;
        failed_ = true;
        failedAtStop_ = stopRequested_;
        failure_ = std::move(r);
        cancelLocked();
    }
    wake_.notify_all();
}

} // namespace sonaweld::media
