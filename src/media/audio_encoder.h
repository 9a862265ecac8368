#pragma once

#include "media/join_plan.h"
#include "media/media_error.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sonaweld::media {

// Encodes the joined PCM into one of the lossless or lossy formats and muxes
// it with its chapters, tags and cover, all through FFmpeg. One thread calls
// it, with the frames in order.
class AudioEncoder
{
public:
    AudioEncoder();
    ~AudioEncoder(); // closes a file that was not finished, as finish() would
    AudioEncoder(const AudioEncoder &) = delete;
    AudioEncoder &operator=(const AudioEncoder &) = delete;

    // Creates (or overwrites) plan.outputPath for plan.totalFrames() frames
    // of plan.format, in plan.kind() (never Wav), with the plan's chapters,
    // tags and bit rate, and writes its header.
    Result open(const JoinPlan &plan);
    // `frames` interleaved frames of the plan's PCM format, following those
    // before.
    Result encode(const std::uint8_t *data, std::int64_t frames);
    // Drains the encoder, writes the trailer and closes the file. Called
    // with fewer frames encoded than planned (a stop, a failure), it still
    // leaves a file FFmpeg reads; where the format cannot be closed (an MP4
    // whose index cannot be written) the file is removed and the result
    // says so.
    Result finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace sonaweld::media
