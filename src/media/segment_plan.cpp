#include "media/segment_plan.h"

#include <algorithm>
#include <iterator>

namespace sonaweld::media {
namespace {

// A clip's span in the output and where in its source that span starts.
struct Span
{
    std::int64_t begin, end, skip;
    int clip;
};

// The clips after `first` that sound somewhere in [from, to): they are
// mixed into that stretch.
std::vector<int> mixedInto(const std::vector<Span> &spans, std::size_t first, std::int64_t from, std::int64_t to)
{
    std::vector<int> mixed;
    for (std::size_t j = first + 1; j < spans.size() && spans[j].begin < to; ++j) {
        if (spans[j].end > from)
            mixed.push_back(spans[j].clip);
    }
    return mixed;
}

std::vector<int> within(const std::vector<int> &mixed, const std::vector<Span> &byClip, std::int64_t from,
                        std::int64_t to)
{
    std::vector<int> inside;
    for (const int c : mixed) {
        const Span &s = byClip[static_cast<std::size_t>(c)];
        if (s.begin < to && s.end > from)
            inside.push_back(c);
    }
    return inside;
}

// Cuts a long stretch of one clip at whole seconds of its source, so the
// pieces start where the piece index can enter it; the clips mixed into the
// stretch go with the pieces they reach.
void appendStretch(std::vector<Segment> &segments, const Segment &stretch, const std::vector<Span> &byClip,
                   std::int64_t pieceFrames, std::int64_t wholeUpTo)
{
    const std::int64_t length = stretch.end - stretch.begin;
    if (pieceFrames <= 0 || length <= std::max(2 * pieceFrames, wholeUpTo)) {
        segments.push_back(stretch);
        return;
    }
    const std::vector<int> mixed(stretch.clips.begin() + 1, stretch.clips.end());
    const std::int64_t sourceEnd = stretch.clipOffset + length;
    int piece = 0;
    for (std::int64_t at = stretch.clipOffset; at < sourceEnd; ++piece) {
        // The last piece takes the remainder rather than leaving a sliver.
        const std::int64_t next = (at / pieceFrames + 1) * pieceFrames;
        const std::int64_t stop = sourceEnd - next < pieceFrames ? sourceEnd : next;
        Segment cut{stretch.begin + (at - stretch.clipOffset), stretch.begin + (stop - stretch.clipOffset),
                    {stretch.clips.front()}, piece, at};
        const std::vector<int> reached = within(mixed, byClip, cut.begin, cut.end);
        cut.clips.insert(cut.clips.end(), reached.begin(), reached.end());
        segments.push_back(std::move(cut));
        at = stop;
    }
}

} // namespace

std::vector<Segment> planSegments(const std::vector<ClipSpec> &clips, int rate, std::int64_t pieceFrames,
                                  std::int64_t wholeUpTo)
{
    std::vector<Span> byClip;
    for (int i = 0; i < static_cast<int>(clips.size()); ++i) {
        const ClipSpec &c = clips[static_cast<std::size_t>(i)];
        byClip.push_back({sampleAt(c.start, rate), sampleAt(c.stop, rate), sampleAt(c.mediaStart, rate), i});
    }
    std::vector<Span> spans;
    std::copy_if(byClip.begin(), byClip.end(), std::back_inserter(spans),
                 [](const Span &s) { return s.end > s.begin; });
    std::stable_sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.begin < b.begin; });

    // Each clip is written from where the output before it ends to its own
    // end; a clip that starts before that is mixed in from its start, and
    // goes on in a stretch of its own from there. So a crossfade decodes
    // only the overlap twice, and each clip's long middle stays on its own.
    std::vector<Segment> segments;
    std::int64_t cursor = 0;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const Span &s = spans[i];
        if (s.end <= cursor)
            continue; // wholly mixed into the stretches before
        const std::int64_t from = std::max(s.begin, cursor);
        if (from > cursor)
            segments.push_back({cursor, from, {}});
        Segment stretch{from, s.end, {s.clip}, -1, s.skip + (from - s.begin)};
        const std::vector<int> mixed = mixedInto(spans, i, from, s.end);
        stretch.clips.insert(stretch.clips.end(), mixed.begin(), mixed.end());
        appendStretch(segments, stretch, byClip, pieceFrames, wholeUpTo);
        cursor = s.end;
    }
    return segments;
}

} // namespace sonaweld::media
