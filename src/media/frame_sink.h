#pragma once

#include "media/media_error.h"

#include <cstdint>

namespace sonaweld::media {

// Where a run's workers put the joined frames: at their offsets, from any
// thread, each frame once. A WAV file takes them where they land; an
// encoded file takes them in order through a bounded buffer, so a writer
// far ahead of the encoder waits for room.
class FrameSink
{
public:
    virtual ~FrameSink() = default;

    virtual Result writeFrames(std::int64_t frameOffset, const std::uint8_t *data, std::int64_t frames) = 0;
    // The first `frames` frames are all written: a WAV file's header comes
    // up to them, so a reader finds them even if the program dies.
    virtual Result commitPrefix(std::int64_t frames) = 0;
    // Of the first `written` frames, those the file holds or will hold
    // without further work: an encoder may still be on its way to them.
    virtual std::int64_t framesKept(std::int64_t written) const { return written; }
    // Where a stopped run's file ends, given the frames written: a stop
    // does not wait for an encoder to catch up with the writers.
    virtual std::int64_t stopPoint(std::int64_t written) { return written; }
    // Wakes writers waiting for room, which then fail with Code::kAbort;
    // called when the run closes, before finish().
    virtual void interrupt() {}
    // Ends the file after its first `frames` frames and closes it; a
    // failure to close is a failure to write.
    virtual Result finish(std::int64_t frames) = 0;
};

} // namespace sonaweld::media
