#include "media/output_file.h"

#include <mutex>

namespace sonaweld::media {

OutputFile::OutputFile(const std::vector<Segment> &segments)
    : segments_(segments)
    , progress_(std::make_unique<std::atomic<std::int64_t>[]>(segments.size()))
{
    for (std::size_t i = 0; i < segments.size(); ++i)
        progress_[i].store(0);
}

Result OutputFile::create(const std::string &path, const WaveFormatEx &format, std::uint64_t rf64Threshold)
{
    return file_.create(path, format, totalFrames(), rf64Threshold);
}

Result OutputFile::write(std::size_t index, std::int64_t at, const std::uint8_t *data, std::int64_t frames)
{
    std::shared_lock gate(gate_);
    if (closed_)
        return fail(Code::kAbort);
    if (Result r = file_.writeFrames(segments_[index].begin + at, data, frames); r.failed())
        return r;
    progress_[index].fetch_add(frames, std::memory_order_release);
    return ok();
}

Result OutputFile::commit()
{
    return file_.commitPrefix(writtenPrefix());
}

// The prefix is counted behind the shut gate: a writer that got in before
// it is in both the count and the file, one that comes later in neither.
Result OutputFile::close()
{
    std::unique_lock gate(gate_);
    closed_ = true;
    const std::int64_t frames = writtenPrefix();
    closedFrames_.store(frames);
    return file_.finish(frames);
}

std::int64_t OutputFile::framesDone() const
{
    const std::int64_t closed = closedFrames_.load();
    return closed >= 0 ? closed : writtenPrefix();
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
