#pragma once

// What FFmpeg's own filters make of a file, for holding the joiner's joints
// and levels against: each runs the ffmpeg tool, a program that shares none
// of the joiner's code above the decoders.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace sonaweld::test {

// The joined file's sample format: interleaved at `rate` with `channels`,
// signed 16-bit or unsigned 8-bit. Sources are decoded and converted to it
// before any filter sees them, as the joiner decides on what it writes.
struct PcmFormat
{
    int rate = 44100;
    int channels = 2;
    int bits = 16;
};

// `clips` in order, each pair overlapping by its entry of `joints` frames,
// the first fading out and the second in on quarter sines (acrossfade's
// qsin curves). The mix is computed in double precision and rounded once.
// 8-bit samples come back as they are stored, 0 to 255.
std::vector<std::int16_t> crossfadeReference(const QStringList &clips, const std::vector<std::int64_t> &joints,
                                             PcmFormat format = {});

// What silenceremove leaves of a file when leading and (by reversing it)
// trailing frames are removed that have no channel above `db` dBFS.
// -1 in both when ffmpeg fails.
struct SilenceTrim
{
    std::int64_t lead = -1; // frames removed at the start
    std::int64_t kept = -1; // frames left between the two silences
};
SilenceTrim silenceReference(const QString &path, double db, PcmFormat format = {});

// The ebur128 filter's integrated loudness (LUFS, to 0.001; -infinity when
// nothing passes its gates) and true peak (dBTP) of frames [from, to) of
// the file; `to` < 0: to its end.
struct LoudnessReading
{
    bool valid = false;
    double integrated = 0;
    double truePeakDb = 0;
};
LoudnessReading loudnessReference(const QString &path, std::int64_t from = 0, std::int64_t to = -1,
                                  PcmFormat format = {});

// Frames [from, to) of a file; `to` < 0: to its end.
struct PcmSpan
{
    QString path;
    std::int64_t from = 0;
    std::int64_t to = -1;
};
// The same over several spans played one after another, measured as one
// stream.
LoudnessReading loudnessReference(const std::vector<PcmSpan> &spans, PcmFormat format = {});

} // namespace sonaweld::test
