#include "media/segment_plan.h"

#include <algorithm>

namespace sonaweld::media {
namespace {

void appendClip(std::vector<Segment> &segments, std::int64_t begin, std::int64_t end, int clip,
                bool fromStart, std::int64_t pieceFrames, std::int64_t wholeUpTo)
{
    if (pieceFrames <= 0 || !fromStart || end - begin <= std::max(2 * pieceFrames, wholeUpTo)) {
        segments.push_back({begin, end, {clip}});
        return;
    }
    int piece = 0;
    for (std::int64_t at = begin; at < end; at += pieceFrames, ++piece) {
        // The last piece takes the remainder rather than leaving a sliver.
        const std::int64_t stop = end - at < 2 * pieceFrames ? end : at + pieceFrames;
        segments.push_back({at, stop, {clip}, piece, at - begin});
        if (stop == end)
            break;
    }
}

} // namespace

std::vector<Segment> planSegments(const std::vector<ClipSpec> &clips, int rate, std::int64_t pieceFrames,
                                  std::int64_t wholeUpTo)
{
    struct Span
    {
        std::int64_t begin, end;
        int clip;
    };
    std::vector<Span> spans;
    for (int i = 0; i < static_cast<int>(clips.size()); ++i) {
        const std::int64_t begin = sampleAt(clips[i].start, rate);
        const std::int64_t end = sampleAt(clips[i].stop, rate);
        if (end > begin)
            spans.push_back({begin, end, i});
    }
    std::stable_sort(spans.begin(), spans.end(),
                     [](const Span &a, const Span &b) { return a.begin < b.begin; });

    std::vector<Segment> segments;
    std::int64_t cursor = 0;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const Span &s = spans[i];
        if (!segments.empty() && !segments.back().clips.empty() && s.begin < segments.back().end) {
            Segment &mix = segments.back();
            mix.end = std::max(mix.end, s.end);
            mix.clips.push_back(s.clip);
            cursor = mix.end;
            continue;
        }
        if (s.begin > cursor)
            segments.push_back({cursor, s.begin, {}});
        // A clip the next one overlaps is mixed with it, whole. (One that
        // overlaps an earlier clip has joined that clip's mix above.)
        const bool overlapped = i + 1 < spans.size() && spans[i + 1].begin < s.end;
        appendClip(segments, s.begin, s.end, s.clip, clips[s.clip].mediaStart == 0 && !overlapped,
                   pieceFrames, wholeUpTo);
        cursor = s.end;
    }
    return segments;
}

} // namespace sonaweld::media
