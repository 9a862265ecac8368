#pragma once

#include "media/media_error.h"

#include <string>

namespace sonaweld::media {

// What a file's tags say about its sound, UTF-8 as FFmpeg gives it; empty
// where the file has no such tag.
struct MediaTags
{
    std::string title;
    std::string artist;
};

// Reads the "title" and "artist" tags of `path` (names matched regardless of
// case): the container's first (ID3, MP4, Matroska, ASF), then those of the
// audio stream that would be joined (Vorbis comments in Ogg). Opens the file
// as the join does, never as a URL.
Result readMediaTags(const std::string &path, MediaTags &tags);

} // namespace sonaweld::media
