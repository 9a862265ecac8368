#pragma once

#include "media/media_error.h"
#include "media/wave_format.h"

#include <ebur128.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace sonaweld::media {

struct Ebur128Deleter
{
    void operator()(ebur128_state *p) const { ebur128_destroy(&p); }
};
using Ebur128UPtr = std::unique_ptr<ebur128_state, Ebur128Deleter>;

// EBU R128 integrated loudness and true peak of PCM in one of the output
// formats, weighted per channel as FFmpeg's own meter weighs that layout.
class LoudnessMeter
{
public:
    Result open(const WaveFormatEx &format);
    bool isOpen() const { return state_ != nullptr; }

    Result add(const std::uint8_t *pcm, std::int64_t frames);

    // LUFS; -infinity when no block passes the gates.
    double loudness() const;
    // The highest true peak over all channels, linear.
    double truePeak() const;

    // The integrated loudness of everything the open meters were given,
    // gated as one programme.
    static double pooledLoudness(const std::vector<LoudnessMeter> &meters);

private:
    Ebur128UPtr state_;
    WaveFormatEx format_;
    // Samples widened to 16 bits, since libebur128 takes no unsigned bytes.
    std::vector<short> wide_;
};

} // namespace sonaweld::media
