#include "media/audio_encoder.h"

#include "media/ffmpeg_ptr.h"
#include "media/fs_path.h"
#include "media/output_metadata.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <span>
#include <system_error>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

namespace sonaweld::media {
namespace {

constexpr int kOpusRate = 48000;
// Input is converted a slice at a time, so swresample's int counts hold.
constexpr std::int64_t kSliceFrames = 1 << 16;
// When an encoder names no frame size, any size does.
constexpr int kAnyFrameSize = 4096;

// A full disk reads as the WAV file's does; the reason stays FFmpeg's.
int codeOf(int rc)
{
    return rc == AVERROR(ENOSPC) ? Code::kDiskFull : rc;
}
Result failure(int rc, Operation operation, const std::string &path)
{
    return fail(codeOf(rc), operation, path, errorText(rc));
}

// FLAC takes 16-bit samples as they are (8-bit ones widened), so it stays
// lossless; the lossy encoders get floats where they take them.
AVSampleFormat sampleFormatFor(const AVCodec &codec, OutputKind kind)
{
    static constexpr AVSampleFormat kLossless[] = {AV_SAMPLE_FMT_S16};
    static constexpr AVSampleFormat kLossy[] = {AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_S16P,
                                                AV_SAMPLE_FMT_S16};
    const std::span<const AVSampleFormat> wanted =
        kind == OutputKind::Flac ? std::span<const AVSampleFormat>(kLossless) : std::span<const AVSampleFormat>(kLossy);
    if (!codec.sample_fmts)
        return wanted.front();
    for (const AVSampleFormat w : wanted) {
        for (const AVSampleFormat *f = codec.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
            if (*f == w)
                return w;
        }
    }
    return codec.sample_fmts[0];
}

// MP3 and Vorbis are written at a quality unless a rate is asked for; Opus
// and AAC always at a rate.
void setRateControl(AVCodecContext &codec, OutputKind kind, int bitrateKbps, int channels)
{
    const int quality = kind == OutputKind::Mp3 ? 2 : kind == OutputKind::Vorbis ? 5 : -1;
    if (quality >= 0 && bitrateKbps == 0) {
        codec.flags |= AV_CODEC_FLAG_QSCALE;
        codec.global_quality = quality * FF_QP2LAMBDA;
        return;
    }
    const int kbps = bitrateKbps > 0 ? bitrateKbps : defaultBitrateKbps(kind, channels);
    if (kbps > 0)
        codec.bit_rate = static_cast<std::int64_t>(kbps) * 1000;
}

// Opus always runs at 48 kHz, but its header remembers the rate it was
// made from, which decoders may offer to play it back at.
void recordOpusInputRate(AVCodecContext &codec, std::uint32_t rate)
{
    if (codec.extradata_size < 16)
        return;
    for (int i = 0; i < 4; ++i)
        codec.extradata[12 + i] = static_cast<std::uint8_t>(rate >> (8 * i));
}

void removeFile(const std::string &path)
{
    std::error_code ignored;
    std::filesystem::remove(filePath(path), ignored);
}

} // namespace

struct AudioEncoder::State
{
    std::string path;
    OutputKind kind = OutputKind::Flac;
    WaveFormatEx format;
    AVFormatContextUPtr muxer;
    AVCodecContextUPtr codec;
    AVStream *audio = nullptr;
    SwrContextUPtr resampler;
    AVAudioFifoUPtr fifo;
    AVFrameUPtr scratch;
    AVFrameUPtr frame;
    AVPacketUPtr packet;
    int frameSize = 0;
    bool headerWritten = false;
    std::int64_t framesIn = 0;
    // Silence sent ahead of the frames, counted in samplesSent.
    std::int64_t leadIn = 0;
    std::int64_t samplesSent = 0;
    Result firstFailure;

    Result openCodec(const AVCodec &encoder, const JoinPlan &plan);
    Result openMuxer(const JoinPlan &plan);
    Result openConversion();
    Result queueLeadIn(std::int64_t plannedFrames);
    Result convert(const std::uint8_t *data, int frames);
    Result sendFrame(int samples);
    Result drain();
    Result flush();
    void trimChapters();
    Result close();

    // Where the samples the frames so far make end at the encoder's rate:
    // the same count, or for Opus the nearest at 48 kHz, after the lead-in.
    std::int64_t endSample() const
    {
        return leadIn + av_rescale_rnd(framesIn, codec->sample_rate, format.samplesPerSec, AV_ROUND_NEAR_INF);
    }
};

Result AudioEncoder::State::openCodec(const AVCodec &encoder, const JoinPlan &plan)
{
    codec.reset(avcodec_alloc_context3(&encoder));
    if (!codec)
        return fail(Code::kOutOfMemory, Operation::Create, path, "out of memory");
    codec->sample_rate = kind == OutputKind::Opus ? kOpusRate : plan.rate();
    av_channel_layout_default(&codec->ch_layout, format.channels);
    codec->sample_fmt = sampleFormatFor(encoder, kind);
    codec->time_base = AVRational{1, codec->sample_rate};
    setRateControl(*codec, kind, plan.bitrateKbps, format.channels);
    if (muxer->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int rc = avcodec_open2(codec.get(), &encoder, nullptr); rc < 0)
        return ffmpegFailure(rc, Operation::Create, path);
    if (kind == OutputKind::Opus)
        recordOpusInputRate(*codec, format.samplesPerSec);
    const bool anySize = (encoder.capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || codec->frame_size <= 0;
    frameSize = anySize ? kAnyFrameSize : codec->frame_size;

    audio = avformat_new_stream(muxer.get(), nullptr);
    if (!audio)
        return fail(Code::kOutOfMemory, Operation::Create, path, "out of memory");
    audio->time_base = codec->time_base;
    if (const int rc = avcodec_parameters_from_context(audio->codecpar, codec.get()); rc < 0)
        return ffmpegFailure(rc, Operation::Create, path);
    return ok();
}

Result AudioEncoder::State::openMuxer(const JoinPlan &plan)
{
    AVStream *cover = nullptr;
    int rc = takesPictureStream(kind) ? addCoverStream(*muxer, plan.tags.cover, &cover) : 0;
    if (rc >= 0)
        rc = addChapters(*muxer, *audio, kind, plan.chapters, plan.rate(), plan.totalFrames());
    if (rc >= 0)
        rc = addTags(*muxer, *audio, kind, plan.tags);
    if (rc < 0)
        return ffmpegFailure(rc, Operation::Create, path);

    // Only the file protocol: a name such as "take:1.mp3" is a file in the
    // current folder, not a protocol.
    AVDictionary *options = nullptr;
    rc = av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + path;
    if (rc >= 0)
        rc = avio_open2(&muxer->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, &options);
    av_dict_free(&options);
    if (rc < 0)
        return failure(rc, Operation::Create, path);
    // An audiobook player knows an M4B by its brand, not by its name alone.
    AVDictionary *muxerOptions = nullptr;
    if (outputFormatOf(path).extension == ".m4b")
        rc = av_dict_set(&muxerOptions, "brand", "M4B ", 0);
    if (rc >= 0)
        rc = avformat_write_header(muxer.get(), &muxerOptions);
    av_dict_free(&muxerOptions);
    if (rc < 0)
        return failure(rc, Operation::Create, path);
    headerWritten = true;
    if (cover) {
        if (rc = writeCover(*muxer, *cover, plan.tags.cover); rc < 0)
            return failure(rc, Operation::Write, path);
    }
    return ok();
}

Result AudioEncoder::State::openConversion()
{
    ChannelLayout layout;
    av_channel_layout_default(layout.get(), format.channels);
    const AVSampleFormat in = format.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    SwrContext *raw = nullptr;
    int rc = swr_alloc_set_opts2(&raw, &codec->ch_layout, codec->sample_fmt, codec->sample_rate, layout.get(), in,
                                 static_cast<int>(format.samplesPerSec), 0, nullptr);
    resampler.reset(raw);
    if (rc >= 0)
        rc = swr_init(resampler.get());
    if (rc < 0)
        return ffmpegFailure(rc, Operation::Create, path);
    fifo.reset(av_audio_fifo_alloc(codec->sample_fmt, format.channels, frameSize));
    scratch.reset(av_frame_alloc());
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!fifo || !scratch || !frame || !packet)
        return fail(Code::kOutOfMemory, Operation::Create, path, "out of memory");
    frame->format = codec->sample_fmt;
    frame->sample_rate = codec->sample_rate;
    frame->nb_samples = frameSize;
    if (rc = av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout); rc >= 0)
        rc = av_frame_get_buffer(frame.get(), 0);
    if (rc < 0)
        return ffmpegFailure(rc, Operation::Create, path);
    return ok();
}

// FFmpeg's MP4 demuxer trims an AAC file's start to its edit list but
// decodes its last frame whole. Silence ahead of the frames, before time
// 0, makes the planned length end on a frame, so the trimmed start is all
// the trimming it needs.
Result AudioEncoder::State::queueLeadIn(std::int64_t plannedFrames)
{
    if (kind != OutputKind::Aac)
        return ok();
    leadIn = (frameSize - plannedFrames % frameSize) % frameSize;
    if (leadIn == 0)
        return ok();
    if (const int rc = av_samples_set_silence(frame->data, 0, static_cast<int>(leadIn), format.channels,
                                              codec->sample_fmt);
        rc < 0)
        return ffmpegFailure(rc, Operation::Create, path);
    if (av_audio_fifo_write(fifo.get(), reinterpret_cast<void **>(frame->data), static_cast<int>(leadIn)) < leadIn)
        return fail(Code::kOutOfMemory, Operation::Create, path, "out of memory");
    return ok();
}

// Through the resampler into the FIFO; `data` null drains the resampler.
Result AudioEncoder::State::convert(const std::uint8_t *data, int frames)
{
    const int capacity = swr_get_out_samples(resampler.get(), frames);
    if (capacity < 0)
        return ffmpegFailure(capacity, Operation::Write, path);
    if (capacity == 0)
        return ok();
    if (scratch->nb_samples < capacity) {
        av_frame_unref(scratch.get());
        scratch->format = codec->sample_fmt;
        scratch->nb_samples = capacity;
        int rc = av_channel_layout_copy(&scratch->ch_layout, &codec->ch_layout);
        if (rc >= 0)
            rc = av_frame_get_buffer(scratch.get(), 0);
        if (rc < 0)
            return ffmpegFailure(rc, Operation::Write, path);
    }
    const std::uint8_t *in[1] = {data};
    const int converted = swr_convert(resampler.get(), scratch->data, capacity, data ? in : nullptr, frames);
    if (converted < 0)
        return ffmpegFailure(converted, Operation::Write, path);
    if (av_audio_fifo_write(fifo.get(), reinterpret_cast<void **>(scratch->data), converted) < converted)
        return fail(Code::kOutOfMemory, Operation::Write, path, "out of memory");
    return ok();
}

// `samples` from the FIFO, silence where it runs short; a frame shorter
// than the encoder's is padded out only for an encoder that cannot end
// on one.
Result AudioEncoder::State::sendFrame(int samples)
{
    if (const int rc = av_frame_make_writable(frame.get()); rc < 0)
        return ffmpegFailure(rc, Operation::Write, path);
    const int got = std::max(av_audio_fifo_read(fifo.get(), reinterpret_cast<void **>(frame->data), samples), 0);
    const bool shortOk = codec->codec->capabilities
                         & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const int length = shortOk ? samples : frameSize;
    if (got < length)
        av_samples_set_silence(frame->data, got, length - got, format.channels, codec->sample_fmt);
    frame->nb_samples = length;
    frame->pts = samplesSent - leadIn;
    samplesSent += length;
    if (const int rc = avcodec_send_frame(codec.get(), frame.get()); rc < 0)
        return ffmpegFailure(rc, Operation::Write, path);
    return drain();
}

Result AudioEncoder::State::drain()
{
    for (;;) {
        int rc = avcodec_receive_packet(codec.get(), packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return ok();
        if (rc < 0)
            return ffmpegFailure(rc, Operation::Write, path);
        packet->stream_index = audio->index;
        av_packet_rescale_ts(packet.get(), codec->time_base, audio->time_base);
        if (rc = av_interleaved_write_frame(muxer.get(), packet.get()); rc < 0)
            return failure(rc, Operation::Write, path);
    }
}

// The resampler's tail, cut or padded so the encoded length is exactly
// the target, then the encoder's own.
Result AudioEncoder::State::flush()
{
    if (Result r = convert(nullptr, 0); r.failed())
        return r;
    const std::int64_t target = endSample();
    while (samplesSent < target) {
        if (Result r = sendFrame(static_cast<int>(std::min<std::int64_t>(frameSize, target - samplesSent)));
            r.failed())
            return r;
    }
    if (const int rc = avcodec_send_frame(codec.get(), nullptr); rc < 0)
        return ffmpegFailure(rc, Operation::Write, path);
    return drain();
}

// An MP4 file takes its chapters at the close: those of a join that ended
// early stop where its sound does. The other formats carry theirs in the
// header, written before the end was known.
void AudioEncoder::State::trimChapters()
{
    if (kind != OutputKind::Aac || !muxer)
        return;
    const AVRational samples{1, static_cast<int>(format.samplesPerSec)};
    unsigned kept = 0;
    for (unsigned i = 0; i < muxer->nb_chapters; ++i) {
        AVChapter *chapter = muxer->chapters[i];
        if (av_rescale_q(chapter->start, chapter->time_base, samples) < framesIn) {
            chapter->end = std::min(chapter->end, av_rescale_q(framesIn, samples, chapter->time_base));
            muxer->chapters[kept++] = chapter;
            continue;
        }
        av_dict_free(&chapter->metadata);
        av_free(chapter);
    }
    muxer->nb_chapters = kept;
}

// The trailer goes on even after a failure, so what was written plays.
Result AudioEncoder::State::close()
{
    trimChapters();
    const int trailer = headerWritten ? av_write_trailer(muxer.get()) : 0;
    const int closed = muxer && muxer->pb ? avio_closep(&muxer->pb) : 0;
    muxer.reset();
    const int rc = trailer < 0 ? trailer : closed;
    if (rc >= 0)
        return ok();
    // An MP4 file without its index cannot be read at all.
    if (kind == OutputKind::Aac && headerWritten) {
        removeFile(path);
        return fail(codeOf(rc), Operation::Write, path,
                    "the MP4 file could not be closed and was removed (" + errorText(rc) + ")");
    }
    return failure(rc, Operation::Write, path);
}

AudioEncoder::AudioEncoder() = default;

AudioEncoder::~AudioEncoder()
{
    // Only a failure or a stop leaves a file open; that was reported then.
    finish();
}

Result AudioEncoder::open(const JoinPlan &plan)
{
    finish();
    auto state = std::make_unique<State>();
    state->path = plan.outputPath;
    state->kind = plan.kind();
    state->format = plan.format;
    const OutputFormat &output = outputFormatOf(plan.outputPath);
    if (state->kind == OutputKind::Wav || !isSupportedPcm(plan.format))
        return fail(Code::kInvalidArg, Operation::Create, plan.outputPath, "no encoded format for this output");
    const AVCodec *encoder = avcodec_find_encoder_by_name(std::string(output.encoder).c_str());
    if (!encoder)
        return fail(Code::kNotImpl, Operation::Create, plan.outputPath,
                    "this FFmpeg has no " + std::string(output.encoderLabel));
    AVFormatContext *raw = nullptr;
    // The name only for muxers that look at its extension; the file is
    // opened below, through the file protocol alone.
    const int rc = avformat_alloc_output_context2(&raw, nullptr, std::string(output.muxer).c_str(),
                                                  plan.outputPath.c_str());
    if (rc < 0 || !raw)
        return ffmpegFailure(rc < 0 ? rc : AVERROR_MUXER_NOT_FOUND, Operation::Create, plan.outputPath);
    state->muxer.reset(raw);
    Result r = state->openCodec(*encoder, plan);
    if (r)
        r = state->openMuxer(plan);
    if (r)
        r = state->openConversion();
    if (r)
        r = state->queueLeadIn(plan.totalFrames());
    if (r.failed()) {
        const bool created = state->muxer && state->muxer->pb;
        state->headerWritten = false;
        state->close();
        if (created)
            removeFile(plan.outputPath);
        return r;
    }
    state_ = std::move(state);
    return ok();
}

Result AudioEncoder::encode(const std::uint8_t *data, std::int64_t frames)
{
    if (!state_)
        return fail(Code::kUnexpected, "The encoder was given frames before it was opened.");
    State &s = *state_;
    if (s.firstFailure.failed())
        return s.firstFailure;
    while (frames > 0) {
        const int slice = static_cast<int>(std::min(frames, kSliceFrames));
        Result r = s.convert(data, slice);
        s.framesIn += slice;
        data += static_cast<std::int64_t>(slice) * s.format.blockAlign;
        frames -= slice;
        // Never past the length the frames so far make: the resampler's
        // tail is cut to it at the end.
        while (r && av_audio_fifo_size(s.fifo.get()) >= s.frameSize && s.samplesSent + s.frameSize <= s.endSample())
            r = s.sendFrame(s.frameSize);
        if (r.failed()) {
            s.firstFailure = r;
            return r;
        }
    }
    return ok();
}

Result AudioEncoder::finish()
{
    if (!state_)
        return ok();
    std::unique_ptr<State> state = std::move(state_);
    const Result flushed = state->firstFailure.failed() ? ok() : state->flush();
    const Result closed = state->close();
    return flushed.failed() ? flushed : closed;
}

} // namespace sonaweld::media
