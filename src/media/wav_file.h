#pragma once

#include "media/frame_sink.h"
#include "media/join_plan.h"
#include "media/media_error.h"
#include "media/wave_format.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sonaweld::media {

// A RIFF WAVE file whose length is known before it is written, filled from
// several threads at frame offsets. Its header always describes a prefix of
// frames that is fully written, so a reader recovers the audio even if the
// program dies; finish() leaves exact sizes. Past `rf64Threshold` bytes of
// RIFF payload the file becomes RF64: a JUNK chunk reserved after "WAVE"
// turns into the ds64 chunk.
class WavFile final : public FrameSink
{
public:
    static constexpr std::uint64_t kRiffLimit = 0xFFFFFFFFu;

    WavFile() = default;
    ~WavFile() override;
    WavFile(const WavFile &) = delete;
    WavFile &operator=(const WavFile &) = delete;

    // Creates (or overwrites) `path` for `totalFrames` frames of `format`.
    Result create(const std::string &path, const WaveFormatEx &format, std::int64_t totalFrames,
                  std::uint64_t rf64Threshold = kRiffLimit);

    Result writeFrames(std::int64_t frameOffset, const std::uint8_t *data, std::int64_t frames) override;

    // Rewrites the header for the first `frames` frames, all written.
    Result commitPrefix(std::int64_t frames) override;

    // Cuts the file after the first `frames` frames (and the pad byte an odd
    // data chunk needs), writes the exact header and closes it; a failure to
    // close is a failure to write.
    Result finish(std::int64_t frames) override;

    // Markers finish() writes after the data: a `cue ` chunk of their
    // places and a `LIST`/`adtl` chunk of their titles. Those past the
    // frames finish() keeps are left out, as are those an RF64 file's cue
    // points cannot place (beyond 2^32 - 1 samples).
    void setMarkers(std::vector<Chapter> markers) { markers_ = std::move(markers); }

    std::int64_t headerBytes() const { return headerBytes_; }

private:
    Result writeAt(std::uint64_t offset, const void *data, std::uint64_t size);
    // The header for `frames` frames followed by `trailerBytes` of chunks.
    Result writeHeader(std::int64_t frames, std::uint64_t trailerBytes);
    // The marker chunks finish() writes after `frames` frames.
    std::vector<std::uint8_t> trailerFor(std::int64_t frames) const;
    Result systemFailure(Operation what);
    Result close();

    std::string path_;
    WaveFormatEx format_;
    std::uint64_t rf64Threshold_ = kRiffLimit;
    std::int64_t headerBytes_ = 44;
    bool reserved_ = false;
    std::vector<Chapter> markers_;
    int fd_ = -1;
#ifdef _WIN32
    std::mutex seekLock_;
#endif
};

} // namespace sonaweld::media
