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
    // On failure avformat_open_input frees the context itself.
    if (const int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); rc < 0)
        return ffmpegFailure(rc, "Cannot open " + path);
    AVFormatContextUPtr format(raw);

    if (const int rc = avformat_find_stream_info(format.get(), nullptr); rc < 0)
        return ffmpegFailure(rc, "Cannot read " + path);

    const AVCodec *codec = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
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

} // namespace sonaweld::media
