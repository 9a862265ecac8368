#include "media/wav_markers.h"

#include "media/riff_bytes.h"

#include <cstring>
#include <string>
#include <string_view>

namespace sonaweld::media {
namespace {

constexpr std::int64_t kCueLimit = 0xFFFFFFFFll;

// Readers stop a label at its first zero byte, so a title never carries one
// in its middle.
std::string_view labelText(const std::string &title)
{
    return std::string_view(title).substr(0, title.find('\0'));
}

void putCuePoints(std::vector<std::uint8_t> &b, const std::vector<Chapter> &markers)
{
    putTag(b, "cue ");
    put32(b, static_cast<std::uint32_t>(4 + 24 * markers.size()));
    put32(b, static_cast<std::uint32_t>(markers.size()));
    std::uint32_t id = 0;
    for (const Chapter &marker : markers) {
        const auto sample = static_cast<std::uint32_t>(marker.firstSample);
        put32(b, ++id);
        // Without a playlist chunk the play order is the file's own, so the
        // position is the sample offset too.
        put32(b, sample);
        putTag(b, "data");
        put32(b, 0); // chunk start: the one data chunk
        put32(b, 0); // block start: PCM has no blocks to find
        put32(b, sample);
    }
}

void putLabels(std::vector<std::uint8_t> &b, const std::vector<Chapter> &markers)
{
    const std::size_t listAt = b.size();
    putTag(b, "LIST");
    put32(b, 0); // filled in below, once the labels' sizes are known
    putTag(b, "adtl");
    std::uint32_t id = 0;
    for (const Chapter &marker : markers) {
        const std::string_view text = labelText(marker.title);
        const auto size = static_cast<std::uint32_t>(4 + text.size() + 1);
        putTag(b, "labl");
        put32(b, size);
        put32(b, ++id);
        b.insert(b.end(), text.begin(), text.end());
        b.push_back(0);
        if (size & 1)
            b.push_back(0);
    }
    std::vector<std::uint8_t> listSize;
    put32(listSize, static_cast<std::uint32_t>(b.size() - listAt - 8));
    std::memcpy(&b[listAt + 4], listSize.data(), 4);
}

} // namespace

std::vector<Chapter> markersWithinAudio(const std::vector<Chapter> &markers, std::int64_t frames)
{
    // A plain RIFF file holds fewer than 2^32 frames, so the 32-bit limit
    // only ever drops markers of an RF64 file.
    std::vector<Chapter> kept;
    for (const Chapter &marker : markers) {
        if (marker.firstSample >= 0 && marker.firstSample < frames && marker.firstSample <= kCueLimit)
            kept.push_back(marker);
    }
    return kept;
}

std::vector<std::uint8_t> markerChunks(const std::vector<Chapter> &markers)
{
    std::vector<std::uint8_t> b;
    if (markers.empty())
        return b;
    putCuePoints(b, markers);
    putLabels(b, markers);
    return b;
}

} // namespace sonaweld::media
