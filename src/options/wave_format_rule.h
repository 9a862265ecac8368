#pragma once

// The wave format the Output options rows stand for. No Qt here: the
// command line reads its -r/-c/-b through the same rows without the
// dialogs or the composer.
#include "media/wave_format.h"

#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace sonaweld {

// The rows of the three lists, in list order: row 0 is each list's default.
inline constexpr std::array<int, 4> kSampleRates{44100, 22050, 11025, 8000};
inline constexpr std::array<int, 2> kChannelCounts{2, 1};
inline constexpr std::array<int, 2> kBitDepths{16, 8};

struct WaveFormatRows
{
    int sampleRateIndex = 0;
    int channelsIndex = 0;
    int bitsIndex = 0;
};

// A stored or typed row outside its list falls back to the list's first
// row, so a damaged setting still yields a format the writer accepts.
media::WaveFormatEx waveFormatOf(const WaveFormatRows &rows);

// The format of `rows` written over `format`; its tag and extra size stay
// as the converter gave them.
void applyWaveFormat(const WaveFormatRows &rows, media::WaveFormatEx &format);

// The row of `value` (a number as the user types it, "8000") in `list`.
std::optional<int> rowOf(std::span<const int> list, std::string_view value);

} // namespace sonaweld
