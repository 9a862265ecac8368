#include "media/output_metadata.h"

#include "media/ffmpeg_ptr.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/base64.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace sonaweld::media {
namespace {

void putBig32(std::vector<std::uint8_t> &b, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(static_cast<std::uint8_t>(v >> shift));
}

AVCodecID pictureCodec(const CoverPicture &cover)
{
    return cover.mimeType == "image/png" ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG;
}

std::uint32_t big32(const std::vector<std::uint8_t> &d, std::size_t at)
{
    return static_cast<std::uint32_t>(d[at]) << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3];
}

// The picture's size from its header (PNG's IHDR, JPEG's start of frame):
// muxers refuse a picture stream without one, and FLAC records it.
std::pair<int, int> pictureSize(const CoverPicture &cover)
{
    const std::vector<std::uint8_t> &d = cover.data;
    if (d.size() >= 24 && d[1] == 'P' && d[2] == 'N' && d[3] == 'G')
        return {static_cast<int>(big32(d, 16)), static_cast<int>(big32(d, 20))};
    for (std::size_t at = 2; at + 9 < d.size();) {
        if (d[at] != 0xFF)
            break;
        const int marker = d[at + 1];
        const std::size_t length = static_cast<std::size_t>(d[at + 2]) << 8 | d[at + 3];
        const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8
                                  && marker != 0xCC;
        if (startOfFrame)
            return {d[at + 7] << 8 | d[at + 8], d[at + 5] << 8 | d[at + 6]};
        at += 2 + length;
    }
    // A picture we cannot measure still goes in; its readers measure it.
    return {1, 1};
}

std::int64_t chapterEnd(const std::vector<Chapter> &chapters, std::size_t i, std::int64_t totalFrames)
{
    return i + 1 < chapters.size() ? chapters[i + 1].firstSample : totalFrames;
}

// Vorbis comments time chapters in milliseconds, the nearest one.
int addChapterComments(AVDictionary *&comments, const std::vector<Chapter> &chapters, int rate)
{
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const std::int64_t ms = av_rescale_rnd(chapters[i].firstSample, 1000, rate, AV_ROUND_NEAR_INF);
        char key[32];
        char time[48];
        std::snprintf(key, sizeof key, "CHAPTER%03zu", i + 1);
        std::snprintf(time, sizeof time, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                      static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                      static_cast<long long>(ms % 1000));
        if (const int rc = av_dict_set(&comments, key, time, 0); rc < 0)
            return rc;
        const std::string nameKey = std::string(key) + "NAME";
        if (const int rc = av_dict_set(&comments, nameKey.c_str(), chapters[i].title.c_str(), 0); rc < 0)
            return rc;
    }
    return 0;
}

int addChapterList(AVFormatContext &muxer, const std::vector<Chapter> &chapters, int rate, std::int64_t totalFrames)
{
    if (chapters.empty())
        return 0;
    muxer.chapters = static_cast<AVChapter **>(av_calloc(chapters.size(), sizeof(AVChapter *)));
    if (!muxer.chapters)
        return AVERROR(ENOMEM);
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
        if (!chapter)
            return AVERROR(ENOMEM);
        // Counted at once, so the context frees it with the others.
        muxer.chapters[muxer.nb_chapters++] = chapter;
        chapter->id = static_cast<std::int64_t>(i) + 1;
        chapter->time_base = AVRational{1, rate};
        chapter->start = chapters[i].firstSample;
        chapter->end = chapterEnd(chapters, i, totalFrames);
        if (const int rc = av_dict_set(&chapter->metadata, "title", chapters[i].title.c_str(), 0); rc < 0)
            return rc;
    }
    return 0;
}

} // namespace

int addChapters(AVFormatContext &muxer, AVStream &audio, OutputKind kind, const std::vector<Chapter> &chapters,
                int rate, std::int64_t totalFrames)
{
    if (kind == OutputKind::Flac)
        return addChapterComments(muxer.metadata, chapters, rate);
    if (kind == OutputKind::Opus || kind == OutputKind::Vorbis)
        return addChapterComments(audio.metadata, chapters, rate);
    return addChapterList(muxer, chapters, rate, totalFrames);
}

std::vector<std::uint8_t> flacPictureBlock(const CoverPicture &cover)
{
    std::vector<std::uint8_t> block;
    putBig32(block, 3); // front cover
    putBig32(block, static_cast<std::uint32_t>(cover.mimeType.size()));
    block.insert(block.end(), cover.mimeType.begin(), cover.mimeType.end());
    putBig32(block, 0); // no description
    for (int i = 0; i < 4; ++i)
        putBig32(block, 0); // width, height, depth and colours: unknown
    putBig32(block, static_cast<std::uint32_t>(cover.data.size()));
    block.insert(block.end(), cover.data.begin(), cover.data.end());
    return block;
}

int addTags(AVFormatContext &muxer, AVStream &audio, OutputKind kind, const OutputTags &tags)
{
    const bool ogg = kind == OutputKind::Opus || kind == OutputKind::Vorbis;
    for (const auto &[key, value] : tags.values) {
        if (const int rc = av_dict_set(&muxer.metadata, key.c_str(), value.c_str(), 0); rc < 0)
            return rc;
        if (ogg) {
            if (const int rc = av_dict_set(&audio.metadata, key.c_str(), value.c_str(), 0); rc < 0)
                return rc;
        }
    }
    if (!ogg || tags.cover.empty())
        return 0;
    const std::vector<std::uint8_t> block = flacPictureBlock(tags.cover);
    if (block.size() > static_cast<std::size_t>(INT_MAX / 4 * 3 - 4))
        return AVERROR(EINVAL);
    const int size = AV_BASE64_SIZE(static_cast<int>(block.size()));
    char *text = static_cast<char *>(av_malloc(static_cast<std::size_t>(size)));
    if (!text)
        return AVERROR(ENOMEM);
    av_base64_encode(text, size, block.data(), static_cast<int>(block.size()));
    return av_dict_set(&audio.metadata, "METADATA_BLOCK_PICTURE", text, AV_DICT_DONT_STRDUP_VAL);
}

bool takesPictureStream(OutputKind kind)
{
    return kind == OutputKind::Mp3 || kind == OutputKind::Flac || kind == OutputKind::Aac;
}

int addCoverStream(AVFormatContext &muxer, const CoverPicture &cover, AVStream **stream)
{
    *stream = nullptr;
    if (cover.empty())
        return 0;
    AVStream *st = avformat_new_stream(&muxer, nullptr);
    if (!st)
        return AVERROR(ENOMEM);
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = pictureCodec(cover);
    const auto [width, height] = pictureSize(cover);
    st->codecpar->width = std::max(width, 1);
    st->codecpar->height = std::max(height, 1);
    st->disposition = AV_DISPOSITION_ATTACHED_PIC;
    st->time_base = AVRational{1, 90000};
    *stream = st;
    return 0;
}

int writeCover(AVFormatContext &muxer, const AVStream &stream, const CoverPicture &cover)
{
    if (cover.data.size() > static_cast<std::size_t>(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
        return AVERROR(EINVAL);
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet)
        return AVERROR(ENOMEM);
    if (const int rc = av_new_packet(packet.get(), static_cast<int>(cover.data.size())); rc < 0)
        return rc;
    std::memcpy(packet->data, cover.data.data(), cover.data.size());
    packet->stream_index = stream.index;
    packet->flags |= AV_PKT_FLAG_KEY;
    packet->pts = packet->dts = 0;
    // Straight to the muxer: the interleaver would hold it for audio that
    // the picture's stream never gets.
    return av_write_frame(&muxer, packet.get());
}

} // namespace sonaweld::media
