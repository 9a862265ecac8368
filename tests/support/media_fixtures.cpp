#include "support/media_fixtures.h"

#include <QFile>
#include <QProcess>

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

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace sonaweld::test
