#include "media/cue_sheet.h"
#include "media/output_kind.h"

#include "media/fs_path.h"
#include "media/text_encoding.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>

namespace sonaweld::media {
namespace {

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

std::string fileNameWithoutExtension(const std::string &path)
{
    const std::u8string stem = filePath(path).stem().u8string();
    return std::string(stem.begin(), stem.end());
}

std::string twoDigits(int n)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

// Every character kept but those a quoted field cannot hold.
std::string quotable(std::string_view text)
{
    std::string field;
    field.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = utf8Length(text);
        if (length == 0) {
            field += "\xEF\xBF\xBD";
            text.remove_prefix(1);
            continue;
        }
        const std::string_view character = text.substr(0, length);
        if (text[0] == '"')
            field += "\xE2\x80\x9D";
        // Readers that know Unicode also end a line at NEL and at the line
        // and paragraph separators.
        else if (isControl(static_cast<unsigned char>(text[0])) || character == "\xC2\x85"
                 || character == "\xE2\x80\xA8" || character == "\xE2\x80\xA9")
            field += ' ';
        else
            field.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return field;
}

} // namespace

std::string cueTime(std::int64_t sample, int rate)
{
    if (sample < 0)
        sample = 0;
    // The nearest frame, halves up, without leaving integers:
    // floor(sample * 75 / rate + 1/2).
    const std::int64_t r = rate;
    const std::int64_t frame = (2 * sample * kCueFramesPerSecond + r) / (2 * r);
    const std::int64_t perMinute = 60 * kCueFramesPerSecond;
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64, frame / perMinute,
                  frame % perMinute / kCueFramesPerSecond, frame % kCueFramesPerSecond);
    return text;
}

std::string cueField(std::string_view text)
{
    const std::string field = quotable(text);
    const std::size_t first = field.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return field.substr(first, field.find_last_not_of(' ') - first + 1);
}

Result checkCueSheet(const std::string &wavName, std::size_t tracks)
{
    if (tracks > static_cast<std::size_t>(kMaxCueTracks)) {
        return fail(Code::kInvalidArg, "a cue sheet holds at most " + std::to_string(kMaxCueTracks)
                                           + " tracks (one per file), not " + std::to_string(tracks));
    }
    if (wavName.empty() || quotable(wavName) != wavName) {
        return fail(Code::kInvalidArg, "a cue sheet cannot name the file \"" + wavName
                                           + "\": its name holds a double quote, a control character"
                                             " or bytes that are no UTF-8");
    }
    return ok();
}

Result renderCueSheet(const std::string &wavName, const std::vector<CueTrack> &tracks, int rate,
                      std::string &sheet)
{
    if (Result r = checkCueSheet(wavName, tracks.size()); r.failed())
        return r;
    std::string text = "REM SONAWELD_RATE " + std::to_string(rate) + "\n";
    // Players read an MP3 by its own type; every other format is "WAVE" to them.
    text += "FILE \"" + wavName + (outputKindOf(wavName) == OutputKind::Mp3 ? "\" MP3\n" : "\" WAVE\n");
    int number = 0;
    for (const CueTrack &track : tracks) {
        ++number;
        // A title the tags leave empty is the file's name without its
        // extension, as a player shows a file it knows nothing about. A
        // performer is never made up: a player would show the file name as
        // the artist.
        std::string name = cueField(fileNameWithoutExtension(track.path));
        if (name.empty())
            name = "Track " + twoDigits(number);
        std::string title = cueField(track.title);
        std::string performer = cueField(track.performer);
        text += "  TRACK " + twoDigits(number) + " AUDIO\n";
        text += "    TITLE \"" + (title.empty() ? name : title) + "\"\n";
        if (!performer.empty())
            text += "    PERFORMER \"" + performer + "\"\n";
        text += "    REM SONAWELD_SAMPLE " + std::to_string(track.firstSample) + " \"" + quotable(track.path)
                + "\"\n";
        text += "    INDEX 01 " + cueTime(track.firstSample, rate) + "\n";
    }
    sheet = std::move(text);
    return ok();
}

} // namespace sonaweld::media
