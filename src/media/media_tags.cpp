#include "media/media_tags.h"

#include "media/audio_input.h"

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

} // namespace

Result readMediaTags(const std::string &path, MediaTags &tags)
{
    AudioInput in;
    if (Result r = openAudioInput(path, in); r.failed())
        return r;
    tags.title = firstValue("title", {in.format->metadata, in.stream->metadata});
    tags.artist = firstValue("artist", {in.format->metadata, in.stream->metadata});
    return ok();
}

} // namespace sonaweld::media
