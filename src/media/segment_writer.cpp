#include "media/segment_writer.h"

#include "media/clip_reader.h"
#include "media/pcm_mix.h"

#include <algorithm>
#include <cstring>

namespace sonaweld::media {

SegmentWriter::SegmentWriter(const WriterContext &run, std::size_t slot)
    : run_(run)
    , slot_(slot)
    , buffer_(static_cast<std::size_t>(run.options.chunkFrames) * run.format.blockAlign)
{
}

Result SegmentWriter::render(std::size_t index)
{
    if (run_.segments[index].piece >= 0)
        return run_.pieces.render(index, *this);
    if (run_.segments[index].clips.empty())
        return renderSilence(index);
    return renderStretch(index);
}

// Every reader is opened here, watched: opening is where a dead mount hangs.
// An open the cancel cut short may fail in any way (a stream whose details
// were not all read looks damaged): that is the cancel's abort.
Result SegmentWriter::openReader(int clip, std::int64_t skipFrames, std::int64_t frames, PieceStart piece,
                                 std::unique_ptr<ClipReader> &reader)
{
    reader = std::make_unique<ClipReader>(run_.clips[static_cast<std::size_t>(clip)].path, run_.format, skipFrames,
                                          frames, run_.cancel, run_.options.faults, std::move(piece));
    const Result r = watched(clip, [&] { return reader->open(); });
    return r.failed() && run_.cancel.load() ? fail(Code::kAbort) : r;
}

// Reading through a long file on a slow share may take a while; the
// builder shows it is alive with every packet.
Result SegmentWriter::indexSource(int clip, const std::vector<std::int64_t> &starts, PacketIndex &index)
{
    return watched(clip, [&] {
        return buildPacketIndex(run_.clips[static_cast<std::size_t>(clip)].path, run_.cancel, index, starts,
                                static_cast<int>(run_.format.samplesPerSec), [this] { run_.watchdog.renew(slot_); });
    });
}

// Fills segment `index` from `reader`, from the segment's frame `at` to its
// end; `at` ends where the writing stopped. A reader may span several
// segments (the pieces of a clip read in order).
Result SegmentWriter::copy(int clip, ClipReader &reader, std::size_t index, std::int64_t &at)
{
    if (shaped(index))
        return copyShaped(clip, reader, index, at);
    const std::int64_t length = run_.segments[index].end - run_.segments[index].begin;
    while (at < length) {
        int produced = 0;
        const int want = static_cast<int>(std::min<std::int64_t>(run_.options.chunkFrames, length - at));
        if (Result r = watched(clip, [&] { return reader.read(buffer_.data(), want, produced); }); r.failed())
            return r;
        if (produced == 0)
            return fail(Code::kUnexpected, "Reading " + reader.path() + " ended inside its span");
        if (Result r = write(index, at, buffer_.data(), produced); r.failed())
            return r;
        at += produced;
    }
    return ok();
}

// Whether the segment is more than its clip's samples as decoded: other
// clips mixed in, or a gain or fade of its own.
bool SegmentWriter::shaped(std::size_t index) const
{
    const Segment &segment = run_.segments[index];
    if (segment.clips.size() > 1)
        return true;
    const ClipSpec &clip = run_.clips[static_cast<std::size_t>(segment.clips.front())];
    const int rate = static_cast<int>(run_.format.samplesPerSec);
    const std::int64_t begin = sampleAt(clip.start, rate);
    const std::int64_t end = sampleAt(clip.stop, rate);
    return clip.gain != 1.0 || segment.begin < begin + clip.fadeInFrames || segment.end > end - clip.fadeOutFrames;
}

MixInput SegmentWriter::mixInput(int clip) const
{
    const ClipSpec &spec = run_.clips[static_cast<std::size_t>(clip)];
    const int rate = static_cast<int>(run_.format.samplesPerSec);
    MixInput input;
    input.clip = clip;
    input.begin = sampleAt(spec.start, rate);
    input.end = sampleAt(spec.stop, rate);
    input.shape = &spec;
    return input;
}

// The clips mixed into segment `index` from output frame `from` on, each
// read from where it is at that frame.
Result SegmentWriter::openMixed(std::size_t index, std::int64_t from, std::vector<MixInput> &inputs)
{
    const Segment &segment = run_.segments[index];
    const int rate = static_cast<int>(run_.format.samplesPerSec);
    for (std::size_t k = 1; k < segment.clips.size(); ++k) {
        MixInput input = mixInput(segment.clips[k]);
        const std::int64_t lo = std::max(from, input.begin);
        const std::int64_t hi = std::min(segment.end, input.end);
        if (lo >= hi)
            continue;
        const ClipSpec &spec = *input.shape;
        if (Result r = openReader(input.clip, sampleAt(spec.mediaStart, rate) + (lo - input.begin), hi - lo, {},
                                  input.reader);
            r.failed())
            return r;
        inputs.push_back(std::move(input));
    }
    return ok();
}

// The segment's clip (read by `reader`, which the caller owns) summed with
// the clips mixed into it, each at its gain and fades.
Result SegmentWriter::copyShaped(int clip, ClipReader &reader, std::size_t index, std::int64_t &at)
{
    const Segment &segment = run_.segments[index];
    std::vector<MixInput> inputs;
    inputs.push_back(mixInput(clip));
    if (Result r = openMixed(index, segment.begin + at, inputs); r.failed())
        return r;
    PcmMix mix(run_.format, run_.options.chunkFrames);
    const auto read = [&](MixInput &input, std::uint8_t *out, int frames) {
        ClipReader &from = input.reader ? *input.reader : reader;
        return watched(input.clip, [&] { return readFully(from, out, frames, run_.format.blockAlign); });
    };
    const std::int64_t length = segment.end - segment.begin;
    while (at < length) {
        const std::int64_t n = std::min<std::int64_t>(run_.options.chunkFrames, length - at);
        if (Result r = mix.mix(inputs, segment.begin + at, n, buffer_.data(), read); r.failed())
            return r;
        if (Result r = write(index, at, buffer_.data(), n); r.failed())
            return r;
        at += n;
    }
    return ok();
}

Result SegmentWriter::renderSilence(std::size_t index)
{
    std::memset(buffer_.data(), silenceByte(run_.format), buffer_.size());
    const std::int64_t length = run_.segments[index].end - run_.segments[index].begin;
    for (std::int64_t at = 0; at < length;) {
        if (run_.cancel.load())
            return fail(Code::kAbort);
        const std::int64_t n = std::min<std::int64_t>(run_.options.chunkFrames, length - at);
        if (Result r = write(index, at, buffer_.data(), n); r.failed())
            return r;
        at += n;
    }
    return ok();
}

// A stretch read whole by one worker: its clip from where the stretch
// starts in the source.
Result SegmentWriter::renderStretch(std::size_t index)
{
    const Segment &segment = run_.segments[index];
    const int clip = segment.clips.front();
    std::unique_ptr<ClipReader> reader;
    if (Result r = openReader(clip, segment.clipOffset, segment.end - segment.begin, {}, reader); r.failed())
        return r;
    std::int64_t at = 0;
    return copy(clip, *reader, index, at);
}

Result SegmentWriter::write(std::size_t index, std::int64_t at, const std::uint8_t *data, std::int64_t frames)
{
    if (run_.options.faults) {
        const std::vector<int> &clips = run_.segments[index].clips;
        const std::string source =
            clips.empty() ? std::string() : run_.clips[static_cast<std::size_t>(clips[0])].path;
        if (const int injected = injectedFault(run_.options.faults, "ExportRun.Write:" + source); injected < 0)
            return fail(injected);
    }
    return run_.output.write(index, at, data, frames);
}

} // namespace sonaweld::media
