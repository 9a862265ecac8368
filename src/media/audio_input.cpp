#include "media/audio_input.h"

#include "media/fs_path.h"

#include <filesystem>
#include <system_error>

namespace sonaweld::media {
namespace {

// Opening a pipe waits for a writer and reading a device never ends, so only
// regular files (or links to them) are opened at all. A path that does not
// exist is left to the open, which words that failure itself.
Result refuseUnreadable(const std::string &path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(filePath(path), ec);
    if (ec || !fs::exists(status))
        return ok();
    switch (status.type()) {
    case fs::file_type::regular: break;
    case fs::file_type::directory: return fail(Code::kNoAudio, Operation::None, path, " is a folder, not a regular file");
    case fs::file_type::fifo: return fail(Code::kNoAudio, Operation::None, path, " is a pipe, not a regular file");
    case fs::file_type::character:
    case fs::file_type::block: return fail(Code::kNoAudio, Operation::None, path, " is a device, not a regular file");
    default: return fail(Code::kNoAudio, Operation::None, path, " is not a regular file");
    }
    // FFmpeg calls an empty file invalid data, which sounds like damage.
    if (fs::file_size(filePath(path), ec) == 0 && !ec)
        return fail(Code::kNoAudio, Operation::None, path, " is empty (0 bytes)");
    return ok();
}

int interruptRequested(void *opaque)
{
    return static_cast<const std::atomic<bool> *>(opaque)->load(std::memory_order_relaxed) ? 1 : 0;
}

// FFmpeg passes over an audio stream whose header gives no channels or no
// rate as if it were absent; the file does have sound, its header is wrong.
std::string describeMissingAudio(const AVFormatContext &format)
{
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters *par = format.streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (par->ch_layout.nb_channels <= 0)
            return "'s sound track is damaged: its header gives 0 channels";
        if (par->sample_rate <= 0)
            return "'s sound track is damaged: its header gives a sample rate of 0";
    }
    return " has no sound track";
}

} // namespace

Result openAudioInput(const std::string &path, AudioInput &out, const std::atomic<bool> *cancel)
{
    if (Result r = refuseUnreadable(path); r.failed())
        return r;
    AVFormatContext *raw = avformat_alloc_context();
    if (!raw)
        return fail(Code::kOutOfMemory, Operation::Open, path, "out of memory");
    if (cancel) {
        raw->interrupt_callback.callback = &interruptRequested;
        raw->interrupt_callback.opaque = const_cast<std::atomic<bool> *>(cancel);
    }
    // Only the file protocol may open it: a name such as "take:1.mp3" or
    // "http:x.mp3" is a file in the current folder, not a protocol.
    raw->protocol_whitelist = av_strdup("file");
    const std::string url = "file:" + path;
    // On failure avformat_open_input frees the context itself.
    if (const int rc = avformat_open_input(&raw, url.c_str(), nullptr, nullptr); rc < 0) {
        // Demuxers answer a file that is no media, or a header that makes no
        // sense, with bare codes ("Invalid argument") that read as our fault.
        if (rc == AVERROR_INVALIDDATA || rc == AVERROR(EINVAL) || rc == AVERROR_DEMUXER_NOT_FOUND)
            return fail(rc, Operation::Open, path, "it is no sound or video file, or its header is damaged ("
                                + errorText(rc) + ")");
        return ffmpegFailure(rc, Operation::Open, path);
    }
    AVFormatContextUPtr format(raw);

    if (const int rc = avformat_find_stream_info(format.get(), nullptr); rc < 0)
        return ffmpegFailure(rc, Operation::Read, path);

    const AVCodec *codec = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index == AVERROR_STREAM_NOT_FOUND)
        return fail(Code::kNoAudio, Operation::None, path, describeMissingAudio(*format));
    if (index < 0 || !codec)
        return fail(Code::kNoAudio, Operation::None, path, " holds no audio stream that can be decoded");

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
        return fail(Code::kOutOfMemory, Operation::Decode, path, "out of memory");
    if (int rc = avcodec_parameters_to_context(context.get(), in.stream->codecpar); rc < 0)
        return ffmpegFailure(rc, Operation::Decode, path);
    context->pkt_timebase = in.stream->time_base;
    context->thread_count = threads;
    context->flags2 |= flags2;
    if (int rc = avcodec_open2(context.get(), in.codec, nullptr); rc < 0)
        return ffmpegFailure(rc, Operation::Decode, path);
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

bool clockResolvesSamples(const AVStream &stream)
{
    const std::int64_t rate = stream.codecpar->sample_rate;
    const AVRational tb = stream.time_base;
    return rate > 0 && tb.num > 0 && tb.den % (tb.num * rate) == 0;
}

bool isDamagedPacket(int rc)
{
    return rc < 0 && !isFatalDecodeFailure(rc) && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF;
}

} // namespace sonaweld::media
