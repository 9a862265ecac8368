#include "media/output_kind.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace sonaweld::media {
namespace {

constexpr std::array kFormats{
    OutputFormat{OutputKind::Wav, "WAV file", ".wav", "", "", ""},
    OutputFormat{OutputKind::Flac, "FLAC file", ".flac", "flac", "flac", "FLAC encoder (flac)"},
    OutputFormat{OutputKind::Mp3, "MP3 file", ".mp3", "mp3", "libmp3lame", "MP3 encoder (libmp3lame)"},
    OutputFormat{OutputKind::Opus, "Opus file", ".opus", "ogg", "libopus", "Opus encoder (libopus)"},
    OutputFormat{OutputKind::Vorbis, "Ogg Vorbis file", ".ogg", "ogg", "libvorbis", "Vorbis encoder (libvorbis)"},
    OutputFormat{OutputKind::Aac, "M4A file", ".m4a", "ipod", "aac", "AAC encoder (aac)"},
    OutputFormat{OutputKind::Aac, "M4B audiobook", ".m4b", "ipod", "aac", "AAC encoder (aac)"},
};

bool endsWithNoCase(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(), text.end() - static_cast<std::ptrdiff_t>(tail.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

} // namespace

std::span<const OutputFormat> outputFormats()
{
    return kFormats;
}

const OutputFormat &outputFormatOf(std::string_view path)
{
    for (const OutputFormat &format : kFormats) {
        if (endsWithNoCase(path, format.extension))
            return format;
    }
    return kFormats.front();
}

bool isLossy(OutputKind kind)
{
    return kind != OutputKind::Wav && kind != OutputKind::Flac;
}

int defaultBitrateKbps(OutputKind kind, int channels)
{
    switch (kind) {
    case OutputKind::Opus: return channels > 1 ? 128 : 64;
    case OutputKind::Aac: return channels > 1 ? 192 : 96;
    default: return 0;
    }
}

} // namespace sonaweld::media
