#pragma once

#include "media/media_error.h"
#include "media/wave_format.h"

#include <atomic>
#include <string>

namespace sonaweld::media {

// The playing length of a file's audio: the samples its decoder yields,
// rounded up to the next 100-ns unit. Where the container counts samples
// exactly (PCM and DSD bytes, Ogg granules, packet durations on a clock
// finer than a sample) the packets are only read, but for an MPEG audio
// packet that is no whole frame its decoder takes (a tag in the middle, a
// damaged frame), which is decoded by itself;
// elsewhere the audio is decoded. A header's length is never taken on
// trust: a cut-off file measures what is there. A read failure other than
// the end of the file is a failure.
Result probeDuration(const std::string &path, ReferenceTime &duration,
                     const std::atomic<bool> *cancel = nullptr);

} // namespace sonaweld::media
