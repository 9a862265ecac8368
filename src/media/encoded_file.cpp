#include "media/encoded_file.h"

#include <algorithm>

namespace sonaweld::media {

EncodedFile::EncodedFile(const WaveFormatEx &format, std::int64_t windowFrames)
    : buffer_(format.blockAlign, windowFrames)
{
}

// A file created but never finished (the run could not start) is still
// closed as one FFmpeg can read.
EncodedFile::~EncodedFile()
{
    if (thread_.joinable() && !finished_)
        finish(buffer_.readPosition());
}

Result EncodedFile::create(const JoinPlan &plan)
{
    if (Result r = encoder_.open(plan); r.failed())
        return r;
    thread_ = std::thread([this] { encodeInOrder(); });
    return ok();
}

Result EncodedFile::writeFrames(std::int64_t frameOffset, const std::uint8_t *data, std::int64_t frames)
{
    return buffer_.put(frameOffset, data, frames);
}

// An encoder that fails (a full disk) fails every writer after it, so the
// run ends with the encoder's reason rather than a later symptom.
void EncodedFile::encodeInOrder()
{
    try {
        while (std::optional<OrderedBuffer::Chunk> chunk = buffer_.take()) {
            if (Result r = encoder_.encode(chunk->data.data(), chunk->frames); r.failed()) {
                encodeFailure_ = r;
                buffer_.failReader(std::move(r));
                return;
            }
        }
    } catch (const std::exception &e) {
        encodeFailure_ = fail(isOutOfMemory(e) ? Code::kOutOfMemory : Code::kUnexpected,
                              "The join failed: " + exceptionText(e) + " while encoding");
        buffer_.failReader(encodeFailure_);
    } catch (...) {
        encodeFailure_ = fail(Code::kUnexpected, "The join failed: an unexpected error while encoding");
        buffer_.failReader(encodeFailure_);
    }
}

std::int64_t EncodedFile::framesKept(std::int64_t written) const
{
    return std::min(written, buffer_.readPosition());
}

std::int64_t EncodedFile::stopPoint(std::int64_t written)
{
    return std::min(written, buffer_.stopAtReader());
}

Result EncodedFile::finish(std::int64_t frames)
{
    finished_ = true;
    buffer_.finishAt(frames);
    if (thread_.joinable())
        thread_.join();
    // The file is closed after a failure too: what was encoded stays
    // readable, or where it cannot be (an MP4 without its index), the
    // close says what became of it.
    const Result closed = encoder_.finish();
    return encodeFailure_.failed() && !closed.failed() ? encodeFailure_ : closed;
}

} // namespace sonaweld::media
