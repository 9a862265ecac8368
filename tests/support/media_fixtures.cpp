#include "support/media_fixtures.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>

#include <gtest/gtest.h>

namespace sonaweld::test {
namespace {

std::uint32_t le32(const std::uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t le64(const std::uint8_t *p)
{
    return le32(p) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}
std::uint16_t le16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

MediaFixtures::MediaFixtures() = default;

QString MediaFixtures::make(const QString &name, const QStringList &args) const
{
    const QString out = path(name);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + args + QStringList{out});
    const bool finished = ffmpeg.waitForFinished(120000);
    EXPECT_TRUE(finished && ffmpeg.exitCode() == 0)
        << "ffmpeg failed for " << name.toStdString() << ": "
        << ffmpeg.readAllStandardError().toStdString();
    return out;
}

QString MediaFixtures::tone(const QString &name, double seconds, int rate, int channels,
                            const QStringList &encoder) const
{
    const QString source = QStringLiteral("sine=frequency=440:duration=%1:sample_rate=%2")
                               .arg(seconds, 0, 'f', 6)
                               .arg(rate);
    return make(name, QStringList{"-f", "lavfi", "-i", source, "-ac", QString::number(channels)} + encoder);
}

QString MediaFixtures::constantWav(const QString &name, std::int64_t frames, int rate, int channels,
                                   std::int16_t value) const
{
    const QString out = path(name);
    QByteArray bytes;
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames * channels * 2);
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.append(static_cast<char>(v >> (8 * i)));
    };
    auto put16 = [&](std::uint16_t v) {
        bytes.append(static_cast<char>(v));
        bytes.append(static_cast<char>(v >> 8));
    };
    bytes.append("RIFF");
    put32(36 + dataBytes);
    bytes.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(static_cast<std::uint16_t>(channels));
    put32(static_cast<std::uint32_t>(rate));
    put32(static_cast<std::uint32_t>(rate * channels * 2));
    put16(static_cast<std::uint16_t>(channels * 2));
    put16(16);
    bytes.append("data");
    put32(dataBytes);
    for (std::int64_t i = 0; i < frames * channels; ++i)
        put16(static_cast<std::uint16_t>(value));
    QFile f(out);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return out;
}

QString MediaFixtures::textFile(const QString &name, const QByteArray &content) const
{
    QFile f(path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return path(name);
}

std::int64_t MediaFixtures::decodedSamples(const QString &file)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-v", "error", "-i", file, "-vn", "-f", "s16le", "-ac", "1", "-"});
    std::int64_t bytes = 0;
    while (ffmpeg.waitForReadyRead(60000) || ffmpeg.bytesAvailable() > 0)
        bytes += ffmpeg.readAllStandardOutput().size();
    ffmpeg.waitForFinished();
    bytes += ffmpeg.readAllStandardOutput().size();
    return bytes / 2;
}

std::int64_t MediaFixtures::audioPackets(const QString &file)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "a:0", "-count_packets",
                                              "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", file});
    if (!ffprobe.waitForFinished(120000) || ffprobe.exitCode() != 0)
        return -1;
    bool number = false;
    const std::int64_t packets = ffprobe.readAllStandardOutput().trimmed().toLongLong(&number);
    return number ? packets : -1;
}

int WavContents::sample(std::int64_t frame, int channel) const
{
    const std::size_t at = static_cast<std::size_t>(frame * blockAlign + channel * (bits / 8));
    if (bits == 8)
        return data[at];
    return static_cast<std::int16_t>(le16(&data[at]));
}

// After the data only its pad byte and the markers' chunks may follow,
// ending exactly where the file does; the trailer is counted only then, so
// junk a writer left shows as a file longer than its parts.
void readMarkers(const QByteArray &all, std::size_t dataEnd, WavContents &w)
{
    const auto *b = reinterpret_cast<const std::uint8_t *>(all.constData());
    const auto end = static_cast<std::size_t>(all.size());
    std::size_t pos = dataEnd + (dataEnd & 1);
    int cuePoints = 0;
    while (pos + 8 <= end) {
        const QByteArray id = all.mid(static_cast<qsizetype>(pos), 4);
        const std::uint64_t size = le32(b + pos + 4);
        if ((id != "cue " && id != "LIST") || pos + 8 + size > end)
            return;
        if (id == "cue ")
            cuePoints = static_cast<int>(le32(b + pos + 8));
        pos += 8 + size + (size & 1);
    }
    if (pos != end)
        return;
    w.trailer = end - dataEnd;
    w.cuePoints = cuePoints;
}

WavContents readWav(const QString &path)
{
    WavContents w;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        w.error = "cannot open";
        return w;
    }
    const QByteArray all = f.readAll();
    const auto *b = reinterpret_cast<const std::uint8_t *>(all.constData());
    w.fileSize = static_cast<std::uint64_t>(all.size());
    if (all.size() < 12 || (all.left(4) != "RIFF" && all.left(4) != "RF64") || all.mid(8, 4) != "WAVE") {
        w.error = "not a WAVE file";
        return w;
    }
    w.rf64 = all.left(4) == "RF64";
    w.riffSize = le32(b + 4);
    std::uint64_t dataSize64 = 0;
    std::size_t pos = 12;
    bool haveFormat = false;
    while (pos + 8 <= static_cast<std::size_t>(all.size())) {
        const QByteArray id = all.mid(static_cast<qsizetype>(pos), 4);
        std::uint64_t size = le32(b + pos + 4);
        const std::size_t body = pos + 8;
        if (id == "ds64") {
            w.riffSize = le64(b + body);
            dataSize64 = le64(b + body + 8);
        } else if (id == "fmt ") {
            w.formatTag = le16(b + body);
            w.channels = le16(b + body + 2);
            w.rate = static_cast<int>(le32(b + body + 4));
            w.blockAlign = le16(b + body + 12);
            w.bits = le16(b + body + 14);
            haveFormat = true;
        } else if (id == "data") {
            if (w.rf64 && size == 0xFFFFFFFFu)
                size = dataSize64;
            if (body + size > static_cast<std::size_t>(all.size())) {
                w.error = "data chunk runs past the end of the file";
                return w;
            }
            w.data.assign(b + body, b + body + size);
            w.valid = haveFormat;
            if (!haveFormat)
                w.error = "data before fmt";
            readMarkers(all, body + size, w);
            return w;
        }
        pos = body + size + (size & 1);
    }
    w.error = "no data chunk";
    return w;
}

std::vector<std::int16_t> decodedPcm(const QString &path, int rate, int channels)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-vn", "-f", "s16le", "-ac",
                                            QString::number(channels), "-ar", QString::number(rate), "-"});
    QByteArray bytes;
    while (ffmpeg.waitForReadyRead(60000) || ffmpeg.bytesAvailable() > 0)
        bytes += ffmpeg.readAllStandardOutput();
    ffmpeg.waitForFinished();
    bytes += ffmpeg.readAllStandardOutput();
    std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes.size()) / 2);
    const auto *b = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(le16(b + 2 * i));
    return samples;
}

std::int64_t firstDifferingFrame(const WavContents &w, const std::vector<std::int16_t> &samples, std::int64_t from)
{
    const auto frames = static_cast<std::int64_t>(samples.size()) / std::max(w.channels, 1);
    for (std::int64_t f = 0; f < frames; ++f) {
        if (from + f >= w.frames())
            return from + f;
        for (int c = 0; c < w.channels; ++c) {
            if (w.sample(from + f, c) != samples[static_cast<std::size_t>(f * w.channels + c)])
                return from + f;
        }
    }
    return -1;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace sonaweld::test

namespace sonaweld::test {
namespace {

void putLe(QByteArray &bytes, std::uint64_t v, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>(v >> (8 * i)));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size()) << path.toStdString();
}

// Ogg's page checksum: CRC-32 with polynomial 0x04C11DB7, not reflected,
// starting at 0.
std::uint32_t oggCrc(const QByteArray &page)
{
    std::uint32_t crc = 0;
    for (const char c : page) {
        crc ^= static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// Bytes of the MPEG audio Layer III frame whose header starts at `h`, or 0
// when no such header starts there.
int layer3FrameBytes(const std::uint8_t *h)
{
    static const int kMpeg1Kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kMpeg2Kbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const int version = (h[1] >> 3) & 3;
    const int rateIndex = (h[2] >> 2) & 3;
    if (h[0] != 0xFF || (h[1] & 0xE6) != 0xE2 || version == 1 || rateIndex == 3)
        return 0;
    const int rate = kRates[version][rateIndex];
    const int padding = (h[2] >> 1) & 1;
    if (version == 3)
        return 144000 * kMpeg1Kbps[h[2] >> 4] / rate + padding;
    return 72000 * kMpeg2Kbps[h[2] >> 4] / rate + padding;
}

// Where the ID3v2 tag at the start of `bytes` ends; 0 when there is none.
int id3v2End(const QByteArray &bytes)
{
    if (!bytes.startsWith("ID3") || bytes.size() < 10)
        return 0;
    const auto *b = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    return 10 + ((b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F));
}

// An ID3v2.3 tag of one title, as a tagger writes it before a stream whose
// muxer writes none (FFmpeg's MP2 muxer).
QByteArray id3v2Tag(const QByteArray &title)
{
    const auto be = [](std::uint32_t v, int bitsPerByte) {
        QByteArray b;
        for (int i = 3; i >= 0; --i)
            b.append(static_cast<char>((v >> (bitsPerByte * i)) & ((1u << bitsPerByte) - 1)));
        return b;
    };
    const QByteArray frame = "TIT2" + be(static_cast<std::uint32_t>(title.size() + 1), 8) + QByteArray(3, '\0') + title;
    // The tag's size is written seven bits a byte.
    return QByteArray("ID3\x03\x00\x00", 6) + be(static_cast<std::uint32_t>(frame.size()), 7) + frame;
}

// An APEv2 tag of one title, with its header and its footer.
QByteArray apeTag(const QByteArray &title)
{
    QByteArray items;
    putLe(items, static_cast<std::uint64_t>(title.size()), 4);
    putLe(items, 0, 4);
    items += QByteArray("Title", 6) + title;
    const auto frame = [&](std::uint32_t flags) {
        QByteArray f("APETAGEX");
        putLe(f, 2000, 4);
        putLe(f, static_cast<std::uint64_t>(items.size() + 32), 4);
        putLe(f, 1, 4);
        putLe(f, flags, 4);
        return f + QByteArray(8, '\0');
    };
    // Bit 31: the tag has a header; bit 29: this is the header.
    return frame(0xA0000000u) + items + frame(0x80000000u);
}

} // namespace

QString MediaFixtures::dsf(const QString &name, int dsdRate, int channels, std::int64_t samples,
                           bool padLastBlock) const
{
    constexpr std::int64_t kBlock = 4096;
    QByteArray data;
    std::uint32_t noise = 12345;
    for (std::int64_t block = 0; block * kBlock < samples; ++block) {
        const std::int64_t filled = std::min(kBlock, samples - block * kBlock);
        for (int c = 0; c < channels; ++c) {
            for (std::int64_t i = 0; i < filled; ++i) {
                noise = noise * 1664525u + 1013904223u;
                data.append(static_cast<char>(noise >> 24));
            }
            if (padLastBlock)
                data.append(QByteArray(static_cast<qsizetype>(kBlock - filled), '\0'));
        }
    }
    QByteArray fmt("fmt ");
    putLe(fmt, 52, 8);
    putLe(fmt, 1, 4); // format version
    putLe(fmt, 0, 4); // DSD raw
    putLe(fmt, channels == 1 ? 1 : 2, 4); // channel type: mono or stereo
    putLe(fmt, static_cast<std::uint64_t>(channels), 4);
    putLe(fmt, static_cast<std::uint64_t>(dsdRate), 4);
    putLe(fmt, 1, 4); // least significant bit first
    putLe(fmt, static_cast<std::uint64_t>(samples) * 8, 8); // in bits per channel
    putLe(fmt, kBlock, 4);
    putLe(fmt, 0, 4);
    QByteArray file("DSD ");
    putLe(file, 28, 8);
    putLe(file, static_cast<std::uint64_t>(28 + fmt.size() + 12 + data.size()), 8);
    putLe(file, 0, 8); // no metadata
    file += fmt;
    file += "data";
    putLe(file, static_cast<std::uint64_t>(12 + data.size()), 8);
    file += data;
    writeFile(path(name), file);
    return path(name);
}

void MediaFixtures::appendRiffInfo(const QString &wav, const std::vector<std::pair<QByteArray, QByteArray>> &tags)
{
    QByteArray info("INFO");
    for (const auto &[id, value] : tags) {
        info += id;
        putLe(info, static_cast<std::uint64_t>(value.size() + 1), 4);
        info += value;
        info += '\0';
        if (info.size() % 2)
            info += '\0';
    }
    QByteArray bytes = fileBytes(wav);
    ASSERT_TRUE(bytes.startsWith("RIFF")) << wav.toStdString();
    bytes += "LIST";
    putLe(bytes, static_cast<std::uint64_t>(info.size()), 4);
    bytes += info;
    QByteArray riffSize;
    putLe(riffSize, static_cast<std::uint64_t>(bytes.size() - 8), 4);
    bytes.replace(4, 4, riffSize);
    writeFile(wav, bytes);
}

void MediaFixtures::endOggEarlier(const QString &ogg, std::int64_t samples)
{
    QByteArray bytes = fileBytes(ogg);
    qsizetype last = -1;
    qsizetype size = 0;
    for (qsizetype at = 0; at + 27 <= bytes.size(); at += size) {
        ASSERT_EQ(bytes.mid(at, 4), "OggS") << "no Ogg page at " << at;
        const int segments = static_cast<std::uint8_t>(bytes[at + 26]);
        size = 27 + segments;
        for (int i = 0; i < segments; ++i)
            size += static_cast<std::uint8_t>(bytes[at + 27 + i]);
        last = at;
    }
    ASSERT_GE(last, 0);
    const auto *b = reinterpret_cast<const std::uint8_t *>(bytes.constData()) + last;
    const std::uint64_t granule = le64(b + 6) - static_cast<std::uint64_t>(samples);
    QByteArray field;
    putLe(field, granule, 8);
    bytes.replace(last + 6, 8, field);
    bytes.replace(last + 22, 4, QByteArray(4, '\0'));
    field.clear();
    putLe(field, oggCrc(bytes.mid(last, size)), 4);
    bytes.replace(last + 22, 4, field);
    writeFile(ogg, bytes);
}

QString MediaFixtures::mp3Frames(const QString &from, const QString &name, int keep) const
{
    QByteArray bytes = fileBytes(from);
    const auto *b = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    const int tagEnd = id3v2End(bytes);
    EXPECT_GT(tagEnd, 0);
    const int infoBytes = layer3FrameBytes(b + tagEnd);
    const qsizetype info = bytes.indexOf("Info", tagEnd);
    EXPECT_GT(infoBytes, 0);
    EXPECT_TRUE(info > tagEnd && info < tagEnd + infoBytes) << "no Info frame";
    int end = tagEnd + infoBytes;
    for (int i = 0; i < keep; ++i) {
        const int frame = layer3FrameBytes(b + end);
        EXPECT_GT(frame, 0) << "frame " << i;
        end += frame;
    }
    EXPECT_LT(end, bytes.size()) << "nothing was cut";
    bytes.truncate(end);
    const auto putBe32 = [&bytes](qsizetype at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    putBe32(info + 8, static_cast<std::uint32_t>(keep));
    putBe32(info + 12, static_cast<std::uint32_t>(end - tagEnd));
    const QString out = path(name);
    QFile file(out);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return out;
}

QString MediaFixtures::mp3sEndToEnd(const QString &name, const Mp3Parts &parts) const
{
    QByteArray all;
    for (std::size_t i = 0; i < parts.seconds.size(); ++i) {
        const QString title = QStringLiteral("Part %1").arg(i + 1);
        const QString sine = QStringLiteral("sine=frequency=%1:duration=%2:sample_rate=%3")
                                 .arg(300 + 110 * i)
                                 .arg(parts.seconds[i], 0, 'f', 6)
                                 .arg(parts.rate);
        QStringList args = QStringList{"-f", "lavfi", "-i", sine} + parts.encoder
                           + QStringList{"-ac", QString::number(parts.channels), "-metadata", "title=" + title};
        if (parts.id3v1)
            args << "-write_id3v1" << "1";
        const QString part = QStringLiteral("%1.part%2.%3").arg(name).arg(i + 1).arg(QFileInfo(name).suffix());
        QByteArray bytes = fileBytes(make(part, args));
        if (!parts.id3v2)
            bytes.remove(0, id3v2End(bytes));
        else if (id3v2End(bytes) == 0)
            bytes.prepend(id3v2Tag(title.toUtf8()));
        if (parts.ape)
            bytes += apeTag(title.toUtf8());
        all += bytes;
    }
    writeFile(path(name), all);
    return path(name);
}

QString MediaFixtures::mp3FrameEdited(const QString &from, const QString &name, int frame,
                                      const std::function<void(QByteArray &, qsizetype)> &edit) const
{
    QByteArray bytes = fileBytes(from);
    const auto *b = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    int at = id3v2End(bytes);
    for (int i = 0; i < frame; ++i) {
        const int length = at + 4 <= bytes.size() ? layer3FrameBytes(b + at) : 0;
        EXPECT_GT(length, 0) << "frame " << i;
        if (length <= 0)
            return {};
        at += length;
    }
    EXPECT_LT(at + 64, bytes.size()) << "the file has fewer frames";
    edit(bytes, at);
    writeFile(path(name), bytes);
    return path(name);
}

} // namespace sonaweld::test
