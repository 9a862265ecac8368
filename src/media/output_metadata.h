#pragma once

#include "media/join_plan.h"

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVStream;

namespace sonaweld::media {

// The joined file's chapters, tags and cover as the muxer of `kind` takes
// them. Each returns an FFmpeg code (negative on failure).

// Each chapter ends where the next begins, the last at `totalFrames`.
// Chapters go in the context's own list for the MP3 and MP4 muxers. The
// FLAC muxer ignores that list, the Ogg one writes it for Opus only and
// rounds the seconds of a start (8.607 for 7.607), so FLAC, Opus and
// Vorbis get the CHAPTERnnn comments themselves, which FFmpeg's demuxers
// read back as chapters.
int addChapters(AVFormatContext &muxer, AVStream &audio, OutputKind kind, const std::vector<Chapter> &chapters,
                int rate, std::int64_t totalFrames);

// The tags into the context; Ogg writes the audio stream's comments, so
// there they go on the stream too, with the cover as a picture comment.
int addTags(AVFormatContext &muxer, AVStream &audio, OutputKind kind, const OutputTags &tags);

// Whether the kind's muxer takes the cover as an attached-picture stream.
bool takesPictureStream(OutputKind kind);
// That stream, before the header is written; *stream stays null for no
// cover.
int addCoverStream(AVFormatContext &muxer, const CoverPicture &cover, AVStream **stream);
// Its one packet, right after the header: the muxers hold the audio back
// until the picture has come.
int writeCover(AVFormatContext &muxer, const AVStream &stream, const CoverPicture &cover);

// The FLAC PICTURE block (front cover) that Vorbis comments carry base64
// encoded as METADATA_BLOCK_PICTURE.
std::vector<std::uint8_t> flacPictureBlock(const CoverPicture &cover);

} // namespace sonaweld::media
