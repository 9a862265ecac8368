#include "media/audio_input.h"
#include "support/media_fixtures.h"

#include <QFile>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/mem.h>
}

using namespace sonaweld::media;
using namespace sonaweld::test;

namespace {

// A file served from memory that fails with `error` once `failAt` bytes
// have been read, as a dropped network share or a bad sector does.
struct FailingSource
{
    QByteArray bytes;
    qsizetype position = 0;
    qsizetype failAt = 0;
    int error = 0;
};

int readFailing(void *opaque, std::uint8_t *buffer, int size)
{
    auto *s = static_cast<FailingSource *>(opaque);
    if (s->position >= s->failAt)
        return s->error != 0 ? s->error : AVERROR_EOF;
    const int n = static_cast<int>(std::min<qsizetype>(size, s->failAt - s->position));
    std::memcpy(buffer, s->bytes.constData() + s->position, static_cast<size_t>(n));
    s->position += n;
    return n;
}

std::int64_t seekFailing(void *opaque, std::int64_t offset, int whence)
{
    auto *s = static_cast<FailingSource *>(opaque);
    const std::int64_t size = s->bytes.size();
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return size;
    case SEEK_SET: break;
    case SEEK_CUR: offset += s->position; break;
    case SEEK_END: offset += size; break;
    default: return AVERROR(EINVAL);
    }
    if (offset < 0 || offset > size)
        return AVERROR(EINVAL);
    s->position = static_cast<qsizetype>(offset);
    return offset;
}

struct IoContextDeleter
{
    void operator()(AVIOContext *p) const
    {
        av_freep(&p->buffer);
        avio_context_free(&p);
    }
};

// Reads every packet of `file` through a source that stops after `share`
// of its bytes with `error` (0: a plain end), and returns what the last
// read's failure is judged to be.
int judgeLastRead(const QString &file, double share, int error)
{
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    FailingSource source{f.readAll(), 0, 0, error};
    source.failAt = static_cast<qsizetype>(source.bytes.size() * share);

    constexpr int kBufferSize = 4096;
    auto *buffer = static_cast<std::uint8_t *>(av_malloc(kBufferSize));
    std::unique_ptr<AVIOContext, IoContextDeleter> io(
        avio_alloc_context(buffer, kBufferSize, 0, &source, &readFailing, nullptr, &seekFailing));
    AudioInput in;
    AVFormatContext *raw = avformat_alloc_context();
    raw->pb = io.get();
    const int opened = avformat_open_input(&raw, nullptr, nullptr, nullptr);
    EXPECT_GE(opened, 0) << file.toStdString();
    if (opened < 0)
        return opened; // the context is freed already
    in.format.reset(raw);
    EXPECT_GE(avformat_find_stream_info(raw, nullptr), 0);
    AVPacketUPtr packet(av_packet_alloc());
    int rc = 0;
    int packets = 0;
    while ((rc = av_read_frame(raw, packet.get())) >= 0) {
        ++packets;
        av_packet_unref(packet.get());
    }
    EXPECT_GT(packets, 10) << "the failure came before any audio";
    const int judged = readFailure(in, rc);
    in.format.reset();
    return judged;
}

} // namespace

TEST(ReadFailure, AnIoErrorIsAFailureWhateverTheDemuxerCallsIt)
{
    MediaFixtures media;
    for (const char *name : {"a.wav", "a.mp3", "a.flac", "a.ogg", "a.m4a", "a.mkv"}) {
        // The MP4 index goes first, so the failure meets the audio, not the index.
        const QString file = media.tone(name, 20.0, 44100, 2, {"-movflags", "+faststart"});
        EXPECT_EQ(judgeLastRead(file, 0.5, AVERROR(EIO)), AVERROR(EIO)) << name;
        EXPECT_EQ(judgeLastRead(file, 1.0, 0), 0) << name << ": the end of the file is no failure";
    }
}

TEST(ReadFailure, ACutOffFileSimplyEnds)
{
    MediaFixtures media;
    for (const char *name : {"a.wav", "a.aiff", "a.mp3", "a.flac", "a.au"}) {
        const QString file = media.tone(name, 20.0, 44100, 2);
        EXPECT_EQ(judgeLastRead(file, 0.6, 0), 0) << name;
    }
}
