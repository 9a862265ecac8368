#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace sonaweld::test {

// MP3s put end to end byte for byte, as `cat` and old joiners do, so that
// the tags of every part but the outer ones sit in the middle of the stream.
struct Mp3Parts
{
    std::vector<double> seconds; // one part each, a tone of its own
    int rate = 44100;
    int channels = 2;
    // ffmpeg arguments after the tone: a bit rate or quality, -write_xing 0
    // to leave out the Info frames, further inputs such as a cover.
    QStringList encoder;
    bool id3v2 = true; // an ID3v2 title tag at each part's start
    bool id3v1 = false; // an ID3v1 tag at each part's end
    bool ape = false; // an APEv2 tag at each part's end
};

// Media made at test time with the ffmpeg tool's own encoders.
class MediaFixtures
{
public:
    MediaFixtures();

    QString dir() const { return dir_.path(); }
    QString path(const QString &name) const { return dir_.filePath(name); }

    // Runs ffmpeg with `args` and the output path last; fails the test when
    // ffmpeg fails. Returns the output path.
    QString make(const QString &name, const QStringList &args) const;
    // A sine tone of `seconds` at `rate` with `channels`, in the format the
    // name's extension picks; extra encoder arguments go before the output.
    QString tone(const QString &name, double seconds, int rate = 44100, int channels = 2,
                 const QStringList &encoder = {}) const;
    // A 16-bit PCM WAV whose every sample holds `value`.
    QString constantWav(const QString &name, std::int64_t frames, int rate, int channels,
                        std::int16_t value) const;
    QString textFile(const QString &name, const QByteArray &content) const;
    // A DSF file of `samples` DSD bytes per channel (noise) at `dsdRate`
    // bits per second, in 4096-byte blocks per channel. A writer that does
    // not pad the last block to its full size is common, though the format
    // asks for it.
    QString dsf(const QString &name, int dsdRate, int channels, std::int64_t samples, bool padLastBlock) const;

    // The MP3 `from` (ID3v2 tag, then a LAME/Info frame) cut after its first
    // `keep` audio frames, the Info frame's frame and byte counts mended, as
    // a tool that cuts MP3s by frames without re-encoding writes it.
    QString mp3Frames(const QString &from, const QString &name, int keep) const;
    // A copy of the MP3 `from` as `name`, `edit` given its bytes and where
    // the header of its audio frame `frame` starts (counting from 0 after
    // any ID3v2 tag, an Info frame included).
    QString mp3FrameEdited(const QString &from, const QString &name, int frame,
                           const std::function<void(QByteArray &bytes, qsizetype header)> &edit) const;
    // The parts encoded and put end to end as `name`, in the format its
    // extension picks (an ID3v2 tag added where the muxer writes none).
    QString mp3sEndToEnd(const QString &name, const Mp3Parts &parts) const;

    // Appends a LIST INFO chunk of `tags` (chunk id, value bytes as they are)
    // to a RIFF WAVE file and mends the RIFF size.
    static void appendRiffInfo(const QString &wav, const std::vector<std::pair<QByteArray, QByteArray>> &tags);
    // Moves an Ogg file's last granule position `samples` earlier, its page
    // checksum mended, as encoders that end the stream at the last input
    // sample write it.
    static void endOggEarlier(const QString &ogg, std::int64_t samples);

    // Samples per channel that FFmpeg's own decoder yields for the file.
    static std::int64_t decodedSamples(const QString &path);
    // Packets of the file's first audio stream that FFmpeg's own prober
    // reads, without decoding; -1 when it cannot say.
    static std::int64_t audioPackets(const QString &path);

private:
    QTemporaryDir dir_;
};

// A RIFF/RF64 WAVE file read back for checking.
struct WavContents
{
    bool valid = false;
    bool rf64 = false;
    QString error;
    int formatTag = 0;
    int channels = 0;
    int rate = 0;
    int bits = 0;
    int blockAlign = 0;
    std::uint64_t riffSize = 0;
    std::uint64_t fileSize = 0;
    std::vector<std::uint8_t> data;
    // Bytes after the data chunk's samples: its pad byte and the markers'
    // chunks, the only ones allowed there.
    std::uint64_t trailer = 0;
    int cuePoints = 0;

    std::int64_t frames() const { return blockAlign ? static_cast<std::int64_t>(data.size()) / blockAlign : 0; }
    // Sample of `channel` at `frame`, as a signed value.
    int sample(std::int64_t frame, int channel) const;
};

WavContents readWav(const QString &path);

// A file's bytes; empty when it cannot be read.
QByteArray fileBytes(const QString &path);

// The file as FFmpeg's own tool decodes it: interleaved 16-bit samples at
// `rate` with `channels`.
std::vector<std::int16_t> decodedPcm(const QString &path, int rate, int channels);
// Where the 16-bit WAV's frames from `from` on first differ from the
// interleaved `samples`, or -1 when all of them are there and alike.
std::int64_t firstDifferingFrame(const WavContents &w, const std::vector<std::int16_t> &samples,
                                 std::int64_t from = 0);

} // namespace sonaweld::test
