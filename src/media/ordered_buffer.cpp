#include "media/ordered_buffer.h"

namespace sonaweld::media {

OrderedBuffer::OrderedBuffer(std::size_t frameBytes, std::int64_t windowFrames)
    : frameBytes_(frameBytes)
    , windowFrames_(windowFrames)
{
}

Result OrderedBuffer::put(std::int64_t offset, const std::uint8_t *data, std::int64_t frames)
{
    // Copied before waiting: the copy is the writer's own time, not the
    // reader's.
    Chunk chunk{std::vector<std::uint8_t>(data, data + frames * static_cast<std::int64_t>(frameBytes_)), frames};
    std::unique_lock lock(mutex_);
    roomOrEnd_.wait(lock, [&] { return interrupted_ || failure_.failed() || offset < read_ + windowFrames_; });
    if (failure_.failed())
        return failure_;
    if (interrupted_)
        return fail(Code::kAbort);
    chunks_.emplace(offset, std::move(chunk));
    if (offset == read_)
        arrived_.notify_one();
    return ok();
}

std::optional<OrderedBuffer::Chunk> OrderedBuffer::take()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (failure_.failed() || (end_ && read_ >= *end_))
            return std::nullopt;
        if (!chunks_.empty() && chunks_.begin()->first == read_)
            break;
        arrived_.wait(lock);
    }
    Chunk chunk = std::move(chunks_.begin()->second);
    chunks_.erase(chunks_.begin());
    // The end falls between writes (the written prefix counts whole ones);
    // a chunk across it is cut all the same rather than read past the end.
    if (end_ && read_ + chunk.frames > *end_) {
        chunk.frames = *end_ - read_;
        chunk.data.resize(static_cast<std::size_t>(chunk.frames) * frameBytes_);
    }
    read_ += chunk.frames;
    lock.unlock();
    roomOrEnd_.notify_all();
    return chunk;
}

void OrderedBuffer::interrupt()
{
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    roomOrEnd_.notify_all();
}

void OrderedBuffer::finishAt(std::int64_t frames)
{
    {
        std::lock_guard lock(mutex_);
        end_ = frames;
        chunks_.erase(chunks_.lower_bound(frames), chunks_.end());
    }
    arrived_.notify_all();
}

std::int64_t OrderedBuffer::stopAtReader()
{
    std::int64_t end;
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        end = read_;
        end_ = end;
        chunks_.clear();
    }
    roomOrEnd_.notify_all();
    arrived_.notify_all();
    return end;
}

void OrderedBuffer::failReader(Result failure)
{
    {
        std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
        chunks_.clear();
    }
    roomOrEnd_.notify_all();
    arrived_.notify_all();
}

std::int64_t OrderedBuffer::readPosition() const
{
    std::lock_guard lock(mutex_);
    return read_;
}

} // namespace sonaweld::media
