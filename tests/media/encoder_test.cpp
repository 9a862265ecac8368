#include "media/audio_encoder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <map>
#include <numbers>

#include <sys/resource.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
}

using namespace sonaweld::media;

namespace {

// A 2x2 PNG: the muxers carry the bytes, nothing here decodes them.
const std::vector<std::uint8_t> kPng = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00,
    0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd, 0xd4, 0x9a, 0x73, 0x00, 0x00, 0x00, 0x13, 0x49,
    0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0xc0, 0x00, 0xc2, 0x40, 0xe2, 0xff, 0xff, 0xff, 0x00, 0x22,
    0xec, 0x05, 0xfb, 0x66, 0x0a, 0x11, 0x7e, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

// A JPEG's markers alone, 3 wide and 5 high, for the size FLAC records.
const std::vector<std::uint8_t> kJpeg = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00, 0x01,
                                         0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xff, 0xc0, 0x00, 0x11,
                                         0x08, 0x00, 0x05, 0x00, 0x03, 0x03, 0x01, 0x22, 0x00, 0x02, 0x11, 0x01,
                                         0x03, 0x11, 0x01, 0xff, 0xd9};

const char *const kTitles[] = {"Opening", "Ça \"va\" — 日本", "Three, with = and ;", "Last"};

// The joined PCM: four clips of unequal length, each its own chirp (so a
// misplaced sample shows at once, unlike a steady tone) with a little noise.
struct Joined
{
    WaveFormatEx format;
    std::vector<std::int64_t> starts; // and the total last
    std::vector<std::uint8_t> pcm;

    std::int64_t frames() const { return starts.back(); }
    // The signed value of a sample, 16-bit scale.
    int value(std::int64_t frame, int channel) const
    {
        const std::size_t at = static_cast<std::size_t>(frame * format.channels + channel);
        if (format.bitsPerSample == 8)
            return (pcm[at] - 128) * 256;
        return static_cast<std::int16_t>(pcm[2 * at] | pcm[2 * at + 1] << 8);
    }
};

Joined makeJoined(int rate, int channels, int bits, double seconds)
{
    Joined j;
    j.format = pcmFormat(rate, channels, bits);
    const auto total = static_cast<std::int64_t>(seconds * rate) + 777;
    for (const double share : {0.0, 0.19, 0.5, 0.73})
        j.starts.push_back(static_cast<std::int64_t>(share * static_cast<double>(total)) + 13);
    j.starts.front() = 0;
    j.starts.push_back(total);
    std::uint32_t noise = 12345;
    for (std::size_t clip = 0; clip + 1 < j.starts.size(); ++clip) {
        const double length = static_cast<double>(j.starts[clip + 1] - j.starts[clip]) / rate;
        const double f0 = 150.0 + 90.0 * static_cast<double>(clip);
        for (std::int64_t n = j.starts[clip]; n < j.starts[clip + 1]; ++n) {
            const double t = static_cast<double>(n - j.starts[clip]) / rate;
            for (int ch = 0; ch < channels; ++ch) {
                const double f1 = (ch ? 1100.0 : 1500.0);
                const double phase = 2 * std::numbers::pi * (f0 * t + (f1 - f0) * t * t / (2 * length));
                noise = noise * 1664525u + 1013904223u;
                const double v = 0.5 * std::sin(phase) + 0.03 * (static_cast<double>(noise >> 8) / (1 << 23) - 1.0);
                if (bits == 8) {
                    j.pcm.push_back(static_cast<std::uint8_t>(std::lround(128 + 127 * v)));
                } else {
                    const auto s = static_cast<std::int16_t>(std::lround(32767 * v));
                    j.pcm.push_back(static_cast<std::uint8_t>(s & 0xff));
                    j.pcm.push_back(static_cast<std::uint8_t>((s >> 8) & 0xff));
                }
            }
        }
    }
    return j;
}

JoinPlan planFor(const std::string &path, const Joined &j, int bitrateKbps, bool tagged)
{
    JoinPlan plan;
    plan.outputPath = path;
    plan.format = j.format;
    plan.bitrateKbps = bitrateKbps;
    const int rate = static_cast<int>(j.format.samplesPerSec);
    // One clip whose stop lands within the last frame: the plan's total is
    // the joined length (checked by the caller).
    plan.clips.push_back({"in.wav", 0, av_rescale(j.frames(), kUnitsPerSecond, rate) + 1, 0});
    for (std::size_t i = 0; i + 1 < j.starts.size(); ++i)
        plan.chapters.push_back({j.starts[i], kTitles[i]});
    if (tagged) {
        plan.tags.set("title", "Joined — 日本");
        plan.tags.set("artist", "Sonaweld \"tests\"");
        plan.tags.set("album", "Ça va");
        if (plan.kind() == OutputKind::Flac)
            plan.tags.cover = {kJpeg, "image/jpeg"};
        else
            plan.tags.cover = {kPng, "image/png"};
    }
    return plan;
}

// Feeds the frames in uneven slices, as a run hands them over.
Result encodeAll(AudioEncoder &encoder, const Joined &j, std::int64_t frames)
{
    std::int64_t at = 0;
    for (std::int64_t slice = 1; at < frames; slice = slice * 3 % 20011 + 1) {
        const std::int64_t n = std::min(slice, frames - at);
        if (Result r = encoder.encode(j.pcm.data() + at * j.format.blockAlign, n); r.failed())
            return r;
        at += n;
    }
    return ok();
}

// What FFmpeg's own demuxer and decoder make of a file.
struct ReadBack
{
    std::string error;
    int rate = 0;
    int channels = 0;
    std::vector<int> ints;      // 16-bit scale, interleaved
    std::vector<float> samples; // interleaved
    std::vector<std::pair<double, std::string>> chapters;
    std::map<std::string, std::string> tags;
    std::vector<std::uint8_t> picture;
    int pictureWidth = 0;
    int pictureHeight = 0;
    std::uint32_t opusInputRate = 0;

    std::int64_t frames() const { return channels ? static_cast<std::int64_t>(samples.size()) / channels : 0; }
};

double sampleOf(const AVFrame &f, int ch, int i, bool asInt)
{
    const auto fmt = static_cast<AVSampleFormat>(f.format);
    const bool planar = av_sample_fmt_is_planar(fmt);
    const std::uint8_t *base = f.extended_data[planar ? ch : 0];
    const int at = planar ? i : i * f.ch_layout.nb_channels + ch;
    switch (av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_S16: return reinterpret_cast<const std::int16_t *>(base)[at] / (asInt ? 1.0 : 32768.0);
    case AV_SAMPLE_FMT_S32:
        return asInt ? reinterpret_cast<const std::int32_t *>(base)[at] >> 16
                     : reinterpret_cast<const std::int32_t *>(base)[at] / 2147483648.0;
    case AV_SAMPLE_FMT_FLT: return reinterpret_cast<const float *>(base)[at] * (asInt ? 32768.0 : 1.0);
    default: return 0;
    }
}

void collectMetadata(const AVFormatContext &in, ReadBack &out)
{
    for (unsigned c = 0; c < in.nb_chapters; ++c) {
        const AVChapter &ch = *in.chapters[c];
        const AVDictionaryEntry *title = av_dict_get(ch.metadata, "title", nullptr, 0);
        out.chapters.emplace_back(static_cast<double>(ch.start) * av_q2d(ch.time_base), title ? title->value : "");
    }
    std::vector<const AVDictionary *> dicts = {in.metadata};
    for (unsigned i = 0; i < in.nb_streams; ++i) {
        dicts.push_back(in.streams[i]->metadata);
        const AVStream &st = *in.streams[i];
        if (st.disposition & AV_DISPOSITION_ATTACHED_PIC) {
            out.picture.assign(st.attached_pic.data, st.attached_pic.data + st.attached_pic.size);
            out.pictureWidth = st.codecpar->width;
            out.pictureHeight = st.codecpar->height;
        }
    }
    for (const AVDictionary *d : dicts) {
        for (const AVDictionaryEntry *e = nullptr; (e = av_dict_get(d, "", e, AV_DICT_IGNORE_SUFFIX));) {
            std::string key = e->key;
            for (char &c : key)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            out.tags.emplace(key, e->value);
        }
    }
}

ReadBack readBack(const std::string &path)
{
    ReadBack out;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(raw, nullptr) < 0) {
        avformat_close_input(&raw);
        out.error = "FFmpeg cannot open it";
        return out;
    }
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext *)> in(
        raw, [](AVFormatContext *p) { avformat_close_input(&p); });
    collectMetadata(*in, out);
    const AVCodec *codec = nullptr;
    const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> dec(
        avcodec_alloc_context3(codec), [](AVCodecContext *p) { avcodec_free_context(&p); });
    if (index < 0 || avcodec_parameters_to_context(dec.get(), in->streams[index]->codecpar) < 0
        || avcodec_open2(dec.get(), codec, nullptr) < 0) {
        out.error = "no audio FFmpeg decodes";
        return out;
    }
    const bool lossless = dec->codec_id == AV_CODEC_ID_FLAC;
    if (dec->codec_id == AV_CODEC_ID_OPUS && dec->extradata_size >= 16)
        out.opusInputRate = AV_RL32(dec->extradata + 12);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto take = [&] {
        while (avcodec_receive_frame(dec.get(), frame) >= 0) {
            out.rate = frame->sample_rate;
            out.channels = frame->ch_layout.nb_channels;
            for (int i = 0; i < frame->nb_samples; ++i) {
                for (int c = 0; c < out.channels; ++c) {
                    out.samples.push_back(static_cast<float>(sampleOf(*frame, c, i, false)));
                    if (lossless)
                        out.ints.push_back(static_cast<int>(sampleOf(*frame, c, i, true)));
                }
            }
        }
    };
    while (av_read_frame(in.get(), packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(dec.get(), packet) >= 0)
            take();
        av_packet_unref(packet);
    }
    avcodec_send_packet(dec.get(), nullptr);
    take();
    av_packet_free(&packet);
    av_frame_free(&frame);
    return out;
}

// Normalised correlation of the decoded span with the input over
// [from, to) input frames, with no shift: the decoded side is read at its
// own rate. The chirps reach 1.5 kHz, so a decoded file one sample late
// at 44.1 kHz already falls to about 0.992; an encoder's own error leaves
// above 0.999.
double correlation(const Joined &j, const ReadBack &r, std::int64_t from, std::int64_t to)
{
    const double ratio = static_cast<double>(r.rate) / j.format.samplesPerSec;
    double xy = 0, xx = 0, yy = 0;
    for (std::int64_t n = from; n < to; ++n) {
        const double pos = static_cast<double>(n) * ratio;
        const auto k = static_cast<std::int64_t>(pos);
        if (k + 1 >= r.frames())
            break;
        for (int c = 0; c < r.channels; ++c) {
            const double a = r.samples[static_cast<std::size_t>(k * r.channels + c)];
            const double b = r.samples[static_cast<std::size_t>((k + 1) * r.channels + c)];
            const double y = a + (b - a) * (pos - static_cast<double>(k));
            const double x = j.value(n, c) / 32768.0;
            xy += x * y;
            xx += x * x;
            yy += y * y;
        }
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

struct Case
{
    const char *name;
    int rate;
    int channels;
    int bits;
    int bitrateKbps;
    double seconds;
    bool tagged;
};

class EncoderRoundTrip : public testing::TestWithParam<Case>
{};

TEST_P(EncoderRoundTrip, FfmpegReadsBackEverySampleChapterAndTag)
{
    const Case c = GetParam();
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath(QString("joined — ü.") + c.name).toStdString();
    const Joined j = makeJoined(c.rate, c.channels, c.bits, c.seconds);
    const JoinPlan plan = planFor(path, j, c.bitrateKbps, c.tagged);
    ASSERT_EQ(plan.totalFrames(), j.frames());
    AudioEncoder encoder;
    Result r = encoder.open(plan);
    ASSERT_TRUE(r) << r.reason;
    r = encodeAll(encoder, j, j.frames());
    ASSERT_TRUE(r) << r.reason;
    r = encoder.finish();
    ASSERT_TRUE(r) << r.reason;

    const ReadBack back = readBack(path);
    ASSERT_EQ(back.error, "");
    ASSERT_EQ(back.channels, c.channels);
    const OutputKind kind = plan.kind();
    if (kind == OutputKind::Flac) {
        ASSERT_EQ(back.rate, c.rate);
        ASSERT_EQ(static_cast<std::int64_t>(back.ints.size()), j.frames() * c.channels);
        std::int64_t differing = 0;
        for (std::int64_t n = 0; n < j.frames(); ++n) {
            for (int ch = 0; ch < c.channels; ++ch)
                differing += back.ints[static_cast<std::size_t>(n * c.channels + ch)] != j.value(n, ch);
        }
        EXPECT_EQ(differing, 0);
    } else {
        const int rate = kind == OutputKind::Opus ? 48000 : c.rate;
        EXPECT_EQ(back.rate, rate);
        if (kind == OutputKind::Opus) {
            EXPECT_EQ(back.opusInputRate, static_cast<std::uint32_t>(c.rate));
        }
        // Exactly the joined length, priming and padding trimmed.
        EXPECT_EQ(back.frames(), av_rescale_rnd(j.frames(), rate, c.rate, AV_ROUND_NEAR_INF));
        for (std::size_t i = 0; i + 1 < j.starts.size(); ++i) {
            const double r = correlation(j, back, j.starts[i], j.starts[i + 1]);
            RecordProperty("correlation" + std::to_string(i), std::to_string(r));
            EXPECT_GT(r, 0.998) << "clip " << i;
        }
    }

    ASSERT_EQ(back.chapters.size(), j.starts.size() - 1);
    for (std::size_t i = 0; i < back.chapters.size(); ++i) {
        EXPECT_EQ(back.chapters[i].second, kTitles[i]);
        // Every container times chapters at least to the millisecond.
        EXPECT_NEAR(back.chapters[i].first, static_cast<double>(j.starts[i]) / c.rate, 0.0005 + 1e-9) << i;
    }
    if (c.tagged) {
        for (const auto &[key, value] : plan.tags.values)
            EXPECT_EQ(back.tags.count(key) ? back.tags.at(key) : "", value) << key;
        EXPECT_EQ(back.picture, plan.tags.cover.data);
        if (kind == OutputKind::Flac) {
            EXPECT_EQ(back.pictureWidth, 3);
            EXPECT_EQ(back.pictureHeight, 5);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EncoderRoundTrip,
                         testing::Values(Case{"flac", 44100, 2, 16, 0, 180, true},
                                         Case{"flac", 8000, 1, 8, 0, 120, false},
                                         Case{"mp3", 44100, 2, 16, 0, 180, true},
                                         Case{"mp3", 11025, 1, 8, 32, 120, false},
                                         Case{"opus", 44100, 2, 16, 0, 180, true},
                                         Case{"opus", 22050, 1, 16, 48, 120, false},
                                         Case{"ogg", 44100, 2, 16, 0, 180, true},
                                         Case{"ogg", 8000, 1, 8, 24, 120, false},
                                         Case{"m4a", 44100, 2, 16, 0, 180, true},
                                         Case{"m4b", 22050, 1, 16, 64, 120, false}),
                         [](const testing::TestParamInfo<Case> &info) {
                             return std::string(info.param.name) + std::to_string(info.param.rate);
                         });

// A run that stops early still leaves a file FFmpeg plays to where it
// stopped.
TEST(Encoder, StoppedEarlyStillReadsToWhereItStopped)
{
    QTemporaryDir dir;
    const Joined j = makeJoined(22050, 2, 16, 20);
    for (const char *ext : {"m4a", "mp3", "flac"}) {
        const std::string path = QDir(dir.path()).filePath(QString("stopped.") + ext).toStdString();
        AudioEncoder encoder;
        ASSERT_TRUE(encoder.open(planFor(path, j, 0, true)));
        const std::int64_t fed = j.frames() * 3 / 5;
        ASSERT_TRUE(encodeAll(encoder, j, fed));
        ASSERT_TRUE(encoder.finish());
        const std::int64_t frames = readBack(path).frames();
        if (std::string(ext) != "m4a") {
            EXPECT_EQ(frames, fed) << ext;
        } else {
            // Its start was padded for the planned length: FFmpeg decodes
            // the last AAC frame whole.
            EXPECT_GE(frames, fed);
            EXPECT_LT(frames, fed + 1024);
        }
    }
}

// Encodes the whole plan and finishes, whatever fails on the way; the
// first failure and finish()'s own result.
std::pair<Result, Result> encodeThrough(const JoinPlan &plan, const Joined &j)
{
    AudioEncoder encoder;
    Result r = encoder.open(plan);
    if (r)
        r = encodeAll(encoder, j, j.frames());
    const Result finished = encoder.finish();
    return {r ? finished : r, finished};
}

TEST(Encoder, FailuresNameTheFileAndWhatWasDone)
{
    QTemporaryDir dir;
    const Joined j = makeJoined(44100, 2, 16, 20);
    {
        const std::string path = QDir(dir.path()).filePath("missing/folder.flac").toStdString();
        AudioEncoder encoder;
        const Result r = encoder.open(planFor(path, j, 0, false));
        EXPECT_TRUE(r.failed());
        EXPECT_EQ(r.operation, Operation::Create);
        EXPECT_EQ(r.file, path);
    }
    // A disk full from the start, on creating or on writing.
    if (QFile::exists("/dev/full")) {
        for (const char *ext : {"flac", "mp3", "m4a"}) {
            const std::string path = QDir(dir.path()).filePath(QString("full.") + ext).toStdString();
            std::filesystem::create_symlink("/dev/full", path);
            const Result r = encodeThrough(planFor(path, j, 0, true), j).first;
            EXPECT_EQ(r.code, Code::kDiskFull) << ext << ": " << r.reason;
            EXPECT_TRUE(r.operation == Operation::Write || r.operation == Operation::Create) << ext;
            EXPECT_EQ(r.file, path);
        }
    }
    // A file that cannot grow past 100 kB: FLAC is closed as far as it got
    // and plays; MP4, useless without the index at its end, is removed.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 100'000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string flac = QDir(dir.path()).filePath("limited.flac").toStdString();
    const std::string m4a = QDir(dir.path()).filePath("limited.m4a").toStdString();
    const auto [flacFailure, flacFinish] = encodeThrough(planFor(flac, j, 0, false), j);
    const auto [m4aFailure, m4aFinish] = encodeThrough(planFor(m4a, j, 0, false), j);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(flacFailure.operation, Operation::Write);
    EXPECT_EQ(flacFailure.reason, errorText(AVERROR(EFBIG)));
    const ReadBack partial = readBack(flac);
    EXPECT_EQ(partial.error, "");
    EXPECT_GT(partial.frames(), 0);
    EXPECT_LT(partial.frames(), j.frames());
    EXPECT_EQ(m4aFailure.operation, Operation::Write);
    EXPECT_EQ(m4aFinish.file, m4a);
    EXPECT_NE(m4aFinish.reason.find("the MP4 file could not be closed and was removed"), std::string::npos)
        << m4aFinish.reason;
    EXPECT_FALSE(std::filesystem::exists(m4a));
}

} // namespace
