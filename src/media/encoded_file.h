#pragma once

#include "media/audio_encoder.h"
#include "media/frame_sink.h"
#include "media/join_plan.h"
#include "media/ordered_buffer.h"

#include <thread>

namespace sonaweld::media {

// An encoded output file: the workers' frames pass through a bounded
// ordered buffer to an encoder on its own thread, so decoding stays on
// every core while the encoder takes the samples in order.
class EncodedFile final : public FrameSink
{
public:
    EncodedFile(const WaveFormatEx &format, std::int64_t windowFrames);
    ~EncodedFile() override;

    // Creates the file and writes its header; starts the encoder's thread.
    Result create(const JoinPlan &plan);

    Result writeFrames(std::int64_t frameOffset, const std::uint8_t *data, std::int64_t frames) override;
    // The encoder keeps what it took; there is no header to bring up.
    Result commitPrefix(std::int64_t) override { return ok(); }
    std::int64_t framesKept(std::int64_t written) const override;
    std::int64_t stopPoint(std::int64_t written) override;
    void interrupt() override { buffer_.interrupt(); }
    Result finish(std::int64_t frames) override;

private:
    void encodeInOrder();

    OrderedBuffer buffer_;
    AudioEncoder encoder_;
    Result encodeFailure_; // written by the encoder's thread, read after joining it
    std::thread thread_;
    bool finished_ = false;
};

} // namespace sonaweld::media
