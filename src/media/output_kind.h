#pragma once

#include <span>
#include <string_view>

namespace sonaweld::media {

// What a join writes, chosen by the output file's extension.
enum class OutputKind { Wav, Flac, Mp3, Opus, Vorbis, Aac };

// One output format as the window offers it and FFmpeg makes it.
struct OutputFormat
{
    OutputKind kind;
    // The entry of the save dialog's filter list, and the extension a name
    // typed without one takes from it.
    std::string_view description;
    std::string_view extension; // with its dot
    // FFmpeg's names for the muxer and encoder; empty for the WAV, which is
    // our own.
    std::string_view muxer;
    std::string_view encoder;
    // How a message names the encoder that this FFmpeg may lack.
    std::string_view encoderLabel;
};

// Every output format in the save dialog's order: the WAV file first.
// M4A and M4B are both AAC in MP4, and both are listed.
std::span<const OutputFormat> outputFormats();

// The format an output path asks for, by its extension, regardless of case;
// a name with another extension, or none, is a WAV file.
const OutputFormat &outputFormatOf(std::string_view path);
inline OutputKind outputKindOf(std::string_view path) { return outputFormatOf(path).kind; }

// Whether the kind is lossy: it ignores the bits and takes a bit rate.
bool isLossy(OutputKind kind);

// The bit rate a lossy format is written at by default, in kbit/s; 0 where
// the format is written at a quality rather than a rate (MP3 and Vorbis).
int defaultBitrateKbps(OutputKind kind, int channels);

} // namespace sonaweld::media
