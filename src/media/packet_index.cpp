#include "media/packet_index.h"

#include "media/packet_scan.h"

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
    layer = 4 - ((p[1] >> 1) & 3);
    crc = (p[1] & 1) == 0;
    const int bitrateIndex = p[2] >> 4;
    rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    mono = (p[3] >> 6) == 3;
    // Free format has no length to check against.
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    static const int kbitsMpeg1[3][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    };
    static const int kbitsMpeg2Layer1[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256};
    static const int kbitsMpeg2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int ratesMpeg1[] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    rate = ratesMpeg1[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int kbits = mpeg1 ? kbitsMpeg1[layer - 1][bitrateIndex]
                      : layer == 1 ? kbitsMpeg2Layer1[bitrateIndex]
                                   : kbitsMpeg2[bitrateIndex];
    if (layer == 1) {
        samples = 384;
        length = (12000 * kbits / rate + padding) * 4;
    } else {
        // Layer III outside MPEG-1 codes one granule a frame, not two.
        samples = layer == 3 && !mpeg1 ? 576 : 1152;
        length = (samples / 8) * 1000 * kbits / rate + padding;
    }
    return true;
}

namespace {

// Reads a frame's side information most significant bit first; reading past
// the end counts as damage.
class BitReader
{
public:
    BitReader(const std::uint8_t *p, std::size_t size)
        : p_(p)
        , bits_(size * 8)
    {
    }
    unsigned read(int n)
    {
        unsigned v = 0;
        for (; n > 0; --n, ++at_)
            v = v << 1 | (at_ < bits_ ? (p_[at_ / 8] >> (7 - at_ % 8)) & 1u : 0u);
        return v;
    }
    bool overran() const { return at_ > bits_; }

private:
    const std::uint8_t *p_;
    std::size_t bits_;
    std::size_t at_ = 0;
};

// FFmpeg's layer III decoder refuses a frame whose header is intact when a
// granule claims more than 576 values or switches windows to the normal
// window, and the frame then plays nothing. Encoders never write either,
// so a frame that does is damage, and only decoding tells what the damage
// leaves of the stream around it.
bool layer3SideInfoDecodes(const MpegHeader &h, const std::uint8_t *p, std::size_t size)
{
    const std::size_t skip = h.crc ? 6 : 4;
    if (size < skip)
        return false;
    BitReader bits(p + skip, size - skip);
    const bool mpeg1 = h.version == 3;
    const int channels = h.mono ? 1 : 2;
    // main_data_begin and the private bits, then MPEG-1's scfsi.
    bits.read(mpeg1 ? 9 + (h.mono ? 5 : 3) + 4 * channels : 8 + channels);
    for (int granule = 0; granule < (mpeg1 ? 2 : 1); ++granule) {
        for (int channel = 0; channel < channels; ++channel) {
            bits.read(12); // part2_3_length
            if (bits.read(9) > 288)
                return false;
            bits.read(8 + (mpeg1 ? 4 : 9)); // global gain, scale factor compression
            // A switched window's block type, mixing flag, two tables and
            // three gains, or the normal window's three tables and two
            // region counts: 22 bits either way.
            if (bits.read(1)) {
                if (bits.read(2) == 0)
                    return false;
                bits.read(20);
            } else {
                bits.read(22);
            }
            bits.read(mpeg1 ? 3 : 2); // preflag (MPEG-1 only), scale, count1 table
        }
    }
    return !bits.overran();
}

} // namespace

bool isWholeMpegFrame(const std::uint8_t *p, std::size_t size, MpegHeader &header)
{
    if (!header.parse(p, size) || static_cast<std::size_t>(header.length) != size)
        return false;
    return header.layer != 3 || layer3SideInfoDecodes(header, p, size);
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

// MP3 in AVI is timed on one tick per frame, which does not resolve a
// sample; but its parser hands over one frame per packet, and the frames
// have a fixed length.
int fixedFrameOf(const AVStream &stream)
{
    return stream.codecpar->codec_id == AV_CODEC_ID_MP3 ? stream.codecpar->frame_size : 0;
}

// Follows the packets in file order: whether each keeps the index exact,
// which sample it starts with, and whether a piece needs it.
class IndexBuilder
{
public:
    IndexBuilder(const AVStream &stream, const std::vector<std::int64_t> &pieceStarts, int outRate);

    // False once the packet shows that the source cannot be indexed exactly.
    bool add(const AVPacket &p);
    std::int64_t count() const { return count_; }
    // The pieces that start past the last packet need the last packets.
    PacketIndex finish();

private:
    bool wholeMp3Frame(const AVPacket &p);
    bool recordTrim(const AVPacket &p);
    void place(const Entry &e);

    const AVStream &stream_;
    const int fixedFrame_;
    const bool mp3_;
    PacketIndex index_;
    std::int64_t ticks_ = 0;
    std::int64_t leadTrim_ = 0;
    std::int64_t count_ = 0;
    std::int64_t lastPos_ = -1;
    MpegHeader firstHeader_;
    std::vector<std::int64_t> needed_; // each piece's first input sample
    std::size_t next_ = 0;             // the first piece not yet passed
    std::size_t windowSize_ = 0;
    std::deque<Entry> window_;
};

IndexBuilder::IndexBuilder(const AVStream &stream, const std::vector<std::int64_t> &pieceStarts, int outRate)
    : stream_(stream)
    , fixedFrame_(fixedFrameOf(stream))
    , mp3_(stream.codecpar->codec_id == AV_CODEC_ID_MP3)
    , windowSize_(static_cast<std::size_t>(warmUpPackets(*stream.codecpar)) + 2)
{
    index_.sampleRate = stream.codecpar->sample_rate;
    for (const std::int64_t start : pieceStarts)
        needed_.push_back(pieceInputStart(start, index_.sampleRate, outRate));
}

bool IndexBuilder::add(const AVPacket &p)
{
    const std::int64_t ts = p.pts != AV_NOPTS_VALUE ? p.pts : p.dts;
    bool exact = p.pos >= 0 && p.duration > 0 && ts != AV_NOPTS_VALUE && !changesParameters(p)
                 && !(p.flags & AV_PKT_FLAG_DISCARD) && p.pos > lastPos_;
    lastPos_ = p.pos;
    if (count_ == 0)
        leadTrim_ = leadTrimOf(p);
    else
        exact = exact && leadTrimOf(p) == 0;
    exact = exact && wholeMp3Frame(p);
    exact = recordTrim(p) && exact;
    const std::int64_t decoded =
        fixedFrame_ > 0 ? ticks_ : av_rescale_q(ticks_, stream_.time_base, AVRational{1, index_.sampleRate});
    place(Entry{p.pos, ts, decoded - leadTrim_, count_++});
    ticks_ += fixedFrame_ > 0 ? fixedFrame_ : p.duration;
    return exact;
}

// An MP3 packet the decoder would refuse (junk or a tag in the middle
// joined to a frame, damaged side information) or a frame of another kind
// yields other than its length, which only decoding would tell.
bool IndexBuilder::wholeMp3Frame(const AVPacket &p)
{
    if (!mp3_)
        return true;
    MpegHeader header;
    const bool whole = isWholeMpegFrame(p.data, static_cast<std::size_t>(p.size), header)
                       && (count_ == 0 || header.sameKindAs(firstHeader_));
    if (count_ == 0)
        firstHeader_ = header;
    return whole;
}

// A demuxer trims the two ends only; more means a file the index should
// not pretend to know.
bool IndexBuilder::recordTrim(const AVPacket &p)
{
    size_t size = 0;
    const uint8_t *trim = av_packet_get_side_data(&p, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (!trim || size == 0)
        return true;
    const bool fewEnough = index_.trims.size() < 16;
    index_.trims.emplace_back(p.pos, std::vector<std::uint8_t>(trim, trim + size));
    return fewEnough;
}

void IndexBuilder::place(const Entry &e)
{
    if (needed_.empty()) {
        keep(index_, e);
        return;
    }
    // Once past a piece's first sample, the packets before it that its
    // decoder starts with are all in the window.
    while (next_ < needed_.size() && e.firstSample > needed_[next_]) {
        for (const Entry &w : window_)
            keep(index_, w);
        ++next_;
    }
    window_.push_back(e);
    if (window_.size() > windowSize_)
        window_.pop_front();
}

PacketIndex IndexBuilder::finish()
{
    for (; next_ < needed_.size(); ++next_) {
        for (const Entry &w : window_)
            keep(index_, w);
    }
    return std::move(index_);
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
    if (warmUpPackets(*stream.codecpar) < 0 || (!clockResolvesSamples(stream) && fixedFrameOf(stream) <= 0))
        return fail(Code::kNotIndexable);

    IndexBuilder builder(stream, pieceStarts, outRate);
    bool exact = true;
    // A cancel is told by its bare code: the export reports the stop itself.
    const PacketScan scan{.cancel = &cancel, .alive = alive};
    const auto add = [&](const AVPacket &p) {
        exact = builder.add(p);
        return exact;
    };
    if (Result r = scanPackets(in, path, scan, add); r.failed())
        return r;
    if (!exact || builder.count() == 0)
        return fail(Code::kNotIndexable);
    out = builder.finish();
    return ok();
}

} // namespace sonaweld::media
