#pragma once

#include "media/audio_input.h"
#include "media/wave_format.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace sonaweld::media {

// Plays one source from a media offset for an exact number of output
// frames: decoded, resampled once to the output format, cut at the span's
// end and padded with silence when the file runs short.
class ClipReader
{
public:
    ClipReader(std::string path, const WaveFormatEx &output, std::int64_t skipFrames,
               std::int64_t frames, const std::atomic<bool> &cancel);

    ~ClipReader();
    ClipReader(const ClipReader &) = delete;
    ClipReader &operator=(const ClipReader &) = delete;

    Result open();

    // Fills `out` with up to `maxFrames` frames; returns how many, 0 once the
    // span is complete. A negative code on failure or cancel.
    Result read(std::uint8_t *out, int maxFrames, int &produced);

    std::int64_t remaining() const { return frames_ - delivered_; }

private:
    Result decodeMore();
    Result convert(const AVFrame *frame);
    Result ensureResampler(const AVFrame *frame);
    Result drainResampler();

    std::string path_;
    WaveFormatEx output_;
    AVSampleFormat outputFormat_;
    AVChannelLayout outputLayout_{};
    std::int64_t skipFrames_;
    std::int64_t frames_;
    std::int64_t delivered_ = 0;
    const std::atomic<bool> &cancel_;

    AudioInput input_;
    AVCodecContextUPtr decoder_;
    SwrContextUPtr resampler_;
    AVAudioFifoUPtr fifo_;
    AVPacketUPtr packet_;
    AVFrameUPtr frame_;
    // What the resampler was built for, so a change mid-stream rebuilds it.
    AVChannelLayout resamplerLayout_{};
    int resamplerRate_ = 0;
    int resamplerFormat_ = -1;
    std::vector<std::uint8_t> scratch_;
    bool endOfInput_ = false;
    bool decoderDrained_ = false;
};

} // namespace sonaweld::media
