#pragma once

#include "media/clip_reader.h"
#include "media/media_error.h"
#include "media/wave_format.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace sonaweld::media {

// One clip of a mixed segment, with the output samples it covers.
struct MixInput
{
    std::unique_ptr<ClipReader> reader;
    int clip = -1;
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

// Reads exactly `frames` frames: a reader hands over less than asked only
// before failing, so asking again either fills the rest or returns that
// failure.
Result readFully(ClipReader &reader, std::uint8_t *out, int frames, int blockAlign);

// Adds `samples` PCM samples (unsigned 8-bit or signed 16-bit) to `sum`.
void mixInto(std::int32_t *sum, const std::uint8_t *pcm, std::int64_t samples, bool eightBit);

// Stores `sum` as PCM, clipped at full scale.
void storeClipped(const std::int32_t *sum, std::uint8_t *pcm, std::int64_t samples, bool eightBit);

// Sums the overlapping clips of a mixed segment, a chunk at a time.
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
    std::vector<std::int32_t> sum_;
    std::vector<std::uint8_t> part_;
};

} // namespace sonaweld::media
