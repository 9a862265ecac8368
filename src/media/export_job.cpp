#include "media/export_job.h"

#include "media/clip_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace sonaweld::media {
namespace {

// How often the header is brought up to the written prefix.
constexpr auto kHeaderInterval = std::chrono::milliseconds(500);

// One clip of a mixed segment, with the output samples it covers.
struct MixInput
{
    std::unique_ptr<ClipReader> reader;
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

Result openMixInputs(const std::vector<ClipSpec> &clips, const Segment &segment,
                     const WaveFormatEx &format, const std::atomic<bool> &cancel,
                     std::vector<MixInput> &inputs)
{
    const int rate = static_cast<int>(format.samplesPerSec);
    for (int c : segment.clips) {
        const ClipSpec &clip = clips[c];
        MixInput input;
        input.begin = sampleAt(clip.start, rate);
        input.end = sampleAt(clip.stop, rate);
        input.reader = std::make_unique<ClipReader>(clip.path, format, sampleAt(clip.mediaStart, rate),
                                                    input.end - input.begin, cancel);
        if (Result r = input.reader->open(); r.failed())
            return r;
        inputs.push_back(std::move(input));
    }
    return ok();
}

// A reader hands over less than asked only before failing, so asking again
// either fills the rest or returns that failure.
Result readFully(ClipReader &reader, std::uint8_t *out, int frames, int blockAlign)
{
    for (int done = 0; done < frames;) {
        int produced = 0;
        if (Result r = reader.read(out + static_cast<std::int64_t>(done) * blockAlign, frames - done,
                                   produced);
            r.failed())
            return r;
        if (produced == 0)
            return fail(Code::kUnexpected, "A mixed clip ended inside its own span");
        done += produced;
    }
    return ok();
}

void mixInto(std::int32_t *sum, const std::uint8_t *pcm, std::int64_t samples, bool eightBit)
{
    if (eightBit) {
        for (std::int64_t s = 0; s < samples; ++s)
            sum[s] += static_cast<std::int32_t>(pcm[s]) - 128;
    } else {
        const auto *wide = reinterpret_cast<const std::int16_t *>(pcm);
        for (std::int64_t s = 0; s < samples; ++s)
            sum[s] += wide[s];
    }
}

// Sums past full scale are clipped rather than wrapped into a loud click.
void storeClipped(const std::int32_t *sum, std::uint8_t *pcm, std::int64_t samples, bool eightBit)
{
    if (eightBit) {
        for (std::int64_t s = 0; s < samples; ++s)
            pcm[s] = static_cast<std::uint8_t>(std::clamp(sum[s], -128, 127) + 128);
    } else {
        auto *wide = reinterpret_cast<std::int16_t *>(pcm);
        for (std::int64_t s = 0; s < samples; ++s)
            wide[s] = static_cast<std::int16_t>(std::clamp(sum[s], -32768, 32767));
    }
}

} // namespace

std::vector<Segment> planSegments(const std::vector<ClipSpec> &clips, int rate)
{
    struct Span
    {
        std::int64_t begin, end;
        int clip;
    };
    std::vector<Span> spans;
    for (int i = 0; i < static_cast<int>(clips.size()); ++i) {
        const std::int64_t begin = sampleAt(clips[i].start, rate);
        const std::int64_t end = sampleAt(clips[i].stop, rate);
        if (end > begin)
            spans.push_back({begin, end, i});
    }
    std::stable_sort(spans.begin(), spans.end(),
                     [](const Span &a, const Span &b) { return a.begin < b.begin; });

    std::vector<Segment> segments;
    std::int64_t cursor = 0;
    for (const Span &s : spans) {
        if (!segments.empty() && !segments.back().clips.empty() && s.begin < segments.back().end) {
            Segment &mix = segments.back();
            mix.end = std::max(mix.end, s.end);
            mix.clips.push_back(s.clip);
            cursor = mix.end;
            continue;
        }
        if (s.begin > cursor)
            segments.push_back({cursor, s.begin, {}});
        segments.push_back({s.begin, s.end, {s.clip}});
        cursor = s.end;
    }
    return segments;
}

ExportJob::ExportJob(std::vector<ClipSpec> clips, WaveFormatEx format, std::string outputPath,
                     ExportOptions options)
    : clips_(std::move(clips))
    , format_(format)
    , outputPath_(std::move(outputPath))
    , options_(options)
{
    segments_ = planSegments(clips_, static_cast<int>(format_.samplesPerSec));
    totalFrames_ = segments_.empty() ? 0 : segments_.back().end;
    progress_ = std::make_unique<std::atomic<std::int64_t>[]>(segments_.size());
    for (std::size_t i = 0; i < segments_.size(); ++i)
        progress_[i].store(0);
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
    if (Result r = file_.create(outputPath_, format_, totalFrames_, options_.rf64Threshold); r.failed())
        return r;
    finished_ = std::move(finished);
    coordinator_ = std::thread([this] { coordinate(); });
    return ok();
}

Result ExportJob::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        cancel_ = true;
    }
    wake_.notify_all();
    // From the Finished callback the file is already closed; the thread is
    // joined by whoever destroys the job.
    if (coordinator_.joinable() && coordinator_.get_id() != std::this_thread::get_id())
        coordinator_.join();
    std::lock_guard lock(mutex_);
    return stoppedClose_;
}

std::int64_t ExportJob::framesDone() const
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

void ExportJob::coordinate()
{
    int count = options_.workers > 0 ? options_.workers
                                     : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    count = std::min<int>(count, static_cast<int>(segments_.size()));
    activeWorkers_ = count;
    for (int i = 0; i < count; ++i)
        workers_.emplace_back([this] { work(); });

    {
        std::unique_lock lock(mutex_);
        while (activeWorkers_.load() > 0) {
            if (!wake_.wait_for(lock, kHeaderInterval, [this] { return activeWorkers_.load() == 0; })) {
                lock.unlock();
                if (Result r = file_.commitPrefix(framesDone()); r.failed())
                    recordFailure(r);
                lock.lock();
            }
        }
    }
    for (std::thread &t : workers_)
        t.join();
    workers_.clear();

    bool stopped;
    Result outcome;
    {
        std::lock_guard lock(mutex_);
        stopped = stopRequested_ && !failed_;
        outcome = failed_ ? failure_ : ok();
    }
    const std::int64_t frames = outcome.failed() || stopped ? framesDone() : totalFrames_;
    Result closed = file_.finish(frames);
    if (stopped) {
        // Nobody is called back after a stop; stop() hands this over.
        std::lock_guard lock(mutex_);
        stoppedClose_ = closed;
        return;
    }
    if (outcome && closed.failed())
        outcome = closed;
    if (finished_)
        finished_(outcome);
}

void ExportJob::work()
{
    for (;;) {
        if (cancel_.load())
            break;
        const std::size_t index = nextSegment_.fetch_add(1);
        if (index >= segments_.size())
            break;
        if (Result r = renderSegment(index); r.failed()) {
            recordFailure(r);
            break;
        }
    }
    {
        std::lock_guard lock(mutex_);
        --activeWorkers_;
    }
    wake_.notify_all();
}

void ExportJob::recordFailure(const Result &r)
{
    std::lock_guard lock(mutex_);
    // A worker that gave up because of a stop has nothing to report.
    if (failed_ || stopRequested_)
        return;
    failed_ = true;
    failure_ = r;
    cancel_ = true;
}

Result ExportJob::writeSpan(std::size_t index, std::int64_t at, const std::uint8_t *data, std::int64_t frames)
{
    if (Result r = file_.writeFrames(segments_[index].begin + at, data, frames); r.failed())
        return r;
    progress_[index].fetch_add(frames, std::memory_order_release);
    return ok();
}

Result ExportJob::renderSegment(std::size_t index)
{
    std::vector<std::uint8_t> buffer(static_cast<size_t>(options_.chunkFrames) * format_.blockAlign);
    // The composer lays clips back to back, but the timeline accepts them
    // anywhere: gaps and overlaps are rendered as placed rather than written
    // as a file that differs from its timeline.
    switch (segments_[index].clips.size()) {
    case 0: return renderSilence(index, buffer);
    case 1: return renderClip(index, buffer);
    default: return renderMix(index, buffer);
    }
}

Result ExportJob::renderSilence(std::size_t index, std::vector<std::uint8_t> &buffer)
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

Result ExportJob::renderClip(std::size_t index, std::vector<std::uint8_t> &buffer)
{
    const Segment &segment = segments_[index];
    const ClipSpec &clip = clips_[segment.clips.front()];
    const int rate = static_cast<int>(format_.samplesPerSec);
    ClipReader reader(clip.path, format_, sampleAt(clip.mediaStart, rate), segment.end - segment.begin,
                      cancel_);
    if (Result r = reader.open(); r.failed())
        return r;
    for (std::int64_t at = 0; reader.remaining() > 0;) {
        int produced = 0;
        if (Result r = reader.read(buffer.data(), options_.chunkFrames, produced); r.failed())
            return r;
        if (Result r = writeSpan(index, at, buffer.data(), produced); r.failed())
            return r;
        at += produced;
    }
    return ok();
}

Result ExportJob::renderMix(std::size_t index, std::vector<std::uint8_t> &buffer)
{
    const Segment &segment = segments_[index];
    std::vector<MixInput> inputs;
    if (Result r = openMixInputs(clips_, segment, format_, cancel_, inputs); r.failed())
        return r;

    const int channels = format_.channels;
    const bool eightBit = format_.bitsPerSample == 8;
    std::vector<std::int32_t> sum(static_cast<size_t>(options_.chunkFrames) * channels);
    std::vector<std::uint8_t> part(buffer.size());
    for (std::int64_t pos = segment.begin; pos < segment.end;) {
        const std::int64_t n = std::min<std::int64_t>(options_.chunkFrames, segment.end - pos);
        std::fill(sum.begin(), sum.begin() + n * channels, 0);
        for (MixInput &input : inputs) {
            const std::int64_t lo = std::max(pos, input.begin);
            const std::int64_t hi = std::min(pos + n, input.end);
            if (lo >= hi)
                continue;
            if (Result r = readFully(*input.reader, part.data(), static_cast<int>(hi - lo), format_.blockAlign);
                r.failed())
                return r;
            mixInto(sum.data() + (lo - pos) * channels, part.data(), (hi - lo) * channels, eightBit);
        }
        storeClipped(sum.data(), buffer.data(), n * channels, eightBit);
        if (Result r = writeSpan(index, pos - segment.begin, buffer.data(), n); r.failed())
            return r;
        pos += n;
    }
    return ok();
}

} // namespace sonaweld::media
