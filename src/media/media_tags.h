#pragma once

#include "media/join_plan.h"
#include "media/media_error.h"

#include <string>

namespace sonaweld::media {

// What a file's tags say about its sound, in UTF-8 (a RIFF INFO value that
// is no UTF-8 read as Windows-1252); empty where the file has no such tag.
struct MediaTags
{
    std::string title;
    std::string artist;
    std::string album;
    // Only read when asked for: a cover can weigh megabytes.
    CoverPicture cover;
};

enum class CoverRead { Skip, Read };

// Reads the "title", "artist" and "album" tags of `path` (names matched
// regardless of case): the container's first (ID3, MP4, Matroska, ASF), then
// those of the audio stream that would be joined (Vorbis comments in Ogg).
// With CoverRead::Read, also the first attached picture in JPEG or PNG, as
// the demuxer holds it (nothing is decoded). Opens the file as the join
// does, never as a URL.
Result readMediaTags(const std::string &path, MediaTags &tags, CoverRead cover = CoverRead::Skip);

} // namespace sonaweld::media
