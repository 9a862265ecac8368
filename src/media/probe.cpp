#include "media/probe.h"

#include "media/audio_input.h"
#include "media/packet_index.h"
#include "media/packet_scan.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace sonaweld::media {
namespace {

// How a file's length is found: by the cheapest route that is exact for it.
enum class Method {
    PcmBytes,        // every byte is audio: count the bytes that are there
    OggGranule,      // the last granule position, unless the file is chained (Opus)
    PacketDurations, // the container times every packet to the sample
    Decode,          // nothing cheaper can be trusted
};

// Rounded up, so that a file joined at its own rate keeps its last sample:
// the export's floor(t * rate / 10^7) then gives back exactly `samples`.
ReferenceTime unitsOf(std::int64_t samples, int rate)
{
    return av_rescale_rnd(samples, kUnitsPerSecond, rate, AV_ROUND_UP);
}

bool isOgg(const AudioInput &in)
{
    return std::strcmp(in.format->iformat->name, "ogg") == 0;
}

bool isRawAac(const AudioInput &in)
{
    const char *name = in.format->iformat->name;
    return std::strcmp(name, "aac") == 0 || std::strcmp(name, "loas") == 0;
}

bool isDsd(AVCodecID codec)
{
    return codec == AV_CODEC_ID_DSD_LSBF || codec == AV_CODEC_ID_DSD_MSBF || codec == AV_CODEC_ID_DSD_LSBF_PLANAR
           || codec == AV_CODEC_ID_DSD_MSBF_PLANAR;
}

// Plain PCM only: ADPCM formats with an exact bit count may still carry
// block headers that are no samples. DSD counts too: its decoder makes one
// sample of every byte of a channel. A DSF file whose last block is not
// padded out is read short there, yet still timed as a whole block.
bool isPlainPcm(const AVCodecParameters *par)
{
    const bool pcm = par->codec_id >= AV_CODEC_ID_FIRST_AUDIO && par->codec_id < AV_CODEC_ID_ADPCM_IMA_QT;
    return (pcm || isDsd(par->codec_id)) && av_get_exact_bits_per_sample(par->codec_id) > 0
           && par->ch_layout.nb_channels > 0;
}

Method chooseMethod(const AudioInput &in)
{
    const AVCodecParameters *par = in.stream->codecpar;
    if (isPlainPcm(par))
        return Method::PcmBytes;
    // A FLAC header's count is a claim that a cut-off file breaks, and no
    // container but FLAC's own times its frames to the sample. Vorbis frame
    // lengths depend on the previous frame, and its first frame yields
    // nothing, which no container's count allows for in every case (a short
    // Ogg file's granule claims 128 samples too many). Both decode many
    // hundred times faster than they play.
    // Speex frames have a fixed length, but an Ogg stream may end its last
    // granule (and so its last packet's duration) at the last input sample,
    // while the decoder plays every frame whole.
    if (par->codec_id == AV_CODEC_ID_FLAC || par->codec_id == AV_CODEC_ID_VORBIS
        || par->codec_id == AV_CODEC_ID_SPEEX)
        return Method::Decode;
    // Every ADTS or LATM frame states its own rate and channels, which may
    // change from one frame to the next (streams joined byte-wise), yet the
    // demuxer times them all at the first frame's rate.
    if (isRawAac(in))
        return Method::Decode;
    if (isOgg(in))
        return Method::OggGranule;
    if (clockResolvesSamples(*in.stream))
        return Method::PacketDurations;
    return Method::Decode;
}

// Opus decoders drop the pre-skip of the stream header by themselves.
std::int64_t opusPreSkip(const AVCodecParameters *par)
{
    if (par->codec_id != AV_CODEC_ID_OPUS || par->extradata_size < 12)
        return 0;
    return AV_RL16(par->extradata + 10);
}

// The user who asked for the length is told what was cancelled.
PacketScan measuring(const std::string &path, const std::atomic<bool> *cancel)
{
    PacketScan scan;
    scan.cancel = cancel;
    scan.cancelled = fail(Code::kAbort, Operation::Measure, path, "was cancelled");
    return scan;
}

// Decoders refuse the part of a packet that is less than a whole frame, so
// the count is of whole frames in each packet.
Result pcmLength(AudioInput &in, const std::string &path, const std::atomic<bool> *cancel,
                 ReferenceTime &duration)
{
    const AVCodecParameters *par = in.stream->codecpar;
    const std::int64_t bitsPerFrame =
        static_cast<std::int64_t>(av_get_exact_bits_per_sample(par->codec_id)) * par->ch_layout.nb_channels;
    std::int64_t samples = 0;
    const auto count = [&](const AVPacket &p) {
        samples += p.size * std::int64_t{8} / bitsPerFrame;
        return true;
    };
    if (Result r = scanPackets(in, path, measuring(path, cancel), count); r.failed())
        return r;
    if (samples == 0)
        return fail(Code::kNoAudio, Operation::None, path, " holds no audio");
    duration = unitsOf(samples, par->sample_rate);
    return ok();
}

std::int64_t samplesOf(std::int64_t ticks, const AVStream *stream)
{
    return av_rescale_q(ticks, stream->time_base, AVRational{1, stream->codecpar->sample_rate});
}

// The samples a run of packets covers, and what the decoder makes of them
// once it has trimmed either end.
struct PacketSum
{
    std::int64_t ticks = 0; // in the stream's own time base
    std::int64_t leadTrim = 0; // samples trimmed at the start only
    std::int64_t played = 0; // samples left after the decoder's trimming
    std::int64_t pendingSkip = 0;
    bool anyPacket = false;
    bool everyPacketTimed = true;
};

// The samples a packet plays before any trim, as its container times it.
std::int64_t timedSamples(const AVPacket &p, const AVStream *stream)
{
    return p.duration > 0 ? samplesOf(p.duration, stream) : 0;
}

// Trims as FFmpeg's decoders do. A packet's skip count replaces any still
// pending from an earlier one, and the skip runs on into later packets; a
// packet's padding comes off its end only when that much is left of it
// after the skip, else the whole packet plays. A file of one or two frames
// (an MP3 whose LAME tag trims more than is left) would otherwise measure
// as nothing while its decoder yields hundreds of samples. `samples` is
// what the packet plays untrimmed.
void addPacket(PacketSum &sum, const AVPacket &p, const AVStream *stream, std::int64_t samples)
{
    if (!sum.anyPacket)
        sum.pendingSkip = opusPreSkip(stream->codecpar);
    if (p.duration > 0)
        sum.ticks += p.duration;
    else
        sum.everyPacketTimed = false;
    std::int64_t padding = 0;
    size_t size = 0;
    const uint8_t *skip = av_packet_get_side_data(&p, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (skip && size >= 8) {
        sum.pendingSkip = std::max<std::int64_t>(static_cast<std::int32_t>(AV_RL32(skip)), 0);
        padding = AV_RL32(skip + 4);
        sum.leadTrim += AV_RL32(skip);
    } else if (!sum.anyPacket) {
        sum.leadTrim += opusPreSkip(stream->codecpar);
    }
    std::int64_t left = samples;
    const std::int64_t skipped = std::min(sum.pendingSkip, left);
    sum.pendingSkip -= skipped;
    left -= skipped;
    if (padding > 0 && padding <= left)
        left -= padding;
    sum.played += left;
    sum.anyPacket = true;
}

// An MPEG audio packet (MP1, MP2 or MP3) that is not one whole frame at the
// stream's rate, as the decoder would take it, plays what its decoder makes
// of it, whatever its duration says. The parser joins a tag or junk in the
// middle of a stream (tagged files put end to end) to the frame after it,
// and the decoder, finding no header where the packet starts, drops that
// frame with it, as it drops a packet that starts with an ID3v1 tag on
// purpose; it drops a layer III frame whose side information is damaged
// too. What a packet yields rests on its own bytes (a frame whose bit
// reservoir is missing still plays whole), so each such packet is decoded
// by itself: they are few, and the others need no decoding at all.
class PacketYields
{
public:
    PacketYields(const AudioInput &in, const std::string &path)
        : in_(in)
        , path_(path)
        , mpegAudio_(isMpegAudio(in.stream->codecpar->codec_id))
    {
    }

    // The samples `p` plays at the stream's rate before any trim; -1 when
    // only decoding the whole file can tell.
    std::int64_t of(const AVPacket &p)
    {
        return !mpegAudio_ || wholeFrame(p) ? timedSamples(p, in_.stream) : decodedAlone(p);
    }

private:
    static bool isMpegAudio(AVCodecID codec)
    {
        return codec == AV_CODEC_ID_MP1 || codec == AV_CODEC_ID_MP2 || codec == AV_CODEC_ID_MP3;
    }
    bool wholeFrame(const AVPacket &p) const;
    std::int64_t decodedAlone(const AVPacket &p);

    const AudioInput &in_;
    const std::string &path_;
    const bool mpegAudio_;
    AVCodecContextUPtr decoder_;
    AVFrameUPtr frame_;
};

bool PacketYields::wholeFrame(const AVPacket &p) const
{
    MpegHeader header;
    return isWholeMpegFrame(p.data, static_cast<std::size_t>(p.size), header)
           && header.rate == in_.stream->codecpar->sample_rate && header.samples == timedSamples(p, in_.stream);
}

// Untrimmed: the sum applies the packet's trims as the decoder would. A
// packet that yields at another rate cannot be counted at the stream's.
std::int64_t PacketYields::decodedAlone(const AVPacket &p)
{
    if (!decoder_ && openDecoder(in_, path_, decoder_, 1, AV_CODEC_FLAG2_SKIP_MANUAL).failed())
        return -1;
    if (!frame_ && !(frame_ = AVFrameUPtr(av_frame_alloc())))
        return -1;
    // Nothing of the packet decoded before may carry over into this one.
    avcodec_flush_buffers(decoder_.get());
    std::int64_t samples = 0;
    bool sameRate = true;
    const auto drain = [&] {
        int rc = 0;
        while ((rc = avcodec_receive_frame(decoder_.get(), frame_.get())) >= 0) {
            sameRate = sameRate && frame_->sample_rate == in_.stream->codecpar->sample_rate;
            samples += frame_->nb_samples;
            av_frame_unref(frame_.get());
        }
        return !isFatalDecodeFailure(rc);
    };
    // A packet the decoder refuses is dropped and plays nothing; only a
    // lack of memory leaves the count unknown.
    const int sent = avcodec_send_packet(decoder_.get(), &p);
    if (isFatalDecodeFailure(sent) || !drain())
        return -1;
    const int ended = avcodec_send_packet(decoder_.get(), nullptr);
    if (isFatalDecodeFailure(ended) || !drain() || !sameRate)
        return -1;
    return samples;
}

// Counts every decoded sample. A damaged packet is dropped as the export's
// decoder drops it; running out of memory is the one decoder failure.
Result decodedLength(AudioInput &in, const std::string &path, const std::atomic<bool> *cancel,
                     ReferenceTime &duration)
{
    AVCodecContextUPtr decoder;
    if (Result r = openDecoder(in, path, decoder); r.failed())
        return r;
    AVFrameUPtr frame(av_frame_alloc());
    if (!frame)
        return fail(Code::kOutOfMemory, Operation::Decode, path, "out of memory");

    // A rate that changes mid-stream is counted run by run.
    ReferenceTime total = 0;
    std::int64_t runSamples = 0;
    int runRate = 0;
    int failure = 0;
    const auto drain = [&] {
        int rc = 0;
        while ((rc = avcodec_receive_frame(decoder.get(), frame.get())) >= 0) {
            if (frame->sample_rate != runRate) {
                if (runRate > 0)
                    total += unitsOf(runSamples, runRate);
                runRate = frame->sample_rate;
                runSamples = 0;
            }
            runSamples += frame->nb_samples;
            av_frame_unref(frame.get());
        }
        if (isFatalDecodeFailure(rc) && failure == 0)
            failure = rc;
    };
    const auto send = [&](const AVPacket *p) {
        const int rc = avcodec_send_packet(decoder.get(), p);
        // Wanting output first cannot happen here, as every send is drained.
        if ((isFatalDecodeFailure(rc) || rc == AVERROR(EAGAIN)) && failure == 0)
            failure = rc;
        drain();
    };
    const auto sendEach = [&](const AVPacket &p) {
        send(&p);
        return true;
    };
    if (Result r = scanPackets(in, path, measuring(path, cancel), sendEach); r.failed())
        return r;
    send(nullptr);
    if (failure < 0)
        return ffmpegFailure(failure, Operation::Decode, path);
    if (runRate <= 0)
        return fail(Code::kNoAudio, Operation::None, path, " holds no audio that can be decoded");
    duration = total + unitsOf(runSamples, runRate);
    return ok();
}

// Reading the packets again needs the file from its start; opening it anew
// is the one way every demuxer supports.
Result decodeFromStart(const std::string &path, const std::atomic<bool> *cancel, ReferenceTime &duration)
{
    AudioInput fresh;
    if (Result r = openAudioInput(path, fresh, cancel); r.failed())
        return r;
    return decodedLength(fresh, path, cancel, duration);
}

// Packet durations count samples at the stream's rate as the demuxer knows
// it; a decoder that makes more of each packet (HE-AAC's doubled rate from
// a raw stream) would be measured short. The first packet, decoded as it is
// without trimming, must fill exactly its own duration.
bool firstPacketFillsItsDuration(const AudioInput &in, const std::string &path, const AVPacket &first)
{
    AVCodecContextUPtr decoder;
    AVFrameUPtr frame(av_frame_alloc());
    if (!frame || openDecoder(in, path, decoder, 1, AV_CODEC_FLAG2_SKIP_MANUAL).failed())
        return false;
    if (avcodec_send_packet(decoder.get(), &first) < 0
        || avcodec_receive_frame(decoder.get(), frame.get()) < 0 || frame->sample_rate <= 0)
        return false;
    return frame->nb_samples
           == av_rescale_q(first.duration, in.stream->time_base, AVRational{1, frame->sample_rate});
}

Result packetLength(AudioInput &in, const std::string &path, const std::atomic<bool> *cancel,
                    ReferenceTime &duration)
{
    PacketSum sum;
    PacketYields yields(in, path);
    bool untold = false;
    const AVCodecParameters *par = in.stream->codecpar;
    AVPacketUPtr first(av_packet_alloc());
    if (!first)
        return fail(Code::kOutOfMemory, Operation::Read, path, "out of memory");
    const auto add = [&](const AVPacket &p) {
        if (!sum.anyPacket && av_packet_ref(first.get(), &p) < 0)
            sum.everyPacketTimed = false;
        const std::int64_t samples = yields.of(p);
        untold = samples < 0;
        if (!untold)
            addPacket(sum, p, in.stream, samples);
        return !untold;
    };
    if (Result r = scanPackets(in, path, measuring(path, cancel), add); r.failed())
        return r;
    if (untold)
        return decodeFromStart(path, cancel, duration);
    if (!sum.anyPacket)
        return fail(Code::kNoAudio, Operation::None, path, " holds no audio");
    if (!sum.everyPacketTimed || !firstPacketFillsItsDuration(in, path, *first))
        return decodeFromStart(path, cancel, duration);
    duration = unitsOf(sum.played, par->sample_rate);
    return ok();
}

// An Ogg file's last granule position counts its last link only. Each link
// of a chained file (recorders and `cat` make them) plays too, so unless
// the packets tell exactly what the last granule does, the file is decoded.
Result oggLength(AudioInput &in, const std::string &path, const std::atomic<bool> *cancel,
                 ReferenceTime &duration)
{
    const AVCodecParameters *par = in.stream->codecpar;
    const int rate = par->sample_rate;
    PacketSum sum;
    const auto add = [&](const AVPacket &p) {
        addPacket(sum, p, in.stream, timedSamples(p, in.stream));
        return true;
    };
    if (Result r = scanPackets(in, path, measuring(path, cancel), add); r.failed())
        return r;
    if (in.stream->duration == AV_NOPTS_VALUE || in.stream->duration <= 0 || !sum.everyPacketTimed
        || rate <= 0)
        return decodeFromStart(path, cancel, duration);
    // Ogg packet durations already end at the last granule; only the
    // start's trim is still to come off.
    const std::int64_t fromPackets = samplesOf(sum.ticks, in.stream) - sum.leadTrim;
    const std::int64_t fromGranule =
        samplesOf(in.stream->duration, in.stream)
        - av_rescale(opusPreSkip(par), rate, 48000);
    if (fromPackets != fromGranule)
        return decodeFromStart(path, cancel, duration);
    duration = unitsOf(std::max<std::int64_t>(fromGranule, 0), rate);
    return ok();
}

} // namespace

Result probeDuration(const std::string &path, ReferenceTime &duration, const std::atomic<bool> *cancel)
{
    AudioInput in;
    if (Result r = openAudioInput(path, in, cancel); r.failed())
        return r;
    switch (chooseMethod(in)) {
    case Method::PcmBytes: return pcmLength(in, path, cancel, duration);
    case Method::OggGranule: return oggLength(in, path, cancel, duration);
    case Method::PacketDurations: return packetLength(in, path, cancel, duration);
    case Method::Decode: break;
    }
    return decodedLength(in, path, cancel, duration);
}

} // namespace sonaweld::media
