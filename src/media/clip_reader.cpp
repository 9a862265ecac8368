#include "media/clip_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sonaweld::media {
namespace {

void fillSilence(std::uint8_t *out, std::int64_t bytes, int bits)
{
    std::memset(out, bits == 8 ? 0x80 : 0x00, static_cast<size_t>(bytes));
}

} // namespace

ClipReader::ClipReader(std::string path, const WaveFormatEx &output, std::int64_t skipFrames,
                       std::int64_t frames, const std::atomic<bool> &cancel)
    : path_(std::move(path))
    , output_(output)
    , outputFormat_(output.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16)
    , skipFrames_(skipFrames)
    , frames_(frames)
    , cancel_(cancel)
{
    av_channel_layout_default(&outputLayout_, output.channels);
}

ClipReader::~ClipReader()
{
    av_channel_layout_uninit(&outputLayout_);
    av_channel_layout_uninit(&resamplerLayout_);
}

Result ClipReader::open()
{
    if (Result r = openAudioInput(path_, input_, &cancel_); r.failed())
        return r;
    decoder_.reset(avcodec_alloc_context3(input_.codec));
    if (!decoder_)
        return fail(Code::kOutOfMemory, "Cannot decode " + path_ + ": out of memory");
    if (int rc = avcodec_parameters_to_context(decoder_.get(), input_.stream->codecpar); rc < 0)
        return ffmpegFailure(rc, "Cannot decode " + path_);
    decoder_->pkt_timebase = input_.stream->time_base;
    // Clips already run in parallel, one per core.
    decoder_->thread_count = 1;
    if (int rc = avcodec_open2(decoder_.get(), input_.codec, nullptr); rc < 0)
        return ffmpegFailure(rc, "Cannot decode " + path_);
    fifo_.reset(av_audio_fifo_alloc(outputFormat_, output_.channels, 4096));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!fifo_ || !packet_ || !frame_)
        return fail(Code::kOutOfMemory, "Cannot decode " + path_ + ": out of memory");
    return ok();
}

Result ClipReader::ensureResampler(const AVFrame *frame)
{
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&inLayout, std::max(frame->ch_layout.nb_channels, 1));
    else if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0)
        return fail(Code::kOutOfMemory, "Cannot convert " + path_ + ": out of memory");

    const bool same = resampler_ && resamplerRate_ == frame->sample_rate
                      && resamplerFormat_ == frame->format
                      && av_channel_layout_compare(&resamplerLayout_, &inLayout) == 0;
    if (same) {
        av_channel_layout_uninit(&inLayout);
        return ok();
    }
    if (resampler_) {
        if (Result r = drainResampler(); r.failed()) {
            av_channel_layout_uninit(&inLayout);
            return r;
        }
    }

    SwrContext *raw = nullptr;
    int rc = swr_alloc_set_opts2(&raw, &outputLayout_, outputFormat_, output_.samplesPerSec,
                                 &inLayout, static_cast<AVSampleFormat>(frame->format),
                                 frame->sample_rate, 0, nullptr);
    SwrContextUPtr swr(raw);
    if (rc >= 0 && inLayout.nb_channels == 1 && output_.channels == 2) {
        // Mono plays at full level on both sides rather than the -3 dB
        // centre the default matrix would give.
        const double both[2] = {1.0, 1.0};
        rc = swr_set_matrix(swr.get(), both, 1);
    }
    if (rc >= 0)
        rc = swr_init(swr.get());
    if (rc < 0) {
        av_channel_layout_uninit(&inLayout);
        return ffmpegFailure(rc, "Cannot convert " + path_);
    }
    resampler_ = std::move(swr);
    av_channel_layout_uninit(&resamplerLayout_);
    resamplerLayout_ = inLayout;
    resamplerRate_ = frame->sample_rate;
    resamplerFormat_ = frame->format;
    return ok();
}

Result ClipReader::convert(const AVFrame *frame)
{
    const int capacity = swr_get_out_samples(resampler_.get(), frame ? frame->nb_samples : 0);
    if (capacity < 0)
        return ffmpegFailure(capacity, "Cannot convert " + path_);
    if (capacity == 0)
        return ok();
    if (int rc = av_audio_fifo_realloc(fifo_.get(), av_audio_fifo_size(fifo_.get()) + capacity); rc < 0)
        return ffmpegFailure(rc, "Cannot convert " + path_);
    scratch_.resize(std::max(scratch_.size(), static_cast<size_t>(capacity) * output_.blockAlign));
    std::uint8_t *planes[1] = {scratch_.data()};
    const int converted = swr_convert(resampler_.get(), planes, capacity,
                                      frame ? const_cast<const std::uint8_t **>(frame->extended_data) : nullptr,
                                      frame ? frame->nb_samples : 0);
    if (converted < 0)
        return ffmpegFailure(converted, "Cannot convert " + path_);
    void *data[1] = {scratch_.data()};
    if (av_audio_fifo_write(fifo_.get(), data, converted) < converted)
        return fail(Code::kOutOfMemory, "Cannot convert " + path_ + ": out of memory");
    return ok();
}

Result ClipReader::drainResampler()
{
    // Flushing hands over the samples the filter still holds back.
    Result r = convert(nullptr);
    resampler_.reset();
    return r;
}

Result ClipReader::decodeMore()
{
    for (;;) {
        if (cancel_.load(std::memory_order_relaxed))
            return fail(Code::kAbort);
        const int got = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (got >= 0) {
            Result r = ensureResampler(frame_.get());
            if (r)
                r = convert(frame_.get());
            av_frame_unref(frame_.get());
            return r;
        }
        if (got == AVERROR_EOF || (got < 0 && endOfInput_)) {
            decoderDrained_ = true;
            return resampler_ ? drainResampler() : ok();
        }
        // EAGAIN wants input; any other error is a broken frame, concealed by
        // going on with the next packet.
        const int rc = av_read_frame(input_.format.get(), packet_.get());
        if (rc < 0) {
            if (cancel_.load(std::memory_order_relaxed))
                return fail(Code::kAbort);
            // End of file, or a read error that ends the source early: what
            // was decoded plays, and the rest of the span is silence.
            endOfInput_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            continue;
        }
        if (packet_->stream_index == input_.stream->index) {
            // A damaged packet is dropped; the decoder carries on after it.
            avcodec_send_packet(decoder_.get(), packet_.get());
        }
        av_packet_unref(packet_.get());
    }
}

Result ClipReader::read(std::uint8_t *out, int maxFrames, int &produced)
{
    produced = 0;
    const int want = static_cast<int>(std::min<std::int64_t>(maxFrames, remaining()));
    while (produced < want) {
        if (av_audio_fifo_size(fifo_.get()) == 0 && !decoderDrained_) {
            if (Result r = decodeMore(); r.failed())
                return r;
            continue;
        }
        int available = av_audio_fifo_size(fifo_.get());
        if (skipFrames_ > 0 && available > 0) {
            const int drop = static_cast<int>(std::min<std::int64_t>(skipFrames_, available));
            av_audio_fifo_drain(fifo_.get(), drop);
            skipFrames_ -= drop;
            continue;
        }
        if (available == 0) {
            // The source ended before its span: pad with silence.
            fillSilence(out + static_cast<std::int64_t>(produced) * output_.blockAlign,
                        static_cast<std::int64_t>(want - produced) * output_.blockAlign,
                        output_.bitsPerSample);
            produced = want;
            break;
        }
        void *dst[1] = {out + static_cast<std::int64_t>(produced) * output_.blockAlign};
        const int n = av_audio_fifo_read(fifo_.get(), dst, std::min(available, want - produced));
        if (n < 0)
            return ffmpegFailure(n, "Cannot convert " + path_);
        produced += n;
    }
    delivered_ += produced;
    return ok();
}

} // namespace sonaweld::media
