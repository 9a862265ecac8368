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

// Opens `path` as a local file (never as a URL, whatever the name looks
// like) and finds an audio stream with a decoder. When `cancel` is given, a
// blocking open or read gives up as soon as it becomes true.
Result openAudioInput(const std::string &path, AudioInput &out,
                      const std::atomic<bool> *cancel = nullptr);

// A decoder for `in`'s audio stream, opened. `threads` 0 lets FFmpeg choose;
// `flags2` are AV_CODEC_FLAG2_* flags set before it opens.
Result openDecoder(const AudioInput &in, const std::string &path, AVCodecContextUPtr &decoder,
                   int threads = 0, int flags2 = 0);

// The failure behind a read that returned `rc`, or 0 when the read simply
// reached the end of the file. I/O errors count even where a demuxer words
// them as the end.
int readFailure(const AudioInput &in, int rc);

// Whether one sample of `stream` is a whole number of its clock's ticks, so
// packet durations count samples exactly (not so on Matroska's and ASF's
// milliseconds, MPEG's 90 kHz clock).
bool clockResolvesSamples(const AVStream &stream);

// Whether a decoder's failure `rc` is about one damaged packet, to be dropped
// while decoding goes on. Decoders answer garbage with many codes (invalid
// data, "not yet implemented" for bits that look like an unknown feature);
// only running out of memory makes going on pointless.
bool isDamagedPacket(int rc);
// The one decoder failure that ends the file's decoding.
inline bool isFatalDecodeFailure(int rc)
{
    return rc == AVERROR(ENOMEM);
}

} // namespace sonaweld::media
