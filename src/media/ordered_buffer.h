#pragma once

#include "media/media_error.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace sonaweld::media {

// Hands frames that workers write at their offsets, in any order, to one
// reader in order. A writer more than a window ahead of the reader waits
// for room, so memory stays bounded whatever the output's length. The
// writer of the reader's next frame always fits, so the workers and the
// reader cannot wait for each other in a circle.
class OrderedBuffer
{
public:
    struct Chunk
    {
        std::vector<std::uint8_t> data;
        std::int64_t frames = 0;
    };

    OrderedBuffer(std::size_t frameBytes, std::int64_t windowFrames);

    // Any thread. Fails with Code::kAbort once interrupted, and with the
    // reader's failure once it has failed.
    Result put(std::int64_t offset, const std::uint8_t *data, std::int64_t frames);
    // The reader: the chunk at its position, waiting for it; nothing once
    // it has read up to the end set by finishAt().
    std::optional<Chunk> take();
    // Wakes and refuses writers; the reader goes on to the end.
    void interrupt();
    // The reader stops after `frames` frames; chunks beyond are dropped.
    void finishAt(std::int64_t frames);
    // A stop: the reader ends with the chunk it has, writers are refused;
    // returns where the read ends.
    std::int64_t stopAtReader();
    // The reader failed: writers get `failure`, and the reader stops.
    void failReader(Result failure);

    std::int64_t readPosition() const;

private:
    const std::size_t frameBytes_;
    const std::int64_t windowFrames_;
    mutable std::mutex mutex_;
    std::condition_variable roomOrEnd_; // writers wait here
    std::condition_variable arrived_;   // the reader waits here
    std::map<std::int64_t, Chunk> chunks_;
    std::int64_t read_ = 0;
    std::optional<std::int64_t> end_;
    bool interrupted_ = false;
    Result failure_;
};

} // namespace sonaweld::media
