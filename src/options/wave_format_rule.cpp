#include "options/wave_format_rule.h"

#include <string>

namespace sonaweld {
namespace {

template <std::size_t N>
int valueAt(const std::array<int, N> &list, int row)
{
    return row >= 0 && row < static_cast<int>(N) ? list[static_cast<std::size_t>(row)] : list[0];
}

} // namespace

media::WaveFormatEx waveFormatOf(const WaveFormatRows &rows)
{
    return media::pcmFormat(valueAt(kSampleRates, rows.sampleRateIndex), valueAt(kChannelCounts, rows.channelsIndex),
                            valueAt(kBitDepths, rows.bitsIndex));
}

void applyWaveFormat(const WaveFormatRows &rows, media::WaveFormatEx &format)
{
    const media::WaveFormatEx chosen = waveFormatOf(rows);
    format.samplesPerSec = chosen.samplesPerSec;
    format.channels = chosen.channels;
    format.bitsPerSample = chosen.bitsPerSample;
    format.blockAlign = chosen.blockAlign;
    format.avgBytesPerSec = chosen.avgBytesPerSec;
}

std::optional<int> rowOf(std::span<const int> list, std::string_view value)
{
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (value == std::to_string(list[i]))
            return static_cast<int>(i);
    }
    return std::nullopt;
}

} // namespace sonaweld
