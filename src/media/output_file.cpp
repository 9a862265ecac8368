#include "media/output_file.h"

#include "media/encoded_file.h"

#include <mutex>

namespace sonaweld::media {

OutputFile::OutputFile(const std::vector<Segment> &segments)
    : segments_(segments)
    , progress_(std::make_unique<std::atomic<std::int64_t>[]>(segments.size()))
{
    for (std::size_t i = 0; i < segments.size(); ++i)
        progress_[i].store(0);
}

Result OutputFile::create(const JoinPlan &plan, std::uint64_t rf64Threshold, std::int64_t windowFrames)
{
    if (plan.kind() == OutputKind::Wav) {
        auto wav = std::make_unique<WavFile>();
        wav->setMarkers(plan.chapters);
        Result r = wav->create(plan.outputPath, plan.format, totalFrames(), rf64Threshold);
        file_ = std::move(wav);
        return r;
    }
    auto encoded = std::make_unique<EncodedFile>(plan.format, windowFrames);
    if (Result r = encoded->create(plan); r.failed())
        return r;
    file_ = std::move(encoded);
    return ok();
}

Result OutputFile::write(std::size_t index, std::int64_t at, const std::uint8_t *data, std::int64_t frames)
{
    std::shared_lock gate(gate_);
    if (closed_)
        return fail(Code::kAbort);
    if (Result r = file_->writeFrames(segments_[index].begin + at, data, frames); r.failed())
        return r;
    progress_[index].fetch_add(frames, std::memory_order_release);
    return ok();
}

Result OutputFile::commit()
{
    return file_ ? file_->commitPrefix(writtenPrefix()) : ok();
}

void OutputFile::interrupt()
{
    if (file_)
        file_->interrupt();
}

// The prefix is counted behind the shut gate: a writer that got in before
// it is in both the count and the file, one that comes later in neither.
Result OutputFile::close(bool stopped)
{
    // A writer waiting for an encoder's room holds the gate; woken, it
    // gives up and lets the close in.
    interrupt();
    std::unique_lock gate(gate_);
    closed_ = true;
    std::int64_t frames = writtenPrefix();
    if (stopped && file_)
        frames = file_->stopPoint(frames);
    closedFrames_.store(frames);
    return file_ ? file_->finish(frames) : ok();
}

std::int64_t OutputFile::framesDone() const
{
    const std::int64_t closed = closedFrames_.load();
    if (closed >= 0)
        return closed;
    const std::int64_t written = writtenPrefix();
    return file_ ? file_->framesKept(written) : written;
}

std::int64_t OutputFile::writtenPrefix() const
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

} // namespace sonaweld::media
