#pragma once

#include "media/clip_reader.h"
#include "media/join_plan.h"
#include "media/media_error.h"
#include "media/wave_format.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace sonaweld::media {

// One clip of a mixed segment, with the output samples its span covers and,
// when it has one, the clip whose gain and fades shape it.
struct MixInput
{
    std::unique_ptr<ClipReader> reader;
    int clip = -1;
    std::int64_t begin = 0;
    std::int64_t end = 0;
    const ClipSpec *shape = nullptr;

    // The input's weight at output frame `at`.
    double weightAt(std::int64_t at) const;
};

// Reads exactly `frames` frames: a reader hands over less than asked only
// before failing, so asking again either fills the rest or returns that
// failure.
Result readFully(ClipReader &reader, std::uint8_t *out, int frames, int blockAlign);

// Adds `frames` frames of PCM (unsigned 8-bit or signed 16-bit) to `sum`,
// each frame weighted by `weight(frame)`.
template <typename Weight>
void mixInto(double *sum, const std::uint8_t *pcm, std::int64_t frames, int channels, bool eightBit,
             const Weight &weight)
{
    const auto *wide = reinterpret_cast<const std::int16_t *>(pcm);
    for (std::int64_t f = 0; f < frames; ++f) {
        const double w = weight(f);
        for (std::int64_t s = f * channels; s < (f + 1) * channels; ++s)
            sum[s] += w * (eightBit ? static_cast<int>(pcm[s]) - 128 : wide[s]);
    }
}

// Stores `sum` as PCM, rounded to the nearest level and clipped at full scale.
void storeClipped(const double *sum, std::uint8_t *pcm, std::int64_t samples, bool eightBit);

// Sums the overlapping clips of a mixed segment, each at its own weight, a
// chunk at a time.
class PcmMix
{
public:
    // Reads `frames` frames of `input` into `out`.
    using Read = std::function<Result(MixInput &input, std::uint8_t *out, int frames)>;

    PcmMix(const WaveFormatEx &format, int chunkFrames);

    // Mixes output frames [pos, pos + frames) of `inputs` into `out`, at
    // most a chunk, reading each input's share of them with `read`.
    Result mix(std::vector<MixInput> &inputs, std::int64_t pos, std::int64_t frames, std::uint8_t *out,
               const Read &read);

private:
    int channels_;
    bool eightBit_;
    std::vector<double> sum_;
    std::vector<std::uint8_t> part_;
};

} // namespace sonaweld::media
