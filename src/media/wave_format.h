#pragma once

#include <cstdint>

namespace sonaweld::media {

// 100-nanosecond units, the unit of every duration and timeline time.
using ReferenceTime = std::int64_t;
inline constexpr ReferenceTime kUnitsPerSecond = 10'000'000;

inline constexpr std::uint16_t kWaveFormatPcm = 1;

// The PCM wave format record that the converter negotiates.
struct WaveFormatEx
{
    std::uint16_t formatTag = kWaveFormatPcm;
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSec = 44100;
    std::uint32_t avgBytesPerSec = 176400;
    std::uint16_t blockAlign = 4;
    std::uint16_t bitsPerSample = 16;
    std::uint16_t cbSize = 0;

    bool operator==(const WaveFormatEx &) const = default;
};

WaveFormatEx pcmFormat(int rate, int channels, int bits);
bool isSupportedPcm(const WaveFormatEx &format);

// The byte that fills silence: 8-bit PCM is unsigned with its zero at 0x80,
// 16-bit is signed.
inline std::uint8_t silenceByte(const WaveFormatEx &format)
{
    return format.bitsPerSample == 8 ? 0x80 : 0x00;
}

// The first output sample at timeline time `t` for `rate` samples per
// second: floor(t * rate / 10^7), without overflow for any t >= 0.
std::int64_t sampleAt(ReferenceTime t, int rate);

// The earliest timeline time whose sample is `frame`: sampleAt(timeAt(f)) == f,
// so a place decided in samples survives the plan's times exactly.
ReferenceTime timeAt(std::int64_t frame, int rate);

} // namespace sonaweld::media
