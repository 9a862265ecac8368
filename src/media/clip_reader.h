#pragma once

#include "media/audio_input.h"
#include "media/fault_hook.h"
#include "media/ffmpeg_ptr.h"
#include "media/packet_index.h"
#include "media/wave_format.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sonaweld::media {

// Where a piece of a long source starts when it is decoded apart from the
// rest: a whole number of output seconds from the source's start.
struct PieceStart
{
    std::shared_ptr<const PacketIndex> index;
    std::int64_t outputFrom = 0;
};

// Plays one source from a media offset for an exact number of output
// frames: decoded, resampled once to the output format and cut at the
// span's end. A source a few samples short of its span is padded with
// silence; one that ends clearly early has changed since it was measured,
// and reading it fails.
class ClipReader
{
public:
    // With `piece`, the reader seeks to a little before the piece and
    // decodes and converts from there so that its samples are exactly those
    // a reader from the start would give at that place. Where the source
    // cannot be entered as its index says, open() or read() fails with
    // Code::kPieceNotEntered before any sample is delivered.
    ClipReader(std::string path, const WaveFormatEx &output, std::int64_t skipFrames,
               std::int64_t frames, const std::atomic<bool> &cancel, SharedFaultHook faults = {},
               PieceStart piece = {});

    const std::string &path() const { return path_; }
    // Whether open() entered the source in the middle, as a piece.
    bool sought() const { return sought_; }

    ClipReader(const ClipReader &) = delete;
    ClipReader &operator=(const ClipReader &) = delete;

    Result open();

    // Fills `out` with up to `maxFrames` frames; returns how many, 0 once the
    // span is complete. Fewer than asked only when the source has ended
    // early: what it held comes first, the failure with the next call. A
    // negative code on failure or cancel.
    Result read(std::uint8_t *out, int maxFrames, int &produced);

    std::int64_t remaining() const { return frames_ - delivered_; }

private:
    Result seekToPiece();
    Result trimAsFromStart();
    Result placeFrame(bool &keep);
    Result decodeMore();
    Result feedDecoder();
    Result convert(const std::uint8_t **in, int count);
    Result convertHeldSlice();
    Result ensureResampler(const AVFrame *frame);
    Result makeResampler(ChannelLayout &inLayout, const AVFrame *frame);
    Result drainResampler();
    void noteConcealed(std::int64_t packetDuration);
    Result endedEarly() const;

    std::string path_;
    WaveFormatEx output_;
    AVSampleFormat outputFormat_;
    ChannelLayout outputLayout_;
    std::int64_t skipFrames_;
    std::int64_t frames_;
    std::int64_t delivered_ = 0;
    // How far short of its span the source may end and still be padded.
    std::int64_t earlyEndTolerance_ = 0;
    // Output frames that damaged packets would have filled.
    std::int64_t concealedFrames_ = 0;
    const std::atomic<bool> &cancel_;
    SharedFaultHook faults_;

    AudioInput input_;
    AVCodecContextUPtr decoder_;
    SwrContextUPtr resampler_;
    AVAudioFifoUPtr fifo_;
    AVPacketUPtr packet_;
    AVFrameUPtr frame_;
    // What the resampler was built for, so a change mid-stream rebuilds it.
    ChannelLayout resamplerLayout_;
    int resamplerRate_ = 0;
    int resamplerFormat_ = -1;
    std::vector<std::uint8_t> scratch_;
    // The decoded frame being converted, from sample heldOffset_ on.
    bool holdingFrame_ = false;
    int heldOffset_ = 0;
    int sliceSamples_ = INT_MAX;
    std::vector<const std::uint8_t *> slicePlanes_;
    PieceStart piece_;
    // Until the piece's first input sample is reached: that sample, and
    // the packet the demuxer must come to before any is decoded.
    std::int64_t pieceInputFrom_ = -1;
    std::int64_t pieceFirstPacket_ = -1;
    bool sought_ = false;
    bool endOfInput_ = false;
    bool decoderDrained_ = false;
};

} // namespace sonaweld::media
