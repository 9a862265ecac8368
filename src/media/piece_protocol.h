#pragma once

#include "media/clip_reader.h"
#include "media/media_error.h"
#include "media/packet_index.h"
#include "media/segment_plan.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace sonaweld::media {

// What the piece protocol asks of the worker running it. Every call into a
// source goes through here, so the worker can watch it.
class PieceWorker
{
public:
    // Indexes `clip`'s source for pieces starting at `starts` (output
    // frames from the source's start), as buildPacketIndex does.
    virtual Result indexSource(int clip, const std::vector<std::int64_t> &starts, PacketIndex &index) = 0;
    // Makes and opens a reader of `clip` for `frames` output frames from
    // output frame `skipFrames`, or entered at `piece` when it has an index.
    virtual Result openReader(int clip, std::int64_t skipFrames, std::int64_t frames, PieceStart piece,
                              std::unique_ptr<ClipReader> &reader) = 0;
    // Fills segment `index` from `reader`, from the segment's frame `at` to
    // its end; `at` ends where the writing stopped.
    virtual Result copy(int clip, ClipReader &reader, std::size_t index, std::int64_t &at) = 0;

protected:
    ~PieceWorker() = default;
};

// The pieces of long clips (planSegments cuts them) are decoded by several
// workers at once and still give the bytes one worker decoding each clip
// from its start gives. A worker that takes a piece claims it; the first
// one at a clip's later pieces builds the packet index the others share;
// a clip that cannot be entered exactly is decoded in order instead.
class PieceProtocol
{
public:
    PieceProtocol(const std::vector<Segment> &segments, int outputRate, bool followOn);
    PieceProtocol(const PieceProtocol &) = delete;
    PieceProtocol &operator=(const PieceProtocol &) = delete;

    // Renders piece segment `index`, or leaves it to the worker that took
    // it already.
    Result render(std::size_t index, PieceWorker &worker);

    // Pieces decoded apart from the start of their source, and those that
    // had to be decoded from the start after all.
    int apart() const { return apart_.load(); }
    int fromStart() const { return fromStart_.load(); }

private:
    // A long clip cut into pieces.
    struct PiecedClip
    {
        std::once_flag once;
        Result decided;                           // a source that cannot be read at all
        std::shared_ptr<const PacketIndex> index; // null: decoded whole, in order
        std::atomic<bool> apartFailed{false};     // a piece could not be entered: in order from there
        std::atomic<int> piecesLeft{0};
        std::vector<std::size_t> segments;
    };

    void decide(int clip, PiecedClip &pieced, PieceWorker &worker);
    void decideOnce(int clip, PiecedClip &pieced, PieceWorker &worker);
    Result renderInOrder(PiecedClip &pieced, std::size_t from, PieceWorker &worker);
    Result renderApart(std::size_t index, PiecedClip &pieced, PieceWorker &worker);

    const std::vector<Segment> &segments_;
    const int outputRate_;
    const bool followOn_;
    std::vector<std::unique_ptr<PiecedClip>> pieced_;
    // Pieces some worker is writing or has written.
    std::unique_ptr<std::atomic<bool>[]> claimed_;
    std::vector<std::size_t> pieceOf_; // the pieced_ entry of a piece's segment
    std::atomic<int> apart_{0};
    std::atomic<int> fromStart_{0};
};

} // namespace sonaweld::media
