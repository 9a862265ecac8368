#include "media/wave_format.h"

namespace sonaweld::media {

WaveFormatEx pcmFormat(int rate, int channels, int bits)
{
    WaveFormatEx f;
    f.channels = static_cast<std::uint16_t>(channels);
    f.samplesPerSec = static_cast<std::uint32_t>(rate);
    f.bitsPerSample = static_cast<std::uint16_t>(bits);
    f.blockAlign = static_cast<std::uint16_t>(channels * (bits / 8));
    f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
    return f;
}

bool isSupportedPcm(const WaveFormatEx &f)
{
    return f.formatTag == kWaveFormatPcm && (f.bitsPerSample == 8 || f.bitsPerSample == 16)
           && f.channels >= 1 && f.channels <= 8 && f.samplesPerSec >= 1000
           && f.samplesPerSec <= 384000 && f.blockAlign == f.channels * (f.bitsPerSample / 8)
           && f.avgBytesPerSec == f.blockAlign * f.samplesPerSec;
}

std::int64_t sampleAt(ReferenceTime t, int rate)
{
    if (t <= 0)
        return 0;
    return (t / kUnitsPerSecond) * rate + ((t % kUnitsPerSecond) * rate) / kUnitsPerSecond;
}

ReferenceTime timeAt(std::int64_t frame, int rate)
{
    if (frame <= 0)
        return 0;
    return (frame / rate) * kUnitsPerSecond + ((frame % rate) * kUnitsPerSecond + rate - 1) / rate;
}

} // namespace sonaweld::media
