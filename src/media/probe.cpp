#include "media/probe.h"

#include "media/audio_input.h"

#include <cstring>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace sonaweld::media {
namespace {

constexpr AVRational kReferenceTimeBase{1, static_cast<int>(kUnitsPerSecond)};

// PCM sizes, FLAC's sample count and Ogg's last granule position give the
// length exactly; every other header figure is at best an estimate.
bool headerIsExact(const AudioInput &in)
{
    const AVCodecParameters *par = in.stream->codecpar;
    if (in.stream->duration == AV_NOPTS_VALUE || in.stream->duration <= 0)
        return false;
    return av_get_exact_bits_per_sample(par->codec_id) > 0 || par->codec_id == AV_CODEC_ID_FLAC
           || std::strcmp(in.format->iformat->name, "ogg") == 0;
}

// Opus decoders drop the pre-skip of the stream header by themselves when
// the container does not say so on the first packet.
std::int64_t opusPreSkip(const AVCodecParameters *par)
{
    if (par->codec_id != AV_CODEC_ID_OPUS || par->extradata_size < 12)
        return 0;
    return AV_RL16(par->extradata + 10);
}

// Some containers (Vorbis in Matroska) give packets no duration; then the
// only exact figure is what the decoder yields.
Result decodedLength(AudioInput &in, const std::string &path, ReferenceTime &duration,
                     const std::atomic<bool> *cancel)
{
    if (int rc = av_seek_frame(in.format.get(), in.stream->index, 0, AVSEEK_FLAG_BACKWARD); rc < 0) {
        AudioInput reopened;
        if (Result r = openAudioInput(path, reopened, cancel); r.failed())
            return r;
        in = std::move(reopened);
    }
    AVCodecContextUPtr decoder(avcodec_alloc_context3(in.codec));
    AVPacketUPtr packet(av_packet_alloc());
    AVFrameUPtr frame(av_frame_alloc());
    if (!decoder || !packet || !frame)
        return fail(Code::kOutOfMemory, "Cannot read " + path + ": out of memory");
    if (int rc = avcodec_parameters_to_context(decoder.get(), in.stream->codecpar); rc < 0)
        return ffmpegFailure(rc, "Cannot decode " + path);
    decoder->pkt_timebase = in.stream->time_base;
    if (int rc = avcodec_open2(decoder.get(), in.codec, nullptr); rc < 0)
        return ffmpegFailure(rc, "Cannot decode " + path);

    std::int64_t samples = 0;
    int rate = 0;
    const auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            samples += frame->nb_samples;
            rate = frame->sample_rate;
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(in.format.get(), packet.get()) >= 0) {
        if (packet->stream_index == in.stream->index) {
            avcodec_send_packet(decoder.get(), packet.get());
            drain();
        }
        av_packet_unref(packet.get());
        if (cancel && cancel->load())
            return fail(Code::kAbort, "Measuring " + path + " was cancelled");
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    if (rate <= 0)
        return fail(Code::kNoAudio, path + " holds no audio that can be decoded");
    duration = av_rescale(samples, kUnitsPerSecond, rate);
    return ok();
}

} // namespace

Result probeDuration(const std::string &path, ReferenceTime &duration, const std::atomic<bool> *cancel)
{
    AudioInput in;
    if (Result r = openAudioInput(path, in, cancel); r.failed())
        return r;

    const AVCodecParameters *par = in.stream->codecpar;
    if (headerIsExact(in)) {
        // An Ogg granule position counts the Opus pre-skip, which decoding drops.
        std::int64_t ticks = in.stream->duration;
        if (const std::int64_t preSkip = opusPreSkip(par); preSkip > 0)
            ticks -= av_rescale_q(preSkip, AVRational{1, 48000}, in.stream->time_base);
        duration = av_rescale_q(ticks, in.stream->time_base, kReferenceTimeBase);
        return ok();
    }
    // Vorbis frame lengths depend on the previous frame; outside Ogg no
    // container records them reliably.
    if (par->codec_id == AV_CODEC_ID_VORBIS)
        return decodedLength(in, path, duration, cancel);

    AVPacketUPtr packet(av_packet_alloc());
    if (!packet)
        return fail(Code::kOutOfMemory, "Cannot read " + path + ": out of memory");

    std::int64_t ticks = 0;
    std::int64_t trimmedSamples = 0;
    bool firstPacket = true;
    bool everyPacketTimed = true;
    bool anyPacket = false;
    int rc = 0;
    while ((rc = av_read_frame(in.format.get(), packet.get())) >= 0) {
        if (packet->stream_index == in.stream->index) {
            anyPacket = true;
            if (packet->duration > 0)
                ticks += packet->duration;
            else
                everyPacketTimed = false;
            size_t size = 0;
            if (const uint8_t *skip = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
                skip && size >= 8) {
                trimmedSamples += AV_RL32(skip) + AV_RL32(skip + 4);
                firstPacket = false;
            } else if (firstPacket) {
                trimmedSamples += opusPreSkip(in.stream->codecpar);
                firstPacket = false;
            }
        }
        av_packet_unref(packet.get());
    }
    if (rc != AVERROR_EOF && !anyPacket)
        return ffmpegFailure(rc, "Cannot read " + path);
    if (cancel && cancel->load())
        return fail(Code::kAbort, "Measuring " + path + " was cancelled");

    if (anyPacket && everyPacketTimed) {
        const int rate = in.stream->codecpar->sample_rate;
        ReferenceTime length = av_rescale_q(ticks, in.stream->time_base, kReferenceTimeBase);
        if (rate > 0)
            length -= av_rescale(trimmedSamples, kUnitsPerSecond, rate);
        duration = length > 0 ? length : 0;
        return ok();
    }
    if (anyPacket)
        return decodedLength(in, path, duration, cancel);
    return fail(Code::kNoAudio, path + " holds no audio whose length can be measured");
}

} // namespace sonaweld::media
