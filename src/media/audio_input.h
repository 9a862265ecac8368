#pragma once

#include "media/ffmpeg_ptr.h"
#include "media/media_error.h"

#include <atomic>
#include <string>

namespace sonaweld::media {

// A media file opened for its best audio stream; every other stream is
// discarded so the demuxer skips it.
struct AudioInput
{
    AVFormatContextUPtr format;
    AVStream *stream = nullptr;
    const AVCodec *codec = nullptr;
};

// Opens `path` and finds an audio stream with a decoder. When `cancel` is
// given, a blocking open or read gives up as soon as it becomes true.
Result openAudioInput(const std::string &path, AudioInput &out,
                      const std::atomic<bool> *cancel = nullptr);

} // namespace sonaweld::media
