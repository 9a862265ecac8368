#include "media/packet_index.h"

#include <algorithm>
#include <deque>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace sonaweld::media {
namespace {

bool changesParameters(const AVPacket &p)
{
    return av_packet_get_side_data(&p, AV_PKT_DATA_PARAM_CHANGE, nullptr)
           || av_packet_get_side_data(&p, AV_PKT_DATA_NEW_EXTRADATA, nullptr);
}

std::int64_t leadTrimOf(const AVPacket &p)
{
    size_t size = 0;
    const uint8_t *skip = av_packet_get_side_data(&p, AV_PKT_DATA_SKIP_SAMPLES, &size);
    return skip && size >= 4 ? AV_RL32(skip) : 0;
}

} // namespace

std::ptrdiff_t PacketIndex::packetAt(std::int64_t position) const
{
    const auto it = std::lower_bound(pos.begin(), pos.end(), position);
    return it != pos.end() && *it == position ? it - pos.begin() : -1;
}

std::ptrdiff_t PacketIndex::packetHolding(std::int64_t sample) const
{
    const auto it = std::upper_bound(firstSample.begin(), firstSample.end(), sample);
    return (it - firstSample.begin()) - 1;
}

const std::vector<std::uint8_t> *PacketIndex::trimAt(std::int64_t position) const
{
    for (const auto &[at, trim] : trims) {
        if (at == position)
            return &trim;
    }
    return nullptr;
}

int warmUpPackets(const AVCodecParameters &par)
{
    switch (par.codec_id) {
    // Every frame stands alone.
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F32BE:
    case AV_CODEC_ID_PCM_F64LE:
    case AV_CODEC_ID_PCM_F64BE: return 0;
    // A frame's data may begin up to 511 bytes back in earlier frames, and
    // the filter bank overlaps one granule: at 8 kbit/s that is eight
    // frames, so thirty leave a wide margin.
    case AV_CODEC_ID_MP3: return 30;
    // AAC (noise substitution), AC-3 (dither of coarse mantissas) and the
    // fixed-point MPEG layer I/II decoder (its rounding carries over from
    // sample to sample) keep state that runs through the whole stream, so a
    // decoder started later never gives exactly the same samples. Vorbis
    // and Opus in Ogg share packet positions, which the index cannot place.
    default: return -1;
    }
}

bool MpegHeader::parse(const std::uint8_t *p, std::size_t size)
{
    if (size < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    version = (p[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    mono = (p[3] >> 6) == 3;
    // Layer III only; free format has no length to check against.
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    static const int kbitsMpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kbitsMpeg2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int ratesMpeg1[] = {44100, 48000, 32000};
    const int rate = ratesMpeg1[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int kbits = (version == 3 ? kbitsMpeg1 : kbitsMpeg2)[bitrateIndex];
    length = (version == 3 ? 144000 : 72000) * kbits / rate + padding;
    return true;
}

std::int64_t pieceInputStart(std::int64_t outputFrom, std::int64_t inRate, std::int64_t outRate)
{
    const std::int64_t lead = inRate == outRate ? 0 : 1;
    return (outputFrom / outRate - lead) * inRate;
}

namespace {

struct Entry
{
    std::int64_t pos, timestamp, firstSample, number;
};

void keep(PacketIndex &index, const Entry &e)
{
    if (!index.pos.empty() && e.pos <= index.pos.back())
        return;
    index.pos.push_back(e.pos);
    index.timestamp.push_back(e.timestamp);
    index.firstSample.push_back(e.firstSample);
    index.number.push_back(e.number);
}

} // namespace

Result buildPacketIndex(const std::string &path, const std::atomic<bool> &cancel, PacketIndex &out,
                        const std::vector<std::int64_t> &pieceStarts, int outRate,
                        const std::function<void()> &alive)
{
    AudioInput in;
    if (Result r = openAudioInput(path, in, &cancel); r.failed())
        return r;
    const AVStream &stream = *in.stream;
    // MP3 in AVI is timed on one tick per frame, which does not resolve a
    // sample; but its parser hands over one frame per packet, and the
    // frames have a fixed length.
    const int fixedFrame = stream.codecpar->codec_id == AV_CODEC_ID_MP3 ? stream.codecpar->frame_size : 0;
    if (warmUpPackets(*stream.codecpar) < 0 || (!clockResolvesSamples(stream) && fixedFrame <= 0))
        return fail(Code::kNotImpl);

    PacketIndex index;
    index.sampleRate = stream.codecpar->sample_rate;
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet)
        return fail(Code::kOutOfMemory, "Cannot read " + path + ": out of memory");
    std::int64_t ticks = 0;
    std::int64_t leadTrim = 0;
    std::int64_t count = 0;
    std::int64_t lastPos = -1;
    std::vector<std::int64_t> needed;
    for (const std::int64_t start : pieceStarts)
        needed.push_back(pieceInputStart(start, index.sampleRate, outRate));
    const std::size_t windowSize = static_cast<std::size_t>(warmUpPackets(*stream.codecpar)) + 2;
    std::deque<Entry> window;
    std::size_t next = 0;
    const bool mp3 = stream.codecpar->codec_id == AV_CODEC_ID_MP3;
    MpegHeader firstHeader;
    bool exact = true;
    int rc = 0;
    while (exact && (rc = av_read_frame(in.format.get(), packet.get())) >= 0) {
        if (packet->stream_index == stream.index) {
            const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            exact = packet->pos >= 0 && packet->duration > 0 && ts != AV_NOPTS_VALUE && !changesParameters(*packet)
                    && !(packet->flags & AV_PKT_FLAG_DISCARD) && packet->pos > lastPos;
            lastPos = packet->pos;
            if (count == 0)
                leadTrim = leadTrimOf(*packet);
            else
                exact = exact && leadTrimOf(*packet) == 0;
            // An MP3 packet the decoder would refuse (junk or a tag in the
            // middle joined to a frame) or a frame of another kind yields
            // other than its length, which only decoding would tell.
            if (mp3) {
                MpegHeader header;
                exact = exact && header.parse(packet->data, static_cast<std::size_t>(packet->size))
                        && header.length == packet->size
                        && (count == 0 || header.sameKindAs(firstHeader));
                if (count == 0)
                    firstHeader = header;
            }
            size_t size = 0;
            if (const uint8_t *trim = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
                trim && size > 0) {
                // A demuxer trims the two ends only; more means a file the
                // index should not pretend to know.
                exact = exact && index.trims.size() < 16;
                index.trims.emplace_back(packet->pos, std::vector<std::uint8_t>(trim, trim + size));
            }
            const Entry e{packet->pos, ts,
                          (fixedFrame > 0 ? ticks : av_rescale_q(ticks, stream.time_base, AVRational{1, index.sampleRate}))
                              - leadTrim,
                          count++};
            ticks += fixedFrame > 0 ? fixedFrame : packet->duration;
            if (needed.empty()) {
                keep(index, e);
            } else {
                // Once past a piece's first sample, the packets before it
                // that its decoder starts with are all in the window.
                while (next < needed.size() && e.firstSample > needed[next]) {
                    for (const Entry &w : window)
                        keep(index, w);
                    ++next;
                }
                window.push_back(e);
                if (window.size() > windowSize)
                    window.pop_front();
            }
        }
        av_packet_unref(packet.get());
        if (cancel.load(std::memory_order_relaxed))
            return fail(Code::kAbort);
        if (alive)
            alive();
    }
    if (!exact)
        return fail(Code::kNotImpl);
    for (; next < needed.size(); ++next) {
        for (const Entry &w : window)
            keep(index, w);
    }
    if (cancel.load(std::memory_order_relaxed))
        return fail(Code::kAbort);
    if (const int failure = readFailure(in, rc); failure < 0)
        return ffmpegFailure(failure, "Cannot read " + path);
    if (count == 0)
        return fail(Code::kNotImpl);
    out = std::move(index);
    return ok();
}

} // namespace sonaweld::media
