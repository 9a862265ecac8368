#include "media/export_run.h"

#include "media/clip_reader.h"
#include "media/packet_index.h"
#include "media/pcm_mix.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <numeric>

namespace sonaweld::media {
namespace {

// How often the header is brought up to the written prefix.
constexpr auto kHeaderInterval = std::chrono::milliseconds(500);
// The resampler returns to the same phase at every output second only when
// it keeps one phase per output sample of the reduced rate ratio.
constexpr std::int64_t kMaxResamplerPhases = 1024;

Result openMixInputs(const std::vector<ClipSpec> &clips, const Segment &segment,
                     const WaveFormatEx &format, const std::atomic<bool> &cancel,
                     const SharedFaultHook &faults, const std::function<Result(int, ClipReader &)> &open,
                     std::vector<MixInput> &inputs)
{
    const int rate = static_cast<int>(format.samplesPerSec);
    for (int c : segment.clips) {
        const ClipSpec &clip = clips[c];
        MixInput input;
        input.clip = c;
        input.begin = sampleAt(clip.start, rate);
        input.end = sampleAt(clip.stop, rate);
        input.reader = std::make_unique<ClipReader>(clip.path, format, sampleAt(clip.mediaStart, rate),
                                                    input.end - input.begin, cancel, faults);
        if (Result r = open(c, *input.reader); r.failed())
            return r;
        inputs.push_back(std::move(input));
    }
    return ok();
}

} // namespace

ExportRun::ExportRun(std::vector<ClipSpec> clips, WaveFormatEx format, std::string outputPath,
                     ExportOptions options)
    : clips_(std::move(clips))
    , format_(format)
    , outputPath_(std::move(outputPath))
    , options_(std::move(options))
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
    totalFrames_ = segments_.empty() ? 0 : segments_.back().end;
    pieceOf_.assign(segments_.size(), 0);
    progress_ = std::make_unique<std::atomic<std::int64_t>[]>(segments_.size());
    claimed_ = std::make_unique<std::atomic<bool>[]>(segments_.size());
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        progress_[i].store(0);
        claimed_[i].store(false);
        const Segment &segment = segments_[i];
        if (segment.piece < 0)
            continue;
        if (segment.piece == 0)
            pieced_.emplace_back(std::make_unique<PiecedClip>());
        PiecedClip &clip = *pieced_.back();
        clip.segments.push_back(i);
        ++clip.piecesLeft;
        pieceOf_[i] = pieced_.size() - 1;
    }
}

int ExportRun::abandonedWorkers()
{
    return SourceWatchdog::abandonedWorkers();
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

std::int64_t ExportRun::framesDone() const
{
    std::int64_t done = 0;
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const std::int64_t written = progress_[i].load(std::memory_order_acquire);
        done += written;
        if (written < segments_[i].end - segments_[i].begin)
            break;
    }
    return done;
}

void ExportRun::coordinate()
{
    const int count = std::min<int>(workerCount_, static_cast<int>(segments_.size()));
    watchdog_.open(static_cast<std::size_t>(std::max(count, 0)));
    {
        std::lock_guard lock(mutex_);
        activeWorkers_ = count;
    }
    for (int i = 0; i < count; ++i) {
        workers_.emplace_back([self = shared_from_this(), i] { self->work(static_cast<std::size_t>(i)); });
    }

    superviseWorkers();
    joinWorkers();

    bool stopped;
    Result outcome;
    Result hung;
    {
        std::lock_guard lock(mutex_);
        stopped = stopRequested_ && !failed_;
        outcome = failed_ ? failure_ : ok();
        hung = hung_;
    }
    // Every part of a finished run was written; a part nobody wrote would
    // otherwise be silence in a file reported as complete.
    if (outcome && !stopped && framesDone() != totalFrames_)
        outcome = fail(Code::kUnexpected, "The join left part of " + outputPath_ + " unwritten");
    const std::int64_t frames = outcome.failed() || stopped ? framesDone() : totalFrames_;
    const Result closed = closeFile(frames);
    if (stopped && closed && hung.failed())
        outcome = hung;
    else if (outcome)
        outcome = closed;
    {
        std::lock_guard lock(mutex_);
        ended_ = outcome;
    }
    // Nobody is called back after a stop; stop() hands the outcome over.
    if (!stopped && finished_)
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
            if (Result r = file_.commitPrefix(framesDone()); r.failed())
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

Result ExportRun::closeFile(std::int64_t frames)
{
    std::unique_lock gate(fileGate_);
    fileClosed_ = true;
    return file_.finish(frames);
}

void ExportRun::work(std::size_t slot)
{
    for (;;) {
        if (cancel_.load())
            break;
        const std::size_t index = nextSegment_.fetch_add(1);
        if (index >= segments_.size())
            break;
        if (Result r = renderSegment(slot, index); r.failed()) {
            recordFailure(r);
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

void ExportRun::recordFailure(const Result &r)
{
    {
        std::lock_guard lock(mutex_);
        // A worker that gave up because of a stop has nothing to report.
        if (failed_ || stopRequested_)
            return;
        failed_ = true;
        failure_ = r;
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
    std::shared_lock gate(fileGate_);
    if (fileClosed_)
        return fail(Code::kAbort);
    if (Result r = file_.writeFrames(segments_[index].begin + at, data, frames); r.failed())
        return r;
    progress_[index].fetch_add(frames, std::memory_order_release);
    return ok();
}

Result ExportRun::renderSegment(std::size_t slot, std::size_t index)
{
    std::vector<std::uint8_t> buffer(static_cast<size_t>(options_.chunkFrames) * format_.blockAlign);
    // The composer lays clips back to back, but the timeline accepts them
    // anywhere: gaps and overlaps are rendered as placed rather than written
    // as a file that differs from its timeline.
    if (segments_[index].piece >= 0)
        return renderPiece(slot, index, buffer);
    switch (segments_[index].clips.size()) {
    case 0: return renderSilence(index, buffer);
    case 1: return renderClip(slot, index, buffer);
    default: return renderMix(slot, index, buffer);
    }
}

Result ExportRun::renderSilence(std::size_t index, std::vector<std::uint8_t> &buffer)
{
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

Result ExportRun::renderClip(std::size_t slot, std::size_t index, std::vector<std::uint8_t> &buffer)
{
    const Segment &segment = segments_[index];
    const ClipSpec &clip = clips_[segment.clips.front()];
    const int rate = static_cast<int>(format_.samplesPerSec);
    const int clipIndex = segment.clips.front();
    ClipReader reader(clip.path, format_, sampleAt(clip.mediaStart, rate), segment.end - segment.begin,
                      cancel_, options_.faults);
    if (Result r = watchdog_.call(slot, clipIndex, [&] { return reader.open(); }); r.failed())
        return r;
    std::int64_t at = 0;
    return copyReader(slot, clipIndex, reader, index, at, buffer);
}

// Fills segment `index` from `reader`, from the segment's frame `at` to its
// end; `at` ends where the writing stopped. A reader may span several
// segments (the pieces of a clip read in order).
Result ExportRun::copyReader(std::size_t slot, int clip, ClipReader &reader, std::size_t index, std::int64_t &at,
                             std::vector<std::uint8_t> &buffer)
{
    const std::int64_t length = segments_[index].end - segments_[index].begin;
    while (at < length) {
        int produced = 0;
        const int want = static_cast<int>(std::min<std::int64_t>(options_.chunkFrames, length - at));
        if (Result r = watchdog_.call(slot, clip, [&] { return reader.read(buffer.data(), want, produced); });
            r.failed())
            return r;
        if (produced == 0)
            return fail(Code::kUnexpected, "Reading " + reader.path() + " ended inside its span");
        if (Result r = writeSpan(index, at, buffer.data(), produced); r.failed())
            return r;
        at += produced;
    }
    return ok();
}

Result ExportRun::renderMix(std::size_t slot, std::size_t index, std::vector<std::uint8_t> &buffer)
{
    const Segment &segment = segments_[index];
    std::vector<MixInput> inputs;
    const auto open = [&](int clip, ClipReader &reader) {
        return watchdog_.call(slot, clip, [&] { return reader.open(); });
    };
    if (Result r = openMixInputs(clips_, segment, format_, cancel_, options_.faults, open, inputs); r.failed())
        return r;

    PcmMix mix(format_, options_.chunkFrames);
    const auto read = [&](MixInput &input, std::uint8_t *out, int frames) {
        return watchdog_.call(slot, input.clip, [&] {
            return readFully(*input.reader, out, frames, format_.blockAlign);
        });
    };
    for (std::int64_t pos = segment.begin; pos < segment.end;) {
        const std::int64_t n = std::min<std::int64_t>(options_.chunkFrames, segment.end - pos);
        if (Result r = mix.mix(inputs, pos, n, buffer.data(), read); r.failed())
            return r;
        if (Result r = writeSpan(index, pos - segment.begin, buffer.data(), n); r.failed())
            return r;
        pos += n;
    }
    return ok();
}

ExportJob::PieceCounts ExportRun::pieceCounts() const
{
    return {piecesApart_.load(), piecesFromStart_.load()};
}

// Decides once per long clip, on whichever worker gets there first, whether
// its pieces can be decoded apart: only when every sample's place in the
// source is known exactly and the resampler's phase returns to the same
// value at every output second.
void ExportRun::decidePieces(std::size_t slot, int clip, PiecedClip &pieced)
{
    auto index = std::make_shared<PacketIndex>();
    Result built;
    {
        // Reading through a long file on a slow share may take a while; the
        // builder shows it is alive with every packet.
        std::vector<std::int64_t> starts;
        for (const std::size_t segment : pieced.segments)
            starts.push_back(segments_[segment].clipOffset);
        try {
            built = watchdog_.call(slot, clip, [&] {
                return buildPacketIndex(clips_[static_cast<std::size_t>(clip)].path, cancel_, *index, starts,
                                        static_cast<int>(format_.samplesPerSec),
                                        [this, slot] { watchdog_.renew(slot); });
            });
        } catch (const std::bad_alloc &) {
            // No memory for the index: the clip is simply read in order.
            built = fail(Code::kOutOfMemory);
        }
    }
    // A stop ends the clip; anything else the index cannot make sense of is
    // left to the one worker reading the clip in order, which reports what
    // it meets itself.
    if (built.code == Code::kAbort) {
        pieced.decided = built;
        return;
    }
    if (built.failed())
        return;
    const std::int64_t out = format_.samplesPerSec;
    if (out / std::gcd<std::int64_t>(index->sampleRate, out) > kMaxResamplerPhases)
        return;
    pieced.index = std::move(index);
}

void ExportRun::decideOnce(std::size_t slot, int clip, PiecedClip &pieced)
{
    std::call_once(pieced.once, [&] { decidePieces(slot, clip, pieced); });
}

// The worker with a clip's first piece decodes from the start and goes on
// into each next piece that nobody has taken yet: that costs no seek and no
// warm-up, and keeps it busy while another worker indexes the clip. The
// others take pieces apart once the index is there; a clip that cannot be
// cut is left to the first worker whole.
Result ExportRun::renderPiece(std::size_t slot, std::size_t index, std::vector<std::uint8_t> &buffer)
{
    const Segment &segment = segments_[index];
    PiecedClip &pieced = *pieced_[pieceOf_[index]];
    const int clip = segment.clips.front();
    Result r;
    if (segment.piece == 0) {
        claimed_[index] = true;
        r = renderInOrder(slot, pieced, 0);
    } else {
        decideOnce(slot, clip, pieced);
        if (pieced.decided.failed())
            r = pieced.decided;
        else if (pieced.index && !claimed_[index].exchange(true))
            r = pieced.apartFailed ? renderInOrder(slot, pieced, static_cast<std::size_t>(segment.piece))
                                   : renderPieceApart(slot, index, pieced, buffer);
    }
    // The index is let go with the clip's last piece; a long list of long
    // files holds one index per clip under way, not one per file.
    if (--pieced.piecesLeft == 0)
        pieced.index.reset();
    return r;
}

// Decodes the clip from its start, writing piece `from` (already claimed)
// and each later piece nobody has taken yet.
Result ExportRun::renderInOrder(std::size_t slot, PiecedClip &pieced, std::size_t from)
{
    std::vector<std::uint8_t> buffer(static_cast<size_t>(options_.chunkFrames) * format_.blockAlign);
    const Segment &start = segments_[pieced.segments[from]];
    const Segment &last = segments_[pieced.segments.back()];
    const int clip = start.clips.front();
    ClipReader reader(clips_[static_cast<std::size_t>(clip)].path, format_, start.clipOffset, last.end - start.begin,
                      cancel_, options_.faults);
    if (Result r = watchdog_.call(slot, clip, [&] { return reader.open(); }); r.failed())
        return r;
    for (std::size_t n = from; n < pieced.segments.size(); ++n) {
        const std::size_t index = pieced.segments[n];
        if (n == 1 && from == 0 && !options_.followOnPieces) {
            decideOnce(slot, clip, pieced);
            if (pieced.decided.failed() || pieced.index)
                return ok(); // the failure is the other pieces' to report
        }
        if (n > from && claimed_[index].exchange(true))
            return ok();
        std::int64_t at = 0;
        if (Result r = copyReader(slot, clip, reader, index, at, buffer); r.failed())
            return r;
    }
    return ok();
}

Result ExportRun::renderPieceApart(std::size_t slot, std::size_t index, PiecedClip &pieced,
                                   std::vector<std::uint8_t> &buffer)
{
    const Segment &segment = segments_[index];
    const int clip = segment.clips.front();
    std::int64_t at = 0;
    ClipReader reader(clips_[static_cast<std::size_t>(clip)].path, format_, 0, segment.end - segment.begin, cancel_,
                      options_.faults, {pieced.index, segment.clipOffset});
    Result r = watchdog_.call(slot, clip, [&] { return reader.open(); });
    if (r)
        r = copyReader(slot, clip, reader, index, at, buffer);
    if (r && reader.sought())
        ++piecesApart_;
    if (r.code != Code::kNotImpl || at > 0)
        return r;
    // The source could not be entered where the index said (a seek that
    // lands elsewhere, a packet the index does not know): from here on the
    // clip is decoded in order, by this worker, as a single worker would.
    pieced.apartFailed = true;
    ++piecesFromStart_;
    return renderInOrder(slot, pieced, static_cast<std::size_t>(segment.piece));
}

} // namespace sonaweld::media
