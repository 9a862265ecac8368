#include "media/export_run.h"

#include "media/clip_reader.h"
#include "media/pcm_mix.h"

#include <algorithm>
#include <cstring>

namespace sonaweld::media {
namespace {

// How often the header is brought up to the written prefix.
constexpr auto kHeaderInterval = std::chrono::milliseconds(500);

} // namespace

ExportRun::ExportRun(std::vector<ClipSpec> clips, WaveFormatEx format, std::string outputPath,
                     ExportOptions options)
    : clips_(std::move(clips))
    , format_(format)
    , outputPath_(std::move(outputPath))
    , options_(std::move(options))
{
    plan();
}

void ExportRun::plan()
{
    workerCount_ = options_.workers > 0 ? options_.workers
                                        : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const std::int64_t rate = format_.samplesPerSec;
    // One worker decodes every clip whole and in order anyway. With many
    // clips the workers are kept busy by whole clips, and cutting costs
    // more than it gains: only a clip longer than a quarter of each
    // worker's share of the output is cut.
    const std::int64_t pieceFrames = workerCount_ > 1 ? options_.pieceSeconds * rate : 0;
    std::int64_t total = 0;
    for (const ClipSpec &clip : clips_)
        total = std::max(total, sampleAt(clip.stop, static_cast<int>(rate)));
    segments_ = planSegments(clips_, static_cast<int>(rate), pieceFrames, total / (4 * workerCount_));
    pieces_ = std::make_unique<PieceProtocol>(segments_, static_cast<int>(rate), options_.followOnPieces);
    output_ = std::make_unique<OutputFile>(segments_);
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
}

Result ExportRun::outcome()
{
    std::lock_guard lock(mutex_);
    return ended_;
}

void ExportRun::cancelLocked()
{
    if (!cancel_.exchange(true))
        cancelledAt_ = Clock::now();
}

void ExportRun::coordinate()
{
    const int count = std::max(std::min<int>(workerCount_, static_cast<int>(segments_.size())), 0);
    startWorkers(count);
    superviseWorkers();
    joinWorkers();
    finish();
}

void ExportRun::startWorkers(int count)
{
    watchdog_.open(static_cast<std::size_t>(count));
    {
        std::lock_guard lock(mutex_);
        activeWorkers_ = count;
    }
    for (int i = 0; i < count; ++i)
        workers_.emplace_back([self = shared_from_this(), i] { self->work(static_cast<std::size_t>(i)); });
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
    if (outcome && !stopped && framesDone() != totalFrames())
        outcome = fail(Code::kUnexpected, "The join left part of " + outputPath_ + " unwritten");
    const Result closed = closeFile();
    if (stopped && closed && hung.failed())
        outcome = hung;
    else if (outcome)
        outcome = closed;
    {
        std::lock_guard lock(mutex_);
        ended_ = outcome;
    }
    if (callBack && finished_)
        finished_(outcome);
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
Result ExportRun::closeFile()
{
    const int injected = options_.faults ? injectedFault(options_.faults, "ExportRun.Close:" + outputPath_) : 0;
    const Result closed = output_->close();
    return closed && injected < 0 ? fail(injected) : closed;
}

void ExportRun::work(std::size_t slot)
{
    Worker worker(*this, slot);
    for (;;) {
        if (cancel_.load())
            break;
        const std::size_t index = nextSegment_.fetch_add(1);
        if (index >= segments_.size())
            break;
        if (Result r = renderSegment(worker, index); r.failed()) {
            recordFailure(std::move(r));
            break;
        }
    }
    {
        std::lock_guard lock(mutex_);
        --activeWorkers_;
        watchdog_.ended(slot);
    }
    wake_.notify_all();
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

Result ExportRun::writeSpan(std::size_t index, std::int64_t at, const std::uint8_t *data, std::int64_t frames)
{
    if (options_.faults) {
        const std::vector<int> &clips = segments_[index].clips;
        const std::string source = clips.empty() ? std::string() : clips_[static_cast<std::size_t>(clips[0])].path;
        if (const int injected = injectedFault(options_.faults, "ExportRun.Write:" + source); injected < 0)
            return fail(injected);
    }
    return output_->write(index, at, data, frames);
}

Result ExportRun::renderSegment(Worker &worker, std::size_t index)
{
    // The composer lays clips back to back, but the timeline accepts them
    // anywhere: gaps and overlaps are rendered as placed rather than written
    // as a file that differs from its timeline.
    if (segments_[index].piece >= 0)
        return pieces_->render(index, worker);
    switch (segments_[index].clips.size()) {
    case 0: return renderSilence(worker, index);
    case 1: return renderClip(worker, index);
    default: return renderMix(worker, index);
    }
}

Result ExportRun::renderSilence(Worker &worker, std::size_t index)
{
    std::vector<std::uint8_t> &buffer = worker.buffer;
    std::memset(buffer.data(), silenceByte(format_), buffer.size());
    const std::int64_t length = segments_[index].end - segments_[index].begin;
    for (std::int64_t at = 0; at < length;) {
        if (cancel_.load())
            return fail(Code::kAbort);
        const std::int64_t n = std::min<std::int64_t>(options_.chunkFrames, length - at);
        if (Result r = writeSpan(index, at, buffer.data(), n); r.failed())
            return r;
        at += n;
    }
    return ok();
}

Result ExportRun::renderClip(Worker &worker, std::size_t index)
{
    const Segment &segment = segments_[index];
    const int clip = segment.clips.front();
    const int rate = static_cast<int>(format_.samplesPerSec);
    std::unique_ptr<ClipReader> reader;
    if (Result r = worker.openReader(clip, sampleAt(clips_[static_cast<std::size_t>(clip)].mediaStart, rate),
                              segment.end - segment.begin, {}, reader);
        r.failed())
        return r;
    std::int64_t at = 0;
    return worker.copy(clip, *reader, index, at);
}

Result ExportRun::openMixInputs(Worker &worker, const Segment &segment, std::vector<MixInput> &inputs)
{
    const int rate = static_cast<int>(format_.samplesPerSec);
    for (const int c : segment.clips) {
        const ClipSpec &clip = clips_[static_cast<std::size_t>(c)];
        MixInput input;
        input.clip = c;
        input.begin = sampleAt(clip.start, rate);
        input.end = sampleAt(clip.stop, rate);
        if (Result r = worker.openReader(c, sampleAt(clip.mediaStart, rate), input.end - input.begin, {},
                                  input.reader);
            r.failed())
            return r;
        inputs.push_back(std::move(input));
    }
    return ok();
}

Result ExportRun::renderMix(Worker &worker, std::size_t index)
{
    const Segment &segment = segments_[index];
    std::vector<MixInput> inputs;
    if (Result r = openMixInputs(worker, segment, inputs); r.failed())
        return r;

    PcmMix mix(format_, options_.chunkFrames);
    const auto read = [&](MixInput &input, std::uint8_t *out, int frames) {
        return worker.watched(input.clip, [&] { return readFully(*input.reader, out, frames, format_.blockAlign); });
    };
    for (std::int64_t pos = segment.begin; pos < segment.end;) {
        const std::int64_t n = std::min<std::int64_t>(options_.chunkFrames, segment.end - pos);
        if (Result r = mix.mix(inputs, pos, n, worker.buffer.data(), read); r.failed())
            return r;
        if (Result r = writeSpan(index, pos - segment.begin, worker.buffer.data(), n); r.failed())
            return r;
        pos += n;
    }
    return ok();
}

ExportRun::Worker::Worker(ExportRun &run, std::size_t slot)
    : buffer(static_cast<std::size_t>(run.options_.chunkFrames) * run.format_.blockAlign)
    , run_(run)
    , slot_(slot)
{
}

// Every reader is opened here, watched: opening is where a dead mount hangs.
// An open the cancel cut short may fail in any way (a stream whose details
// were not all read looks damaged): that is the cancel's abort.
Result ExportRun::Worker::openReader(int clip, std::int64_t skipFrames, std::int64_t frames, PieceStart piece,
                                     std::unique_ptr<ClipReader> &reader)
{
    reader = std::make_unique<ClipReader>(run_.clips_[static_cast<std::size_t>(clip)].path, run_.format_, skipFrames,
                                          frames, run_.cancel_, run_.options_.faults, std::move(piece));
    const Result r = watched(clip, [&] { return reader->open(); });
    return r.failed() && run_.cancel_.load() ? fail(Code::kAbort) : r;
}

// Reading through a long file on a slow share may take a while; the
// builder shows it is alive with every packet.
Result ExportRun::Worker::indexSource(int clip, const std::vector<std::int64_t> &starts, PacketIndex &index)
{
    return watched(clip, [&] {
        return buildPacketIndex(run_.clips_[static_cast<std::size_t>(clip)].path, run_.cancel_, index, starts,
                                static_cast<int>(run_.format_.samplesPerSec),
                                [this] { run_.watchdog_.renew(slot_); });
    });
}

// Fills segment `index` from `reader`, from the segment's frame `at` to its
// end; `at` ends where the writing stopped. A reader may span several
// segments (the pieces of a clip read in order).
Result ExportRun::Worker::copy(int clip, ClipReader &reader, std::size_t index, std::int64_t &at)
{
    const std::int64_t length = run_.segments_[index].end - run_.segments_[index].begin;
    while (at < length) {
        int produced = 0;
        const int want = static_cast<int>(std::min<std::int64_t>(run_.options_.chunkFrames, length - at));
        if (Result r = watched(clip, [&] { return reader.read(buffer.data(), want, produced); }); r.failed())
            return r;
        if (produced == 0)
            return fail(Code::kUnexpected, "Reading " + reader.path() + " ended inside its span");
        if (Result r = run_.writeSpan(index, at, buffer.data(), produced); r.failed())
            return r;
        at += produced;
    }
    return ok();
}

} // namespace sonaweld::media
