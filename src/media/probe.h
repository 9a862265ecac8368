#pragma once

#include "media/media_error.h"
#include "media/wave_format.h"

#include <atomic>
#include <string>

namespace sonaweld::media {

// The playing length of a file's audio as decoding yields it. Container
// headers are trusted only where they are exact (PCM, FLAC); elsewhere the
// packets are read (not decoded) and their durations summed, less the
// encoder delay and padding the decoder trims.
Result probeDuration(const std::string &path, ReferenceTime &duration,
                     const std::atomic<bool> *cancel = nullptr);

} // namespace sonaweld::media
