#include "media/clip_analysis.h"

#include "media/clip_reader.h"
#include "media/loudness_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace sonaweld::media {
namespace {

constexpr int kChunkFrames = 4096;
// Quiet frames after the clip's sound are held back from the meter until
// later sound shows they are inside the clip. A longer quiet stretch is not
// held: the meter stops there, and the clip is measured again over exactly
// what it keeps, which costs a second decoding only for such clips, where
// holding it all could take hundreds of megabytes for a long quiet ending.
constexpr std::int64_t kHeldSeconds = 10;

// One clip's frames in order: where its sound starts and ends, and the
// meter fed with the frames kept.
class ClipScan
{
public:
    ClipScan(const WaveFormatEx &format, const AnalysisRequest &request, LoudnessMeter *meter)
        : format_(format), findSilence_(request.findSilence), meter_(meter),
          heldLimit_(kHeldSeconds * format.samplesPerSec * format.blockAlign)
    {
        const double fullScale = format.bitsPerSample == 8 ? 128.0 : 32768.0;
        limit_ = std::pow(10.0, request.silenceDb / 20.0) * fullScale;
    }

    Result add(const std::uint8_t *pcm, int frames);
    Result finish(std::int64_t frames, ClipAnalysis &out);
    // Whether the meter missed frames the clip keeps: it must measure the
    // kept frames again.
    bool remeasure() const { return overflowed_; }

private:
    bool silent(const std::uint8_t *frame) const;
    Result quietRun(const std::uint8_t *pcm, int frames);
    Result loudRun(const std::uint8_t *pcm, int frames, std::int64_t at);
    Result feed(const std::uint8_t *pcm, std::int64_t frames)
    {
        return meter_ && !overflowed_ ? meter_->add(pcm, frames) : ok();
    }
    Result releaseHeld();

    WaveFormatEx format_;
    bool findSilence_;
    LoudnessMeter *meter_;
    double limit_ = 0;
    std::size_t heldLimit_;
    std::int64_t seen_ = 0;
    std::int64_t firstLoud_ = -1;
    std::int64_t loudEnd_ = 0;
    std::vector<std::uint8_t> held_;
    bool overflowed_ = false;
    // A clip silent throughout keeps its first frame.
    std::vector<std::uint8_t> firstFrame_;
};

bool ClipScan::silent(const std::uint8_t *frame) const
{
    for (int c = 0; c < format_.channels; ++c) {
        int value = 0;
        if (format_.bitsPerSample == 8) {
            value = frame[c] - 128;
        } else {
            std::int16_t sample = 0;
            std::memcpy(&sample, frame + 2 * c, sizeof sample);
            value = sample;
        }
        if (std::abs(value) > limit_)
            return false;
    }
    return true;
}

Result ClipScan::add(const std::uint8_t *pcm, int frames)
{
    const int block = format_.blockAlign;
    if (seen_ == 0 && frames > 0)
        firstFrame_.assign(pcm, pcm + block);
    Result r;
    if (!findSilence_) {
        r = feed(pcm, frames);
    } else {
        // Runs of quiet and sounding frames, each handled whole.
        for (int i = 0, j = 0; i < frames && !r.failed(); i = j) {
            const bool quiet = silent(pcm + i * block);
            for (j = i + 1; j < frames && silent(pcm + j * block) == quiet;)
                ++j;
            r = quiet ? quietRun(pcm + i * block, j - i) : loudRun(pcm + i * block, j - i, seen_ + i);
        }
    }
    seen_ += frames;
    return r;
}

Result ClipScan::quietRun(const std::uint8_t *pcm, int frames)
{
    // Leading silence is never measured.
    if (firstLoud_ < 0 || !meter_ || overflowed_)
        return ok();
    held_.insert(held_.end(), pcm, pcm + static_cast<std::ptrdiff_t>(frames) * format_.blockAlign);
    if (held_.size() >= heldLimit_) {
        overflowed_ = true;
        std::vector<std::uint8_t>().swap(held_);
    }
    return ok();
}

Result ClipScan::loudRun(const std::uint8_t *pcm, int frames, std::int64_t at)
{
    if (firstLoud_ < 0)
        firstLoud_ = at;
    loudEnd_ = at + frames;
    if (Result r = releaseHeld(); r.failed())
        return r;
    return feed(pcm, frames);
}

Result ClipScan::releaseHeld()
{
    if (held_.empty())
        return ok();
    Result r = feed(held_.data(), static_cast<std::int64_t>(held_.size() / format_.blockAlign));
    held_.clear();
    return r;
}

Result ClipScan::finish(std::int64_t frames, ClipAnalysis &out)
{
    out.lead = 0;
    out.kept = frames;
    if (findSilence_ && firstLoud_ >= 0) {
        out.lead = firstLoud_;
        out.kept = loudEnd_ - firstLoud_;
    } else if (findSilence_ && frames > 0) {
        out.kept = 1;
        if (Result r = feed(firstFrame_.data(), 1); r.failed())
            return r;
    }
    if (meter_ && !overflowed_) {
        out.loudness = meter_->loudness();
        out.truePeak = meter_->truePeak();
    }
    return ok();
}

} // namespace

namespace {

// What the workers share: the clips to take in turn, and where each one's
// findings go.
struct Analysis
{
    const JoinPlan &plan;
    const AnalysisRequest &request;
    const std::atomic<bool> &cancel;
    const std::function<void(std::int64_t)> &progress;
    AnalysisResult &out;
    std::vector<Result> results;
    std::vector<LoudnessMeter> meters;
    std::atomic<std::size_t> next{0};
    std::atomic<std::int64_t> framesDone{0};
    // Once one clip has failed the analysis, the others stop early.
    std::atomic<bool> failed{false};
};

// Hands every chunk `reader` gives to `take` until the span is read. A
// clip left unfinished because another failed does not matter: the
// analysis reports the failure that stopped it.
template <typename Take>
Result readChunks(Analysis &a, ClipReader &reader, Take &&take)
{
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kChunkFrames) * a.plan.format.blockAlign);
    for (;;) {
        if (a.failed)
            return ok();
        int produced = 0;
        if (Result r = reader.read(buffer.data(), kChunkFrames, produced); r.failed())
            return r;
        if (produced == 0)
            return ok();
        if (Result r = take(buffer.data(), produced); r.failed())
            return r;
    }
}

Result readClip(Analysis &a, ClipReader &reader, ClipScan &scan)
{
    return readChunks(a, reader, [&](const std::uint8_t *pcm, int frames) {
        if (Result r = scan.add(pcm, frames); r.failed())
            return r;
        const std::int64_t total = a.framesDone += frames;
        if (a.progress)
            a.progress(total);
        return ok();
    });
}

// Measures the frames the clip keeps, and nothing else, with a fresh meter.
Result measureKept(Analysis &a, const ClipSpec &clip, LoudnessMeter &meter, ClipAnalysis &out)
{
    const WaveFormatEx &format = a.plan.format;
    ClipReader reader(clip.path, format, sampleAt(clip.mediaStart, a.plan.rate()) + out.lead, out.kept, a.cancel);
    if (Result r = meter.open(format); r.failed())
        return r;
    if (Result r = reader.open(); r.failed())
        return r;
    if (Result r = readChunks(a, reader, [&](const std::uint8_t *pcm, int frames) { return meter.add(pcm, frames); });
        r.failed() || a.failed)
        return r;
    out.loudness = meter.loudness();
    out.truePeak = meter.truePeak();
    return ok();
}

Result analyseClip(Analysis &a, std::size_t i)
{
    const ClipSpec &clip = a.plan.clips[i];
    const int rate = a.plan.rate();
    const std::int64_t frames = sampleAt(clip.stop, rate) - sampleAt(clip.start, rate);
    ClipAnalysis &out = a.out.clips[i];
    if (frames <= 0) {
        out = {0, 0, -HUGE_VAL, 0};
        return ok();
    }
    LoudnessMeter *meter = nullptr;
    if (a.request.measureLoudness) {
        meter = &a.meters[i];
        if (Result r = meter->open(a.plan.format); r.failed())
            return r;
    }
    ClipReader reader(clip.path, a.plan.format, sampleAt(clip.mediaStart, rate), frames, a.cancel);
    if (Result r = reader.open(); r.failed())
        return r;
    ClipScan scan(a.plan.format, a.request, meter);
    if (Result r = readClip(a, reader, scan); r.failed() || a.failed)
        return r;
    if (Result r = scan.finish(frames, out); r.failed() || !scan.remeasure())
        return r;
    return measureKept(a, clip, *meter, out);
}

// Only the pooled loudness needs a clip's meter after its own figures are
// read; a long list would otherwise hold a meter's buffers per clip.
void release(Analysis &a, std::size_t i)
{
    if (!a.request.pooled && i < a.meters.size())
        a.meters[i] = LoudnessMeter();
}

// Every failure names its clip, including the meter's and an exception's.
Result named(Result r, const ClipSpec &clip)
{
    if (r.failed() && r.code != Code::kAbort && r.file.empty()) {
        r.operation = Operation::Read;
        r.file = clip.path;
    }
    return r;
}

void work(Analysis &a)
{
    for (std::size_t i = a.next++; i < a.plan.clips.size() && !a.failed; i = a.next++) {
        Result &r = a.results[i];
        try {
            r = analyseClip(a, i);
            release(a, i);
        } catch (const std::exception &e) {
            r = fail(isOutOfMemory(e) ? Code::kOutOfMemory : Code::kFail, "analysing failed: " + exceptionText(e));
        }
        r = named(std::move(r), a.plan.clips[i]);
        if (r.failed())
            a.failed = true;
    }
}

// A thread the system will not start fails the analysis; those already
// started stop at their next read and are joined.
Result runWorkers(Analysis &a, int count)
{
    std::vector<std::thread> threads;
    Result refused;
    try {
        threads.reserve(static_cast<std::size_t>(count));
        for (int t = 0; t < count; ++t)
            threads.emplace_back([&a] { work(a); });
    } catch (const std::exception &e) {
        a.failed = true;
        refused = fail(Code::kFail, "The analysis failed: a worker thread could not be started (" +
                                        exceptionText(e) + ")");
    }
    for (std::thread &t : threads)
        t.join();
    return refused;
}

} // namespace

Result analyseClips(const JoinPlan &plan, const AnalysisRequest &request, const std::atomic<bool> &cancel,
                    const std::function<void(std::int64_t)> &progress, AnalysisResult &result)
{
    const std::size_t n = plan.clips.size();
    result = {};
    result.clips.assign(n, {});
    Analysis a{plan, request, cancel, progress, result, std::vector<Result>(n), {}};
    if (request.measureLoudness)
        a.meters.resize(n);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int clips = static_cast<int>(std::max<std::size_t>(n, 1));
    const int workers = std::min(request.workers > 0 ? request.workers : cores, clips);
    const Result started = runWorkers(a, workers);
    if (cancel)
        return fail(Code::kAbort);
    if (started.failed())
        return started;
    // The first clip in plan order that failed, whatever order they ran in.
    for (const Result &r : a.results) {
        if (r.failed())
            return r;
    }
    if (request.measureLoudness && request.pooled)
        result.pooledLoudness = LoudnessMeter::pooledLoudness(a.meters);
    return ok();
}

std::vector<GainChoice> loudnessGains(const AnalysisResult &analysis, double targetLufs, bool album,
                                      double ceilingDbtp)
{
    const double ceiling = std::pow(10.0, ceilingDbtp / 20.0);
    const auto toTarget = [&](double lufs) { return std::pow(10.0, (targetLufs - lufs) / 20.0); };
    std::vector<GainChoice> gains(analysis.clips.size());
    if (!album) {
        for (std::size_t i = 0; i < gains.size(); ++i) {
            const ClipAnalysis &clip = analysis.clips[i];
            // Silence has no loudness to match and keeps its level.
            if (!std::isfinite(clip.loudness))
                continue;
            gains[i].gain = toTarget(clip.loudness);
            if (gains[i].gain * clip.truePeak > ceiling)
                gains[i] = {ceiling / clip.truePeak, true};
        }
        return gains;
    }
    if (!std::isfinite(analysis.pooledLoudness))
        return gains;
    double peak = 0;
    for (const ClipAnalysis &clip : analysis.clips)
        peak = std::max(peak, clip.truePeak);
    double gain = toTarget(analysis.pooledLoudness);
    const bool limited = gain * peak > ceiling;
    if (limited)
        gain = ceiling / peak;
    for (std::size_t i = 0; i < gains.size(); ++i)
        gains[i] = {gain, limited && analysis.clips[i].truePeak == peak};
    return gains;
}

} // namespace sonaweld::media
