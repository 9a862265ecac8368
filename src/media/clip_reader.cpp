#include "media/clip_reader.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

namespace sonaweld::media {
namespace {

// The highest rate any recording or converter uses.
constexpr int kMaxInputRate = 768000;

// About this many output frames are made from one slice of a decoded frame.
constexpr std::int64_t kSliceOutputFrames = 1 << 16;

// Lengths are measured as what the decoder yields, so a source that is
// still the measured file falls short of its span by a few samples at
// most: the span's ends are floored to output samples and a resampler
// keeps a few back at its edges. The larger of 100 ms and one codec frame
// also covers a decoder that trims its last frame differently from the
// measurement, yet is far less than a file that was cut or replaced loses.
std::int64_t earlyEndTolerance(const AVCodecContext &decoder, int outputRate)
{
    std::int64_t frame = 0;
    if (decoder.frame_size > 0 && decoder.sample_rate > 0)
        frame = av_rescale_rnd(decoder.frame_size, outputRate, decoder.sample_rate, AV_ROUND_UP);
    return std::max<std::int64_t>(outputRate / 10, frame);
}

} // namespace

ClipReader::ClipReader(std::string path, const WaveFormatEx &output, std::int64_t skipFrames,
                       std::int64_t frames, const std::atomic<bool> &cancel, SharedFaultHook faults,
                       PieceStart piece)
    : path_(std::move(path))
    , output_(output)
    , outputFormat_(output.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16)
    , skipFrames_(skipFrames)
    , frames_(frames)
    , cancel_(cancel)
    , faults_(std::move(faults))
    , piece_(std::move(piece))
{
    av_channel_layout_default(outputLayout_.get(), output.channels);
}

Result ClipReader::open()
{
    if (faults_) {
        if (const int injected = injectedFault(faults_, "ClipReader.Open:" + path_); injected < 0)
            return ffmpegFailure(injected, Operation::Open, path_);
    }
    if (Result r = openAudioInput(path_, input_, &cancel_); r.failed())
        return r;
    // Clips already run in parallel, one per core.
    if (Result r = openDecoder(input_, path_, decoder_, 1); r.failed())
        return r;
    earlyEndTolerance_ = earlyEndTolerance(*decoder_, static_cast<int>(output_.samplesPerSec));
    if (piece_.index) {
        if (Result r = seekToPiece(); r.failed())
            return r;
    }
    fifo_.reset(av_audio_fifo_alloc(outputFormat_, output_.channels, 4096));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!fifo_ || !packet_ || !frame_)
        return fail(Code::kOutOfMemory, Operation::Decode, path_, "out of memory");
    return ok();
}

Result ClipReader::ensureResampler(const AVFrame *frame)
{
    ChannelLayout inLayout;
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0)
        av_channel_layout_default(inLayout.get(), std::max(frame->ch_layout.nb_channels, 1));
    else if (av_channel_layout_copy(inLayout.get(), &frame->ch_layout) < 0)
        return fail(Code::kOutOfMemory, Operation::Convert, path_, "out of memory");

    if (resampler_ && resamplerRate_ == frame->sample_rate && resamplerFormat_ == frame->format
        && av_channel_layout_compare(resamplerLayout_.get(), inLayout.get()) == 0)
        return ok();
    if (resampler_) {
        if (Result r = drainResampler(); r.failed())
            return r;
    }
    if (Result r = makeResampler(inLayout, frame); r.failed())
        return r;
    resamplerLayout_ = std::move(inLayout);
    sliceSamples_ = static_cast<int>(std::clamp<std::int64_t>(
        av_rescale(kSliceOutputFrames, std::max(frame->sample_rate, 1), output_.samplesPerSec), 1, INT_MAX));
    resamplerRate_ = frame->sample_rate;
    resamplerFormat_ = frame->format;
    return ok();
}

Result ClipReader::makeResampler(ChannelLayout &inLayout, const AVFrame *frame)
{
    // A damaged header may claim hundreds of megahertz; building a filter
    // for that takes seconds and then runs out of memory.
    if (frame->sample_rate > kMaxInputRate)
        return fail(Code::kFail, Operation::Convert, path_, "a sample rate of "
                                     + std::to_string(frame->sample_rate) + " Hz is not audio (rates above "
                                     + std::to_string(kMaxInputRate) + " Hz are refused)");
    SwrContext *raw = nullptr;
    int rc = swr_alloc_set_opts2(&raw, outputLayout_.get(), outputFormat_, output_.samplesPerSec,
                                 inLayout.get(), static_cast<AVSampleFormat>(frame->format),
                                 frame->sample_rate, 0, nullptr);
    SwrContextUPtr swr(raw);
    if (rc >= 0 && inLayout.get()->nb_channels == 1 && output_.channels == 2) {
        // Mono plays at full level on both sides rather than the -3 dB
        // centre the default matrix would give.
        const double both[2] = {1.0, 1.0};
        rc = swr_set_matrix(swr.get(), both, 1);
    }
    // Pieces of a long source are cut where the resampler's phase comes
    // round again, which holds with one phase per output sample of the
    // reduced rate ratio (up to 1 << 10 of them): set, not left to defaults.
    if (rc >= 0)
        rc = av_opt_set_int(swr.get(), "exact_rational", 1, 0);
    if (rc >= 0)
        rc = av_opt_set_int(swr.get(), "phase_shift", 10, 0);
    if (rc >= 0)
        rc = swr_init(swr.get());
    if (rc < 0)
        return ffmpegFailure(rc, Operation::Convert, path_);
    resampler_ = std::move(swr);
    return ok();
}

// `in` null flushes the resampler.
Result ClipReader::convert(const std::uint8_t **in, int count)
{
    const int capacity = swr_get_out_samples(resampler_.get(), count);
    if (capacity < 0)
        return ffmpegFailure(capacity, Operation::Convert, path_);
    if (capacity == 0)
        return ok();
    if (int rc = av_audio_fifo_realloc(fifo_.get(), av_audio_fifo_size(fifo_.get()) + capacity); rc < 0)
        return ffmpegFailure(rc, Operation::Convert, path_);
    scratch_.resize(std::max(scratch_.size(), static_cast<size_t>(capacity) * output_.blockAlign));
    std::uint8_t *planes[1] = {scratch_.data()};
    const int converted = swr_convert(resampler_.get(), planes, capacity, in, count);
    if (converted < 0)
        return ffmpegFailure(converted, Operation::Convert, path_);
    void *data[1] = {scratch_.data()};
    if (av_audio_fifo_write(fifo_.get(), data, converted) < converted)
        return fail(Code::kOutOfMemory, Operation::Convert, path_, "out of memory");
    return ok();
}

// The held frame goes to the resampler a slice at a time: a header may
// claim any rate, and a frame at 1 Hz played at 44.1 kHz would otherwise
// become hundreds of megabytes at once. Ordinary rates fit a whole frame
// in one slice.
Result ClipReader::convertHeldSlice()
{
    const AVFrame &frame = *frame_;
    const int count = std::min(frame.nb_samples - heldOffset_, sliceSamples_);
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = std::max(frame.ch_layout.nb_channels, 1);
    const std::int64_t step = static_cast<std::int64_t>(av_get_bytes_per_sample(format)) * (planar ? 1 : channels);
    slicePlanes_.resize(static_cast<size_t>(planar ? channels : 1));
    for (std::size_t p = 0; p < slicePlanes_.size(); ++p)
        slicePlanes_[p] = frame.extended_data[p] + step * heldOffset_;
    if (Result r = convert(slicePlanes_.data(), count); r.failed())
        return r;
    heldOffset_ += count;
    if (heldOffset_ >= frame.nb_samples) {
        av_frame_unref(frame_.get());
        holdingFrame_ = false;
    }
    return ok();
}

Result ClipReader::drainResampler()
{
    // Flushing hands over the samples the filter still holds back.
    Result r = convert(nullptr, 0);
    resampler_.reset();
    return r;
}

// The resampler's output at a whole output second depends only on the
// input from a whole input second on, so a fresh resampler started one
// input second early (its first second of output discarded) gives exactly
// the samples of the one that ran from the start. The decoder starts a few
// packets earlier still, so that its state has settled by then.
Result ClipReader::seekToPiece()
{
    const PacketIndex &index = *piece_.index;
    const std::int64_t outRate = output_.samplesPerSec;
    const std::int64_t inRate = index.sampleRate;
    const std::int64_t first = pieceInputStart(piece_.outputFrom, inRate, outRate);
    const int warmUp = warmUpPackets(*input_.stream->codecpar);
    const std::ptrdiff_t holding = first < 0 ? -1 : index.packetHolding(first);
    const std::ptrdiff_t packet = holding - warmUp;
    if (holding < 0 || index.number[static_cast<std::size_t>(holding)] - warmUp <= 0) {
        // Close to the start: decoding from it costs no more.
        skipFrames_ += piece_.outputFrom;
        piece_.index.reset();
        return ok();
    }
    // The index keeps the packets a piece starts with in one run.
    if (packet < 0 || index.number[static_cast<std::size_t>(holding)] - index.number[static_cast<std::size_t>(packet)] != warmUp)
        return fail(Code::kPieceNotEntered);
    if (faults_ && injectedFault(faults_, "ClipReader.Seek:" + path_) < 0)
        return fail(Code::kPieceNotEntered);
    // What the resampler makes of the input before the piece is dropped.
    skipFrames_ += piece_.outputFrom - first / inRate * outRate;
    pieceInputFrom_ = first;
    pieceFirstPacket_ = index.pos[static_cast<std::size_t>(packet)];
    // A container with its own index (MP4, AVI, a FLAC seek table) finds a
    // time directly. Without one (a plain MP3) a seek by time would read
    // every packet before the place, so the packet's byte is sought.
    AVFormatContext *format = input_.format.get();
    const bool byBytes = avformat_index_get_entries_count(input_.stream) == 0
                         && !(format->iformat->flags & AVFMT_NO_BYTE_SEEK);
    const int rc = byBytes ? av_seek_frame(format, input_.stream->index, pieceFirstPacket_, AVSEEK_FLAG_BYTE)
                           : av_seek_frame(format, input_.stream->index,
                                           index.timestamp[static_cast<std::size_t>(packet)], AVSEEK_FLAG_BACKWARD);
    if (rc < 0)
        return fail(Code::kPieceNotEntered);
    sought_ = true;
    return ok();
}

// The decoder trims the ends of the stream as the demuxer tells it with
// each packet; a demuxer that has sought times packets by estimate and
// would trim elsewhere, so each packet carries what it carried when read
// from the start.
Result ClipReader::trimAsFromStart()
{
    size_t size = 0;
    if (uint8_t *trim = av_packet_get_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, &size); trim && size > 0)
        std::memset(trim, 0, size);
    const std::vector<std::uint8_t> *recorded = piece_.index->trimAt(packet_->pos);
    if (!recorded)
        return ok();
    if (uint8_t *trim = av_packet_get_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
        trim && size == recorded->size()) {
        std::memcpy(trim, recorded->data(), size);
        return ok();
    }
    uint8_t *added = av_packet_new_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, recorded->size());
    if (!added)
        return fail(Code::kOutOfMemory, Operation::Read, path_, "out of memory");
    std::memcpy(added, recorded->data(), recorded->size());
    return ok();
}

// Where a decoded frame falls relative to the piece's first input sample:
// frames before it only warm the decoder up, the one holding it is cut.
Result ClipReader::placeFrame(bool &keep)
{
    const PacketIndex &index = *piece_.index;
    const std::ptrdiff_t packet = index.packetAt(frame_->pkt_pos);
    // A frame the index cannot place, or at a rate the index was not
    // made for (a decoder that doubles it), cannot be put exactly.
    if (packet < 0 || frame_->sample_rate != index.sampleRate)
        return fail(Code::kPieceNotEntered);
    const std::int64_t start = index.firstSample[static_cast<std::size_t>(packet)];
    keep = start + frame_->nb_samples > pieceInputFrom_;
    if (!keep)
        return ok();
    if (start > pieceInputFrom_)
        return fail(Code::kPieceNotEntered); // a gap: samples missing before the piece
    heldOffset_ = static_cast<int>(pieceInputFrom_ - start);
    pieceInputFrom_ = -1;
    return ok();
}

Result ClipReader::decodeMore()
{
    for (;;) {
        if (cancel_.load(std::memory_order_relaxed))
            return fail(Code::kAbort);
        const int got = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (got >= 0) {
            heldOffset_ = 0;
            if (pieceInputFrom_ >= 0) {
                bool keep = false;
                if (Result r = placeFrame(keep); r.failed() || !keep) {
                    av_frame_unref(frame_.get());
                    if (r.failed())
                        return r;
                    continue;
                }
            }
            if (Result r = ensureResampler(frame_.get()); r.failed()) {
                av_frame_unref(frame_.get());
                return r;
            }
            holdingFrame_ = true;
            return convertHeldSlice();
        }
        // A decoder that wanted input after the end has nothing left either.
        if (got == AVERROR_EOF || (got == AVERROR(EAGAIN) && endOfInput_)) {
            decoderDrained_ = true;
            return resampler_ ? drainResampler() : ok();
        }
        // A damaged frame is concealed: the decoder goes on with the next.
        if (isDamagedPacket(got) && got != AVERROR(EINVAL)) {
            noteConcealed(0);
            continue;
        }
        if (got != AVERROR(EAGAIN))
            return ffmpegFailure(got, Operation::Decode, path_);
        if (Result r = feedDecoder(); r.failed())
            return r;
    }
}

Result ClipReader::feedDecoder()
{
    for (;;) {
        // Packets of other streams come first in some files.
        if (cancel_.load(std::memory_order_relaxed))
            return fail(Code::kAbort);
        if (faults_) {
            if (const int injected = injectedFault(faults_, "ClipReader.Read:" + path_); injected < 0)
                return ffmpegFailure(injected, Operation::Read, path_);
        }
        const int rc = av_read_frame(input_.format.get(), packet_.get());
        if (rc < 0) {
            if (cancel_.load(std::memory_order_relaxed))
                return fail(Code::kAbort);
            if (const int failure = readFailure(input_, rc); failure < 0)
                return ffmpegFailure(failure, Operation::Read, path_);
            endOfInput_ = true;
            const int sent = avcodec_send_packet(decoder_.get(), nullptr);
            if (sent < 0 && sent != AVERROR_EOF)
                return ffmpegFailure(sent, Operation::Decode, path_);
            return ok();
        }
        bool ours = packet_->stream_index == input_.stream->index;
        if (ours && pieceFirstPacket_ >= 0) {
            // The seek lands at or before the packet the decoder starts with;
            // one that lands after it cannot give that packet's state.
            if (packet_->pos > pieceFirstPacket_) {
                av_packet_unref(packet_.get());
                return fail(Code::kPieceNotEntered);
            }
            if (packet_->pos < pieceFirstPacket_)
                ours = false;
            else
                pieceFirstPacket_ = -1;
        }
        if (ours && piece_.index) {
            if (Result r = trimAsFromStart(); r.failed()) {
                av_packet_unref(packet_.get());
                return r;
            }
        }
        const int sent = ours ? avcodec_send_packet(decoder_.get(), packet_.get()) : 0;
        const std::int64_t packetDuration = packet_->duration;
        av_packet_unref(packet_.get());
        if (!ours)
            continue;
        // A damaged packet is dropped and the decoder carries on after it, so
        // a garbled stretch plays what still decodes.
        if (isDamagedPacket(sent))
            noteConcealed(packetDuration);
        else if (sent < 0)
            return ffmpegFailure(sent, Operation::Decode, path_);
        return ok();
    }
}

void ClipReader::noteConcealed(std::int64_t packetDuration)
{
    const int rate = static_cast<int>(output_.samplesPerSec);
    if (packetDuration > 0)
        concealedFrames_ += av_rescale_q_rnd(packetDuration, input_.stream->time_base, AVRational{1, rate},
                                             AV_ROUND_UP);
    else
        concealedFrames_ += earlyEndTolerance_;
}

Result ClipReader::endedEarly() const
{
    // A file measured from its packets counts the damaged ones its decoder
    // drops; what they would have held is no sign of a shorter file.
    const std::int64_t missing = frames_ - delivered_;
    if (missing <= earlyEndTolerance_ + concealedFrames_)
        return ok();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f",
                  static_cast<double>(missing) / static_cast<double>(output_.samplesPerSec));
    return fail(Code::kFail, Operation::None, path_, std::string(" ended ") + seconds
                                 + " seconds early: the file is shorter than when it was measured");
}

Result ClipReader::read(std::uint8_t *out, int maxFrames, int &produced)
{
    produced = 0;
    const int want = static_cast<int>(std::min<std::int64_t>(maxFrames, remaining()));
    while (produced < want) {
        if (av_audio_fifo_size(fifo_.get()) == 0 && holdingFrame_) {
            if (Result r = convertHeldSlice(); r.failed())
                return r;
            continue;
        }
        if (av_audio_fifo_size(fifo_.get()) == 0 && !decoderDrained_) {
            if (Result r = decodeMore(); r.failed())
                return r;
            continue;
        }
        const int available = av_audio_fifo_size(fifo_.get());
        if (skipFrames_ > 0 && available > 0) {
            const int drop = static_cast<int>(std::min<std::int64_t>(skipFrames_, available));
            av_audio_fifo_drain(fifo_.get(), drop);
            skipFrames_ -= drop;
            continue;
        }
        if (available == 0) {
            // The source has ended before its span. What it held is
            // delivered before the shortfall is judged.
            if (produced > 0)
                break;
            if (Result r = endedEarly(); r.failed())
                return r;
            std::memset(out, silenceByte(output_), static_cast<size_t>(want) * output_.blockAlign);
            produced = want;
            break;
        }
        void *dst[1] = {out + static_cast<std::int64_t>(produced) * output_.blockAlign};
        const int n = av_audio_fifo_read(fifo_.get(), dst, std::min(available, want - produced));
        if (n < 0)
            return ffmpegFailure(n, Operation::Convert, path_);
        produced += n;
    }
    delivered_ += produced;
    return ok();
}

} // namespace sonaweld::media
