// A full list: a thousand sources join without opening them all at once.
#include "app/main_dlg.h"
#include "support/media_fixtures.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtEndian>

#include <algorithm>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

int openDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

} // namespace

#ifdef __linux__
TEST(Scale, AThousandItemsJoinWithFewFilesOpenAtOnce)
{
    TempSettings settings;
    ScriptedPrompter prompter;
    MediaFixtures media;
    CMainDlg dlg(prompter);
    // 441 frames each, every one a different level, so each clip's place
    // in the output can be checked.
    for (int i = 0; i < kMaxItems; ++i) {
        const QString path = media.constantWav(QStringLiteral("clip%1.wav").arg(i), 441, 44100, 2,
                                               static_cast<std::int16_t>(i * 30 - 15000));
        ASSERT_TRUE(dlg.items().append(path, kUnitsPerSecond / 100));
    }
    dlg.outputSettings().outputPath = media.path("all.wav");
    const int before = openDescriptors();
    int peak = before;
    dlg.OnJoin();
    ASSERT_EQ(dlg.converting(), 1) << prompter.texts().join('\n').toStdString();
    QElapsedTimer timer;
    timer.start();
    while (dlg.converting() && timer.elapsed() < 120000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        peak = std::max(peak, openDescriptors());
    }
    ASSERT_EQ(dlg.converting(), 0);
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('\n').toStdString();
    // The output, and a source or two per worker: never the whole list.
    EXPECT_LE(peak - before, 16) << "descriptors open at the peak of the join";
    EXPECT_LE(openDescriptors(), before + 1);

    const WavContents w = readWav(media.path("all.wav"));
    ASSERT_TRUE(w.valid);
    ASSERT_EQ(w.frames(), kMaxItems * 441);
    for (int i = 0; i < kMaxItems; i += 37)
        EXPECT_EQ(w.sample(i * 441 + 220, 0), i * 30 - 15000) << "clip " << i;
}
#endif

namespace {

std::uint8_t crc8(const QByteArray &bytes, qsizetype from)
{
    std::uint8_t crc = 0;
    for (qsizetype i = from; i < bytes.size(); ++i) {
        crc ^= static_cast<std::uint8_t>(bytes[i]);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<std::uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

std::uint16_t crc16(const QByteArray &bytes, qsizetype from)
{
    std::uint16_t crc = 0;
    for (qsizetype i = from; i < bytes.size(); ++i) {
        crc ^= static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[i]) << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

void putBigEndian(QByteArray &bytes, std::uint64_t value, int size)
{
    for (int i = size - 1; i >= 0; --i)
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A FLAC stream of `samples` silent mono 16-bit samples at 44.1 kHz, written
// by hand: every frame holds one constant subframe, so thirteen and a half
// hours take half a megabyte and no encoding time. FFmpeg's decoder is the
// judge of whether it is well formed.
QByteArray silentFlac(std::int64_t samples)
{
    constexpr int kBlock = 65535;
    QByteArray out("fLaC");
    out.append(char(0x80)); // the last metadata block: STREAMINFO
    putBigEndian(out, 34, 3);
    putBigEndian(out, kBlock, 2);
    putBigEndian(out, kBlock, 2);
    putBigEndian(out, 0, 3);
    putBigEndian(out, 0, 3);
    putBigEndian(out, (std::uint64_t{44100} << 44) | (std::uint64_t{0} << 41) | (std::uint64_t{15} << 36)
                          | static_cast<std::uint64_t>(samples),
                 8);
    out.append(QByteArray(16, '\0')); // no MD5 signature
    for (std::int64_t frame = 0, at = 0; at < samples; ++frame, at += kBlock) {
        const qsizetype start = out.size();
        const int block = static_cast<int>(std::min<std::int64_t>(kBlock, samples - at));
        out.append(char(0xFF));
        out.append(char(0xF8));
        out.append(char(0x79)); // 16-bit block size at the end, 44.1 kHz
        out.append(char(0x08)); // mono, 16 bits
        // The frame number, UTF-8 style.
        if (frame < 0x80) {
            out.append(static_cast<char>(frame));
        } else if (frame < 0x800) {
            out.append(static_cast<char>(0xC0 | (frame >> 6)));
            out.append(static_cast<char>(0x80 | (frame & 0x3F)));
        } else {
            out.append(static_cast<char>(0xE0 | (frame >> 12)));
            out.append(static_cast<char>(0x80 | ((frame >> 6) & 0x3F)));
            out.append(static_cast<char>(0x80 | (frame & 0x3F)));
        }
        putBigEndian(out, static_cast<std::uint64_t>(block - 1), 2);
        out.append(static_cast<char>(crc8(out, start)));
        out.append(QByteArray(3, '\0')); // a constant subframe of 0
        putBigEndian(out, crc16(out, start), 2);
    }
    return out;
}

struct WavLayout
{
    QByteArray tag;
    std::uint32_t dataSize = 0;
    qint64 dataOffset = 0;
};

// The header of a plain RIFF file, read without loading gigabytes.
WavLayout wavLayout(QFile &file)
{
    WavLayout layout;
    const QByteArray head = file.read(12);
    layout.tag = head.left(4);
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            break;
        const std::uint32_t size = qFromLittleEndian<std::uint32_t>(chunk.constData() + 4);
        if (chunk.left(4) == "data") {
            layout.dataSize = size;
            layout.dataOffset = file.pos();
            break;
        }
        file.seek(file.pos() + size + (size & 1));
    }
    return layout;
}

} // namespace

// More than 2^31 samples of input: lengths and the offsets after it must
// not wrap or lose a sample anywhere between the probe and the writer.
TEST(Scale, AnInputOfMoreThanTwoToTheThirtyFirstSamplesKeepsEverySample)
{
    MediaFixtures media;
    const std::int64_t samples = (std::int64_t{1} << 31) + 12345; // 13 h 31 min 36 s
    QFile flac(media.path("long.flac"));
    ASSERT_TRUE(flac.open(QIODevice::WriteOnly));
    ASSERT_GT(flac.write(silentFlac(samples)), 0);
    flac.close();
    const QString marker = media.constantWav("marker.wav", 441, 44100, 1, 12800);

    // The length, in 100-ns units rounded up, of exactly `samples`.
    QProcess probe;
    probe.start(QStringLiteral(SONAWELD_JOIN_PATH), {"--probe", flac.fileName()});
    ASSERT_TRUE(probe.waitForFinished(300000));
    const QList<QByteArray> fields = probe.readAllStandardOutput().split('\t');
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    EXPECT_EQ(fields.value(0).toLongLong(), (samples * 10000000 + 44099) / 44100);

    // Joined at 8 bits mono so the output stays near 2 GiB: the marker
    // starts exactly where the long file's last sample ends. Without
    // chapters nothing follows the samples.
    const QString out = media.path("out.wav");
    QProcess join;
    join.start(QStringLiteral(SONAWELD_JOIN_PATH),
               {"-q", "--no-chapters", "-r", "44100", "-c", "1", "-b", "8", "-o", out, flac.fileName(), marker});
    ASSERT_TRUE(join.waitForFinished(600000));
    ASSERT_EQ(join.exitCode(), 0) << join.readAllStandardError().toStdString();
    QFile wav(out);
    ASSERT_TRUE(wav.open(QIODevice::ReadOnly));
    const WavLayout layout = wavLayout(wav);
    EXPECT_EQ(layout.tag, "RIFF");
    EXPECT_EQ(layout.dataSize, static_cast<std::uint64_t>(samples + 441));
    EXPECT_EQ(wav.size(), layout.dataOffset + samples + 441 + ((samples + 441) & 1));
    ASSERT_TRUE(wav.seek(layout.dataOffset + samples - 2));
    const QByteArray edge = wav.read(4);
    ASSERT_EQ(edge.size(), 4);
    // Silence is 128 at 8 bits; 12800 >> 8 is 50 above it.
    EXPECT_EQ(static_cast<std::uint8_t>(edge[0]), 128);
    EXPECT_EQ(static_cast<std::uint8_t>(edge[1]), 128);
    EXPECT_EQ(static_cast<std::uint8_t>(edge[2]), 178);
    EXPECT_EQ(static_cast<std::uint8_t>(edge[3]), 178);
}
