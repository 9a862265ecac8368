#pragma once

#include "media/export_job.h"
#include "media/output_file.h"
#include "media/pcm_mix.h"
#include "media/piece_protocol.h"
#include "media/source_watchdog.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace sonaweld::media {


// What a run's workers write segments with; the run owns all of it and
// outlives them.
struct WriterContext
{
    const std::vector<ClipSpec> &clips;
    const std::vector<Segment> &segments;
    const WaveFormatEx &format;
    const ExportOptions &options;
    const std::atomic<bool> &cancel;
    SourceWatchdog &watchdog;
    PieceProtocol &pieces;
    OutputFile &output;
};

// Renders whole segments into the output on one worker thread, with the
// worker's own buffer: silence, a clip, a mix, or a piece of a long clip.
// Every call it makes into a source is watched under the worker's slot.
class SegmentWriter final : public PieceWorker
{
public:
    SegmentWriter(const WriterContext &run, std::size_t slot);

    Result render(std::size_t index);

    Result indexSource(int clip, const std::vector<std::int64_t> &starts, PacketIndex &index) override;
    Result openReader(int clip, std::int64_t skipFrames, std::int64_t frames, PieceStart piece,
                      std::unique_ptr<ClipReader> &reader) override;
    Result copy(int clip, ClipReader &reader, std::size_t index, std::int64_t &at) override;

private:
    Result renderSilence(std::size_t index);
    Result renderStretch(std::size_t index);
    bool shaped(std::size_t index) const;
    MixInput mixInput(int clip) const;
    Result openMixed(std::size_t index, std::int64_t from, std::vector<MixInput> &inputs);
    Result copyShaped(int clip, ClipReader &reader, std::size_t index, std::int64_t &at);
    Result write(std::size_t index, std::int64_t at, const std::uint8_t *data, std::int64_t frames);
    template <typename Call>
    Result watched(int clip, Call &&call)
    {
        return run_.watchdog.call(slot_, clip, std::forward<Call>(call));
    }

    const WriterContext run_;
    const std::size_t slot_;
    std::vector<std::uint8_t> buffer_;
};

} // namespace sonaweld::media
