#include "media/loudness_meter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sonaweld::media {
namespace {

Result meterFailure(int err)
{
    if (err == EBUR128_ERROR_NOMEM)
        return fail(Code::kOutOfMemory);
    return fail(Code::kUnexpected, "the loudness meter refused its input (libebur128 error " +
                                       std::to_string(err) + ")");
}

} // namespace

Result LoudnessMeter::open(const WaveFormatEx &format)
{
    format_ = format;
    // Integrated loudness from every block rather than libebur128's
    // histogram, whose bins would round the measurement.
    state_.reset(
        ebur128_init(format.channels, format.samplesPerSec, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
    if (!state_)
        return fail(Code::kOutOfMemory);
    // FFmpeg's meter gives a mono (front centre) channel weight 1, not the
    // +3 dB of dual mono; a stereo pair is left and right.
    const int map[2][2] = {{EBUR128_CENTER, EBUR128_UNUSED}, {EBUR128_LEFT, EBUR128_RIGHT}};
    const int layout = format.channels == 1 ? 0 : 1;
    for (unsigned c = 0; c < format.channels; ++c) {
        if (const int err = ebur128_set_channel(state_.get(), c, map[layout][c]); err != EBUR128_SUCCESS)
            return meterFailure(err);
    }
    return ok();
}

Result LoudnessMeter::add(const std::uint8_t *pcm, std::int64_t frames)
{
    const auto samples = static_cast<std::size_t>(frames) * format_.channels;
    wide_.resize(samples);
    if (format_.bitsPerSample == 8) {
        // (x - 128) / 128 is the same fraction of full scale as (x - 128) * 256 / 32768.
        for (std::size_t s = 0; s < samples; ++s)
            wide_[s] = static_cast<short>((pcm[s] - 128) * 256);
    } else {
        std::memcpy(wide_.data(), pcm, samples * sizeof(short));
    }
    const int err = ebur128_add_frames_short(state_.get(), wide_.data(), static_cast<std::size_t>(frames));
    return err == EBUR128_SUCCESS ? ok() : meterFailure(err);
}

double LoudnessMeter::loudness() const
{
    double lufs = -HUGE_VAL;
    // Fails only for a state without the integrated mode, which open() sets.
    ebur128_loudness_global(state_.get(), &lufs);
    return lufs;
}

double LoudnessMeter::truePeak() const
{
    double peak = 0;
    for (unsigned c = 0; c < format_.channels; ++c) {
        double channelPeak = 0;
        if (ebur128_true_peak(state_.get(), c, &channelPeak) == EBUR128_SUCCESS)
            peak = std::max(peak, channelPeak);
    }
    return peak;
}

double LoudnessMeter::pooledLoudness(const std::vector<LoudnessMeter> &meters)
{
    std::vector<ebur128_state *> states;
    for (const LoudnessMeter &m : meters) {
        if (m.state_)
            states.push_back(m.state_.get());
    }
    double lufs = -HUGE_VAL;
    if (!states.empty())
        ebur128_loudness_global_multiple(states.data(), states.size(), &lufs);
    return lufs;
}

} // namespace sonaweld::media
