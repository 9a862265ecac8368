#include "media/pcm_mix.h"

#include "media/clip_reader.h"
#include "media/joints.h"

#include <algorithm>
#include <cmath>

namespace sonaweld::media {

Result readFully(ClipReader &reader, std::uint8_t *out, int frames, int blockAlign)
{
    for (int done = 0; done < frames;) {
        int produced = 0;
        if (Result r = reader.read(out + static_cast<std::int64_t>(done) * blockAlign, frames - done,
                                   produced);
            r.failed())
            return r;
        if (produced == 0)
            return fail(Code::kUnexpected, "A mixed clip ended inside its own span");
        done += produced;
    }
    return ok();
}

double MixInput::weightAt(std::int64_t at) const
{
    return shape ? envelopeAt(*shape, end - begin, at - begin) : 1.0;
}

// Sums past full scale are clipped rather than wrapped into a loud click.
// Whole sums (a plain mix) are stored exactly as they are.
void storeClipped(const double *sum, std::uint8_t *pcm, std::int64_t samples, bool eightBit)
{
    if (eightBit) {
        for (std::int64_t s = 0; s < samples; ++s)
            pcm[s] = static_cast<std::uint8_t>(std::clamp(std::nearbyint(sum[s]), -128.0, 127.0) + 128);
    } else {
        auto *wide = reinterpret_cast<std::int16_t *>(pcm);
        for (std::int64_t s = 0; s < samples; ++s)
            wide[s] = static_cast<std::int16_t>(std::clamp(std::nearbyint(sum[s]), -32768.0, 32767.0));
    }
}

PcmMix::PcmMix(const WaveFormatEx &format, int chunkFrames)
    : channels_(format.channels)
    , eightBit_(format.bitsPerSample == 8)
    , sum_(static_cast<std::size_t>(chunkFrames) * format.channels)
    , part_(static_cast<std::size_t>(chunkFrames) * format.blockAlign)
{
}

Result PcmMix::mix(std::vector<MixInput> &inputs, std::int64_t pos, std::int64_t frames, std::uint8_t *out,
                   const Read &read)
{
    std::fill(sum_.begin(), sum_.begin() + frames * channels_, 0.0);
    for (MixInput &input : inputs) {
        const std::int64_t lo = std::max(pos, input.begin);
        const std::int64_t hi = std::min(pos + frames, input.end);
        if (lo >= hi)
            continue;
        if (Result r = read(input, part_.data(), static_cast<int>(hi - lo)); r.failed())
            return r;
        mixInto(sum_.data() + (lo - pos) * channels_, part_.data(), hi - lo, channels_, eightBit_,
                [&](std::int64_t f) { return input.weightAt(lo + f); });
    }
    storeClipped(sum_.data(), out, frames * channels_, eightBit_);
    return ok();
}

} // namespace sonaweld::media
