#include "media/piece_protocol.h"

#include <new>
#include <numeric>

namespace sonaweld::media {
namespace {

// The resampler returns to the same phase at every output second only when
// it keeps one phase per output sample of the reduced rate ratio.
constexpr std::int64_t kMaxResamplerPhases = 1024;

} // namespace

PieceProtocol::PieceProtocol(const std::vector<Segment> &segments, int outputRate, bool followOn)
    : segments_(segments)
    , outputRate_(outputRate)
    , followOn_(followOn)
    , claimed_(std::make_unique<std::atomic<bool>[]>(segments.size()))
    , pieceOf_(segments.size(), 0)
{
    for (std::size_t i = 0; i < segments.size(); ++i) {
        claimed_[i].store(false);
        const Segment &segment = segments[i];
        if (segment.piece < 0)
            continue;
        if (segment.piece == 0)
            pieced_.emplace_back(std::make_unique<PiecedClip>());
        PiecedClip &clip = *pieced_.back();
        clip.segments.push_back(i);
        ++clip.piecesLeft;
        pieceOf_[i] = pieced_.size() - 1;
    }
}

// Decides once per long clip, on whichever worker gets there first, whether
// its pieces can be decoded apart: only when every sample's place in the
// source is known exactly and the resampler's phase returns to the same
// value at every output second.
void PieceProtocol::decide(int clip, PiecedClip &pieced, PieceWorker &worker)
{
    auto index = std::make_shared<PacketIndex>();
    std::vector<std::int64_t> starts;
    for (const std::size_t segment : pieced.segments)
        starts.push_back(segments_[segment].clipOffset);
    Result built;
    try {
        built = worker.indexSource(clip, starts, *index);
    } catch (const std::bad_alloc &) {
        // No memory for the index: the clip is simply read in order.
        built = fail(Code::kOutOfMemory);
    }
    // A stop ends the clip; anything else the index cannot make sense of is
    // left to the one worker reading the clip in order, which reports what
    // it meets itself.
    if (built.code == Code::kAbort) {
        pieced.decided = built;
        return;
    }
    if (built.failed())
        return;
    const std::int64_t out = outputRate_;
    if (out / std::gcd<std::int64_t>(index->sampleRate, out) > kMaxResamplerPhases)
        return;
    pieced.index = std::move(index);
}

void PieceProtocol::decideOnce(int clip, PiecedClip &pieced, PieceWorker &worker)
{
    std::call_once(pieced.once, [&] { decide(clip, pieced, worker); });
}

// The worker with a clip's first piece decodes from the start and goes on
// into each next piece that nobody has taken yet: that costs no seek and no
// warm-up, and keeps it busy while another worker indexes the clip. The
// others take pieces apart once the index is there; a clip that cannot be
// cut is left to the first worker whole.
Result PieceProtocol::render(std::size_t index, PieceWorker &worker)
{
    const Segment &segment = segments_[index];
    PiecedClip &pieced = *pieced_[pieceOf_[index]];
    const int clip = segment.clips.front();
    Result r;
    if (segment.piece == 0) {
        claimed_[index] = true;
        r = renderInOrder(pieced, 0, worker);
    } else {
        decideOnce(clip, pieced, worker);
        if (pieced.decided.failed())
            r = pieced.decided;
        else if (pieced.index && !claimed_[index].exchange(true))
            r = pieced.apartFailed ? renderInOrder(pieced, static_cast<std::size_t>(segment.piece), worker)
                                   : renderApart(index, pieced, worker);
    }
    // The index is let go with the clip's last piece; a long list of long
    // files holds one index per clip under way, not one per file.
    if (--pieced.piecesLeft == 0)
        pieced.index.reset();
    return r;
}

// Decodes the clip from its start, writing piece `from` (already claimed)
// and each later piece nobody has taken yet.
Result PieceProtocol::renderInOrder(PiecedClip &pieced, std::size_t from, PieceWorker &worker)
{
    const Segment &start = segments_[pieced.segments[from]];
    const Segment &last = segments_[pieced.segments.back()];
    const int clip = start.clips.front();
    std::unique_ptr<ClipReader> reader;
    if (Result r = worker.openReader(clip, start.clipOffset, last.end - start.begin, {}, reader); r.failed())
        return r;
    for (std::size_t n = from; n < pieced.segments.size(); ++n) {
        const std::size_t index = pieced.segments[n];
        if (n == 1 && from == 0 && !followOn_) {
            decideOnce(clip, pieced, worker);
            if (pieced.decided.failed() || pieced.index)
                return ok(); // the failure is the other pieces' to report
        }
        if (n > from && claimed_[index].exchange(true))
            return ok();
        std::int64_t at = 0;
        if (Result r = worker.copy(clip, *reader, index, at); r.failed())
            return r;
    }
    return ok();
}

Result PieceProtocol::renderApart(std::size_t index, PiecedClip &pieced, PieceWorker &worker)
{
    const Segment &segment = segments_[index];
    const int clip = segment.clips.front();
    std::int64_t at = 0;
    std::unique_ptr<ClipReader> reader;
    Result r = worker.openReader(clip, 0, segment.end - segment.begin, {pieced.index, segment.clipOffset}, reader);
    if (r)
        r = worker.copy(clip, *reader, index, at);
    if (r && reader->sought())
        ++apart_;
    if (r.code != Code::kPieceNotEntered || at > 0)
        return r;
    // The source could not be entered where the index said (a seek that
    // lands elsewhere, a packet the index does not know): from here on the
    // clip is decoded in order, by this worker, as a single worker would.
    pieced.apartFailed = true;
    ++fromStart_;
    return renderInOrder(pieced, static_cast<std::size_t>(segment.piece), worker);
}

} // namespace sonaweld::media
