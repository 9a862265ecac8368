#include "media/ffmpeg_ptr.h"
#include "media/wav_file.h"
#include "media/wav_markers.h"
#include "support/media_fixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sonaweld::media;
using sonaweld::test::decodedPcm;
using sonaweld::test::readWav;

namespace {

// The chapters FFmpeg's wav demuxer makes of the cue points and labels.
std::vector<Chapter> ffmpegChapters(const std::string &path, int rate)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return {{-1, "FFmpeg cannot open the file"}};
    AVFormatContextUPtr format(raw);
    std::vector<Chapter> chapters;
    for (unsigned i = 0; i < format->nb_chapters; ++i) {
        const AVChapter *c = format->chapters[i];
        const AVDictionaryEntry *title = av_dict_get(c->metadata, "title", nullptr, 0);
        chapters.push_back({av_rescale_q(c->start, c->time_base, {1, rate}), title ? title->value : "<none>"});
    }
    return chapters;
}

} // namespace

namespace sonaweld::media {
bool operator==(const Chapter &a, const Chapter &b)
{
    return a.firstSample == b.firstSample && a.title == b.title;
}
void PrintTo(const Chapter &c, std::ostream *os)
{
    *os << c.firstSample << " \"" << c.title << '"';
}
} // namespace sonaweld::media

TEST(WavMarkers, FfmpegReadsThePlacesAndTitlesAndTheAudioIsUntouched)
{
    struct Case
    {
        const char *name;
        int channels, bits;
        std::int64_t written, finished; // a stopped join keeps fewer
        std::uint64_t threshold;        // a small one stands in for the RF64 limit
    };
    const Case cases[] = {{"plain", 2, 16, 48000, 48000, WavFile::kRiffLimit},
                          {"odd data and its pad byte", 1, 8, 48001, 48001, WavFile::kRiffLimit},
                          {"rf64", 2, 16, 48000, 48000, 100000},
                          {"stopped early", 2, 16, 48000, 30001, WavFile::kRiffLimit}};
    const std::string awkward = "\xC3\x87" "a \"va\" \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC"; // Ça "va" — 日本
    const std::vector<Chapter> markers = {
        {0, "First"}, {12345, awkward}, {30000, ""}, {30001, "Past a stop"}, {47999, "Last frame"}};
    for (const Case &c : cases) {
        QTemporaryDir dir;
        const std::string path = dir.filePath("m.wav").toStdString();
        const WaveFormatEx format = pcmFormat(48000, c.channels, c.bits);
        // Neighbouring bytes differ, so audio that gained or lost a byte shows.
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(c.written * format.blockAlign));
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        WavFile f;
        ASSERT_TRUE(f.create(path, format, c.written, c.threshold)) << c.name;
        f.setMarkers(markers);
        ASSERT_TRUE(f.writeFrames(0, bytes.data(), c.written));
        ASSERT_TRUE(f.commitPrefix(c.written / 2));
        EXPECT_TRUE(ffmpegChapters(path, 48000).empty()) << c.name << ": markers before finish()";
        ASSERT_TRUE(f.finish(c.finished)) << c.name;

        const auto wav = readWav(QString::fromStdString(path));
        EXPECT_EQ(wav.rf64, c.threshold != WavFile::kRiffLimit) << c.name;
        EXPECT_EQ(wav.riffSize + 8, wav.fileSize) << c.name;
        std::vector<Chapter> expected(markers.begin(), markers.end() - (c.finished < 48000 ? 2 : 0));
        EXPECT_EQ(ffmpegChapters(path, 48000), expected) << c.name;
        // FFmpeg decodes 8-bit PCM as unsigned, centred on 128.
        std::vector<std::int16_t> audio(static_cast<std::size_t>(c.finished * c.channels));
        for (std::size_t i = 0; i < audio.size(); ++i)
            audio[i] = static_cast<std::int16_t>(c.bits == 8 ? (bytes[i] - 128) * 256
                                                            : bytes[2 * i] | bytes[2 * i + 1] << 8);
        EXPECT_TRUE(decodedPcm(QString::fromStdString(path), 48000, c.channels) == audio) << c.name;
    }
}

TEST(WavMarkers, OnlyPlacesInsideTheAudioThatACuePointCanNameAreKept)
{
    const std::int64_t limit = 0xFFFFFFFFll;
    const std::vector<Chapter> markers = {{-1, "before"}, {0, "a"}, {limit, "b"}, {limit + 1, "c"}, {4 * limit, "end"}};
    EXPECT_EQ(markersWithinAudio(markers, 4 * limit), (std::vector<Chapter>{{0, "a"}, {limit, "b"}}));
    EXPECT_TRUE(markersWithinAudio(markers, 0).empty());
}
