#pragma once

#include "media/audio_input.h"
#include "media/media_error.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sonaweld::media {

// Where each packet of a source's audio stream lies in the file and which
// decoded sample it starts with, so that a worker can start decoding in
// the middle of the source and still know the exact place of every sample
// it decodes. Built only for sources where that knowledge is exact.
struct PacketIndex
{
    int sampleRate = 0;
    std::vector<std::int64_t> pos;         // byte position, strictly increasing
    std::vector<std::int64_t> timestamp;   // in the stream's time base, for seeking
    std::vector<std::int64_t> firstSample; // decoded samples before the packet, less the start's trim
    std::vector<std::int64_t> number;      // the packet's place among all of the stream's packets
    // The trim the demuxer asked of the decoder for the few packets that
    // carry one, as read from the start: after a seek a demuxer may time
    // packets differently and trim elsewhere.
    std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> trims; // by position

    // The packet at byte `position`, or -1.
    std::ptrdiff_t packetAt(std::int64_t position) const;
    // The last packet whose first sample is at or before `sample`.
    std::ptrdiff_t packetHolding(std::int64_t sample) const;
    // The trim recorded for the packet at `position`, or null.
    const std::vector<std::uint8_t> *trimAt(std::int64_t position) const;
};

// The part of an MPEG audio frame header (layer I, II or III) that fixes
// what the frame holds.
struct MpegHeader
{
    int version = -1;
    int layer = 0; // 1, 2 or 3
    int rateIndex = -1;
    bool mono = false;
    bool crc = false; // two bytes of CRC follow the header
    int length = 0;  // bytes, header included
    int rate = 0;    // samples a second
    int samples = 0; // per channel: 384 (I), 1152 (II; III in MPEG-1), 576 (III in MPEG-2 and 2.5)

    // False for anything but a header with a known length.
    bool parse(const std::uint8_t *p, std::size_t size);
    bool sameKindAs(const MpegHeader &o) const
    {
        return version == o.version && layer == o.layer && rateIndex == o.rateIndex && mono == o.mono;
    }
};

// Whether `p` is exactly one MPEG audio frame that FFmpeg's decoder plays
// whole, so that its length in samples is known without decoding it;
// `header` is filled in whenever one parses.
bool isWholeMpegFrame(const std::uint8_t *p, std::size_t size, MpegHeader &header);

// Packets decoded before the wanted ones so that the decoder's state is
// exactly what it would be after decoding from the start (MP3's bit
// reservoir, the overlap of transform codecs); -1 for codecs whose state
// never settles to the exact value (prediction across frames).
int warmUpPackets(const AVCodecParameters &par);

// Reads every packet of `path`'s audio stream without decoding. Fails with
// Code::kNotIndexable, and no message, when the source cannot be indexed
// exactly: a codec whose state does not settle, packets without position
// or duration, positions shared by several packets, a clock that does not
// resolve one sample, or a stream that changes its parameters.
// The first input sample a piece starting `outputFrom` output frames into a
// source needs: one input second early when the rate changes, so that a
// fresh resampler has settled by the piece. Negative: from the start.
std::int64_t pieceInputStart(std::int64_t outputFrom, std::int64_t inRate, std::int64_t outRate);

// `pieceStarts` (output frames from the source's start, at `outRate`,
// ascending) limits what is kept to the packets the pieces starting there
// need, so a file of many hours costs a few entries a piece; empty keeps
// every packet. `alive`, when given, is called with every packet read.
Result buildPacketIndex(const std::string &path, const std::atomic<bool> &cancel, PacketIndex &out,
                        const std::vector<std::int64_t> &pieceStarts = {}, int outRate = 0,
                        const std::function<void()> &alive = {});

} // namespace sonaweld::media
