#include "media/join_metadata.h"

#include "media/media_tags.h"

#include <optional>
#include <string>

namespace sonaweld::media {
namespace {

// The name a player shows for a file it knows nothing about. Both
// separators count, as a list may hold paths written on either system; a
// name whose only dot is its first (".wav") keeps it, as it has no other.
std::string fileTitle(const std::string &path)
{
    const std::size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// A value every clip shares: the first clip's, until one differs or lacks it.
class CommonValue
{
public:
    void add(const std::string &value)
    {
        if (!value_)
            value_ = value;
        else if (*value_ != value)
            value_ = std::string();
    }
    std::string value() const { return value_.value_or(std::string()); }

private:
    std::optional<std::string> value_;
};

// The clips that get a chapter.
bool sounds(const ClipSpec &clip)
{
    return clip.stop > clip.start;
}

} // namespace

void placeChapters(JoinPlan &plan)
{
    std::size_t chapter = 0;
    for (std::size_t i = 0; i < plan.clips.size() && chapter < plan.chapters.size(); ++i) {
        if (sounds(plan.clips[i]))
            plan.chapters[chapter++].firstSample = plan.firstSample(i);
    }
}

void describeJoin(JoinPlan &plan)
{
    plan.chapters.clear();
    plan.tags.cover = {};
    CommonValue album;
    CommonValue artist;
    for (std::size_t i = 0; i < plan.clips.size(); ++i) {
        const ClipSpec &clip = plan.clips[i];
        if (!sounds(clip))
            continue;
        // Pictures are copied only while one is wanted: the WAV file holds
        // none, and the first found is the one kept.
        const bool wantCover = plan.kind() != OutputKind::Wav && plan.tags.cover.empty();
        MediaTags tags;
        if (readMediaTags(clip.path, tags, wantCover ? CoverRead::Read : CoverRead::Skip).failed())
            tags = {};
        plan.chapters.push_back({plan.firstSample(i), tags.title.empty() ? fileTitle(clip.path) : tags.title});
        album.add(tags.album);
        artist.add(tags.artist);
        if (plan.tags.cover.empty())
            plan.tags.cover = std::move(tags.cover);
    }
    // A joined album is titled as the album; the clips' own titles are its
    // chapters, never the whole file's.
    plan.tags.set("album", album.value());
    plan.tags.set("artist", artist.value());
    plan.tags.set("title", album.value());
}

} // namespace sonaweld::media
