#pragma once

// One deleter for every FFmpeg object we own, so no object is freed by hand.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace sonaweld::media {

template <typename T>
struct AVDeleter;

template <>
struct AVDeleter<AVFormatContext>
{
    void operator()(AVFormatContext *p) const { avformat_close_input(&p); }
};
template <>
struct AVDeleter<AVCodecContext>
{
    void operator()(AVCodecContext *p) const { avcodec_free_context(&p); }
};
template <>
struct AVDeleter<AVFrame>
{
    void operator()(AVFrame *p) const { av_frame_free(&p); }
};
template <>
struct AVDeleter<AVPacket>
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
template <>
struct AVDeleter<SwrContext>
{
    void operator()(SwrContext *p) const { swr_free(&p); }
};
template <>
struct AVDeleter<AVAudioFifo>
{
    void operator()(AVAudioFifo *p) const { av_audio_fifo_free(p); }
};

template <typename T>
using AVUPtr = std::unique_ptr<T, AVDeleter<T>>;

using AVFormatContextUPtr = AVUPtr<AVFormatContext>;
using AVCodecContextUPtr = AVUPtr<AVCodecContext>;
using AVFrameUPtr = AVUPtr<AVFrame>;
using AVPacketUPtr = AVUPtr<AVPacket>;
using SwrContextUPtr = AVUPtr<SwrContext>;
using AVAudioFifoUPtr = AVUPtr<AVAudioFifo>;

// AVChannelLayout is a value, not an allocation, yet a custom-order layout
// owns a channel map; this owner uninitialises it on every path.
class ChannelLayout
{
public:
    ChannelLayout() = default;
    ~ChannelLayout() { av_channel_layout_uninit(&layout_); }
    ChannelLayout(ChannelLayout &&other) noexcept
        : layout_(other.layout_)
    {
        other.layout_ = {};
    }
    ChannelLayout &operator=(ChannelLayout &&other) noexcept
    {
        if (this != &other) {
            av_channel_layout_uninit(&layout_);
            layout_ = other.layout_;
            other.layout_ = {};
        }
        return *this;
    }
    ChannelLayout(const ChannelLayout &) = delete;
    ChannelLayout &operator=(const ChannelLayout &) = delete;

    AVChannelLayout *get() { return &layout_; }
    const AVChannelLayout *get() const { return &layout_; }

private:
    AVChannelLayout layout_{};
};

} // namespace sonaweld::media
