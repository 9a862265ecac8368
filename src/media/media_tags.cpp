#include "media/media_tags.h"

#include "media/audio_input.h"
#include "media/text_encoding.h"

#include <cstring>

namespace sonaweld::media {
namespace {

// The first non-empty value of `key` among the dictionaries.
std::string firstValue(const char *key, std::initializer_list<const AVDictionary *> dictionaries)
{
    for (const AVDictionary *dictionary : dictionaries) {
        const AVDictionaryEntry *entry = av_dict_get(dictionary, key, nullptr, 0);
        if (entry && entry->value && entry->value[0] != '\0')
            return entry->value;
    }
    return {};
}

const char *pictureMimeType(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_MJPEG: return "image/jpeg";
    case AV_CODEC_ID_PNG: return "image/png";
    default: return nullptr;
    }
}

// Demuxers hand an embedded picture (ID3 APIC, FLAC and Vorbis picture
// blocks, MP4 covr, Matroska attachments) over as a stream whose one packet
// is already read at open, so taking it costs a copy, never a decode. Other
// kinds of picture are passed over: a cover is JPEG or PNG.
CoverPicture firstCover(const AVFormatContext &format)
{
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream *stream = format.streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const char *mime = pictureMimeType(stream->codecpar->codec_id);
        const AVPacket &picture = stream->attached_pic;
        if (!mime || !picture.data || picture.size <= 0)
            continue;
        return {{picture.data, picture.data + picture.size}, mime};
    }
    return {};
}

// FFmpeg's WAV and AVI demuxers hand RIFF INFO values over byte for byte.
// Windows programs write them in the ANSI code page, so a value that is no
// UTF-8 is read as Windows-1252 rather than shown as replacement characters;
// one that is UTF-8 (as FFmpeg and most tools now write) stays as it is.
std::string wavTagText(const AVFormatContext &format, std::string value)
{
    const bool riff = std::strcmp(format.iformat->name, "wav") == 0 || std::strcmp(format.iformat->name, "avi") == 0;
    if (!riff || isUtf8(value))
        return value;
    return windows1252ToUtf8(value);
}

} // namespace

Result readMediaTags(const std::string &path, MediaTags &tags, CoverRead cover)
{
    AudioInput in;
    if (Result r = openAudioInput(path, in); r.failed())
        return r;
    const auto value = [&in](const char *key) {
        return wavTagText(*in.format, firstValue(key, {in.format->metadata, in.stream->metadata}));
    };
    tags.title = value("title");
    tags.artist = value("artist");
    tags.album = value("album");
    tags.cover = cover == CoverRead::Read ? firstCover(*in.format) : CoverPicture{};
    return ok();
}

} // namespace sonaweld::media
