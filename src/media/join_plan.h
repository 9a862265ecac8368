#pragma once

#include "media/output_kind.h"
#include "media/wave_format.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sonaweld::media {

// One source placed in the output: its span of the timeline, and where in
// the source that span starts.
struct ClipSpec
{
    std::string path;
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    ReferenceTime mediaStart = 0;
    // The clip's level: a gain, and how many frames at each end of its span
    // fade in and out (quarter-sine) where it is crossfaded with its
    // neighbours. A plain join leaves them at 1 and 0.
    double gain = 1.0;
    std::int64_t fadeInFrames = 0;
    std::int64_t fadeOutFrames = 0;
};

// A chapter of the joined file: a clip's first output sample and its title
// (UTF-8), as the cue sheet titles it.
struct Chapter
{
    std::int64_t firstSample = 0;
    std::string title;
};

// A picture for the formats that hold one.
struct CoverPicture
{
    std::vector<std::uint8_t> data;
    std::string mimeType; // "image/jpeg" or "image/png"

    bool empty() const { return data.empty(); }
};

// The joined file's own tags. Keys are FFmpeg's generic names in lower case
// ("album", "artist", "title", ...); each muxer writes them in its own form.
struct OutputTags
{
    std::vector<std::pair<std::string, std::string>> values;
    CoverPicture cover;

    // The value of `key`, or nullptr.
    const std::string *find(const std::string &key) const;
    // Sets `key`; an empty value removes it.
    void set(const std::string &key, const std::string &value);
};

// One entry of the ordered list to join, with its measured length.
struct PlanItem
{
    std::string path;
    ReferenceTime length = 0;
};

// Everything a join writes, decided before anything is decoded: the clips
// in list order with their exact places, and the output file and format.
// The window and the command line both join from one.
struct JoinPlan
{
    std::vector<ClipSpec> clips;
    std::string outputPath;
    WaveFormatEx format;
    // A lossy format's bit rate in kbit/s; 0 for the format's default.
    int bitrateKbps = 0;
    // In list order, one per clip that plays something; none when the
    // caller leaves chapters out. Every format holds them in its own form.
    std::vector<Chapter> chapters;
    OutputTags tags;

    // The output's format follows its file name's extension.
    OutputKind kind() const { return outputKindOf(outputPath); }
    int rate() const { return static_cast<int>(format.samplesPerSec); }
    // Clip i covers output samples [firstSample(i), sampleAt(stop)).
    std::int64_t firstSample(std::size_t i) const { return sampleAt(clips[i].start, rate()); }
    // The output ends with the clip that ends last.
    std::int64_t totalFrames() const;
};

// The items back to back from time 0, each played from its beginning for
// its length. Laying stops at the first clip that reaches the end, so empty
// items after the last sounding one get no clip; one in the middle gets an
// empty clip, and a list of empty items gets one empty clip.
JoinPlan planJoin(const std::vector<PlanItem> &items, std::string outputPath, const WaveFormatEx &format);

} // namespace sonaweld::media
