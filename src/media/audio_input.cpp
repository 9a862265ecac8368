#include "media/audio_input.h"

namespace sonaweld::media {
namespace {

int interruptRequested(void *opaque)
{
    return static_cast<const std::atomic<bool> *>(opaque)->load(std::memory_order_relaxed) ? 1 : 0;
}

} // namespace

Result openAudioInput(const std::string &path, AudioInput &out, const std::atomic<bool> *cancel)
{
    AVFormatContext *raw = avformat_alloc_context();
    if (!raw)
        return fail(Code::kOutOfMemory, "Cannot open " + path + ": out of memory");
    if (cancel) {
        raw->interrupt_callback.callback = &interruptRequested;
        raw->interrupt_callback.opaque = const_cast<std::atomic<bool> *>(cancel);
    }
    // Only the file protocol may open it: a name such as "take:1.mp3" or
    // "http:x.mp3" is a file in the current folder, not a protocol.
    raw->protocol_whitelist = av_strdup("file");
    const std::string url = "file:" + path;
    // On failure avformat_open_input frees the context itself.
    if (const int rc = avformat_open_input(&raw, url.c_str(), nullptr, nullptr); rc < 0)
        return ffmpegFailure(rc, "Cannot open " + path);
    AVFormatContextUPtr format(raw);

    if (const int rc = avformat_find_stream_info(format.get(), nullptr); rc < 0)
        return ffmpegFailure(rc, "Cannot read " + path);

    const AVCodec *codec = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index == AVERROR_STREAM_NOT_FOUND)
        return fail(Code::kNoAudio, path + " has no sound track");
    if (index < 0 || !codec)
        return fail(Code::kNoAudio, path + " holds no audio stream that can be decoded");

    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != index)
            format->streams[i]->discard = AVDISCARD_ALL;
    }
    out.stream = format->streams[index];
    out.codec = codec;
    out.format = std::move(format);
    return ok();
}

Result openDecoder(const AudioInput &in, const std::string &path, AVCodecContextUPtr &decoder,
                   int threads, int flags2)
{
    AVCodecContextUPtr context(avcodec_alloc_context3(in.codec));
    if (!context)
        return fail(Code::kOutOfMemory, "Cannot decode " + path + ": out of memory");
    if (int rc = avcodec_parameters_to_context(context.get(), in.stream->codecpar); rc < 0)
        return ffmpegFailure(rc, "Cannot decode " + path);
    context->pkt_timebase = in.stream->time_base;
    context->thread_count = threads;
    context->flags2 |= flags2;
    if (int rc = avcodec_open2(context.get(), in.codec, nullptr); rc < 0)
        return ffmpegFailure(rc, "Cannot decode " + path);
    decoder = std::move(context);
    return ok();
}

int readFailure(const AudioInput &in, int rc)
{
    AVIOContext *pb = in.format ? in.format->pb : nullptr;
    if (pb && pb->error < 0)
        return pb->error;
    if (rc >= 0 || rc == AVERROR_EOF)
        return 0;
    // A demuxer that meets the cut-off end of a truncated file may call it
    // invalid data or a short read; the file simply ends there. Any other
    // failure (memory, an unsupported feature) is one whatever the position.
    if (pb && avio_feof(pb) && (rc == AVERROR_INVALIDDATA || rc == AVERROR(EIO)))
        return 0;
    return rc;
}

bool isDamagedPacket(int rc)
{
    return rc < 0 && rc != AVERROR(ENOMEM) && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF;
}

} // namespace sonaweld::media
