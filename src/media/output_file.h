#pragma once

#include "media/frame_sink.h"
#include "media/join_plan.h"
#include "media/media_error.h"
#include "media/segment_plan.h"
#include "media/wav_file.h"
#include "media/wave_format.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

namespace sonaweld::media {

// The output a run's workers fill from several threads, every segment at
// its own place: a WAV file, or an encoded file fed in order. The progress
// (and a WAV file's header) follow the prefix of fully written segments. Writes pass a gate that closing shuts: a worker left
// behind that wakes after the close writes nothing, since the descriptor
// may by then belong to another file.
class OutputFile
{
public:
    // `segments` is kept by reference and must outlive the file.
    explicit OutputFile(const std::vector<Segment> &segments);
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Creates the plan's output; an encoder holds at most `windowFrames`
    // frames ahead of what it has taken.
    Result create(const JoinPlan &plan, std::uint64_t rf64Threshold, std::int64_t windowFrames);
    // Writes `frames` frames from frame `at` of segment `index` on; fails
    // with Code::kAbort once the file is closed.
    Result write(std::size_t index, std::int64_t at, const std::uint8_t *data, std::int64_t frames);
    // Brings the header up to the written prefix.
    Result commit();
    // Wakes writers waiting for an encoder's room: the run is ending.
    void interrupt();
    // Cuts the file after the written prefix and closes it; after a stop,
    // an encoded file ends where its encoder is rather than waiting for it
    // to take every written frame.
    Result close(bool stopped = false);

    // Frames the file holds or is sure to hold (an encoder may lag behind
    // the writers); once closed, those the file holds.
    std::int64_t framesDone() const;
    // Frames of the fully written prefix.
    std::int64_t writtenFrames() const { return writtenPrefix(); }
    std::int64_t totalFrames() const { return segments_.empty() ? 0 : segments_.back().end; }

private:
    std::int64_t writtenPrefix() const;

    const std::vector<Segment> &segments_;
    std::unique_ptr<std::atomic<std::int64_t>[]> progress_; // frames written per segment
    std::unique_ptr<FrameSink> file_;
    std::shared_mutex gate_; // writers hold it shared, closing alone
    bool closed_ = false;    // under gate_
    // The frames the file was closed with; below 0 while it is open (an
    // atomic cannot hold an optional, and framesDone() reads it unlocked).
    std::atomic<std::int64_t> closedFrames_{-1};
};

} // namespace sonaweld::media
