#include "support/ffmpeg_reference.h"

#include <QProcess>
#include <QRegularExpression>

#include <cmath>
#include <cstring>

namespace sonaweld::test {
namespace {

struct FfmpegRun
{
    bool ok = false;
    QByteArray out;
    QByteArray err;
};

FfmpegRun runFfmpeg(const QStringList &args)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-nostdin"} + args);
    FfmpegRun run;
    while (ffmpeg.waitForReadyRead(120000) || ffmpeg.bytesAvailable() > 0)
        run.out += ffmpeg.readAllStandardOutput();
    run.ok = ffmpeg.waitForFinished(120000) || ffmpeg.state() == QProcess::NotRunning;
    run.out += ffmpeg.readAllStandardOutput();
    run.err = ffmpeg.readAllStandardError();
    run.ok = run.ok && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
    return run;
}

// The decoded stream converted to the joined file's format; every chain
// starts with it.
QString toFormat(PcmFormat format)
{
    return QStringLiteral("aresample=%1,aformat=sample_fmts=%2:channel_layouts=%3")
        .arg(format.rate)
        .arg(format.bits == 8 ? "u8" : "s16")
        .arg(format.channels == 1 ? "mono" : "stereo");
}

QStringList rawOutput(PcmFormat format)
{
    return {"-f", format.bits == 8 ? "u8" : "s16le", "-ac", QString::number(format.channels),
            "-ar", QString::number(format.rate), "-"};
}

std::int64_t framesOf(const FfmpegRun &run, int frameBytes)
{
    return run.ok ? run.out.size() / frameBytes : -1;
}

// Each frame as one sample: its channels' largest magnitude. FFmpeg 5.1's
// peak detector with the shortest window adds |x| over the last `channels`
// interleaved samples, so on the channels themselves a stereo frame whose
// two channels are each just under the threshold counts as sound, and
// doubling the threshold would make one channel above it count as silence.
// Fed this, it compares every channel with the threshold as it is.
QString channelPeak(int channels)
{
    QString peak = QStringLiteral("abs(val(0))");
    for (int c = 1; c < channels; ++c)
        peak = QStringLiteral("max(%1\\,abs(val(%2)))").arg(peak).arg(c);
    return QStringLiteral("aeval=exprs='%1':channel_layout=mono").arg(peak);
}

// silenceremove that keeps its first frame if that one sounds: the filter
// of FFmpeg 5.1 with a window of one sample passes nothing at all of a
// stream that starts with sound, so one silent frame goes first for it to
// remove.
QString leadingSilenceRemoved(double db)
{
    return QStringLiteral("adelay=delays=1S:all=1,silenceremove=start_periods=1:start_threshold=%1:"
                          "detection=peak:window=0")
        .arg(std::pow(10.0, db / 20), 0, 'g', 17);
}

} // namespace

std::vector<std::int16_t> crossfadeReference(const QStringList &clips, const std::vector<std::int64_t> &joints,
                                             PcmFormat format)
{
    QStringList args;
    QString graph;
    for (qsizetype i = 0; i < clips.size(); ++i) {
        args << "-i" << clips[i];
        // Double samples through the mix: the only rounding is the final one.
        graph += QStringLiteral("[%1:a:0]%2,aformat=sample_fmts=dbl[in%1];").arg(i).arg(toFormat(format));
    }
    QString last = QStringLiteral("in0");
    for (qsizetype i = 1; i < clips.size(); ++i) {
        const QString next = QStringLiteral("mix%1").arg(i);
        graph += QStringLiteral("[%1][in%2]acrossfade=ns=%3:c1=qsin:c2=qsin[%4];")
                     .arg(last)
                     .arg(i)
                     .arg(joints.at(static_cast<std::size_t>(i - 1)))
                     .arg(next);
        last = next;
    }
    graph += QStringLiteral("[%1]anull[out]").arg(last);
    const FfmpegRun run = runFfmpeg(args + QStringList{"-filter_complex", graph, "-map", "[out]"} + rawOutput(format));
    std::vector<std::int16_t> samples;
    if (!run.ok)
        return samples;
    if (format.bits == 8) {
        for (const char byte : run.out)
            samples.push_back(static_cast<std::uint8_t>(byte));
        return samples;
    }
    samples.resize(static_cast<std::size_t>(run.out.size()) / 2);
    std::memcpy(samples.data(), run.out.constData(), samples.size() * 2);
    return samples;
}

SilenceTrim silenceReference(const QString &path, double db, PcmFormat format)
{
    // Only the number of frames matters: one 16-bit channel of peaks each.
    const QString peaks = toFormat(format) + "," + channelPeak(format.channels);
    const QString lead = leadingSilenceRemoved(db);
    const QStringList out{"-f", "s16le", "-"};
    const FfmpegRun whole = runFfmpeg(QStringList{"-i", path, "-vn", "-af", peaks} + out);
    const FfmpegRun afterLead = runFfmpeg(QStringList{"-i", path, "-vn", "-af", peaks + "," + lead} + out);
    const FfmpegRun kept = runFfmpeg(
        QStringList{"-i", path, "-vn", "-af", peaks + "," + lead + ",areverse," + lead + ",areverse"} + out);
    if (!whole.ok || !afterLead.ok || !kept.ok)
        return {};
    return {framesOf(whole, 2) - framesOf(afterLead, 2), framesOf(kept, 2)};
}

LoudnessReading loudnessReference(const QString &path, std::int64_t from, std::int64_t to, PcmFormat format)
{
    return loudnessReference(std::vector<PcmSpan>{{path, from, to}}, format);
}

LoudnessReading loudnessReference(const std::vector<PcmSpan> &spans, PcmFormat format)
{
    QStringList args;
    QString graph;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const PcmSpan &s = spans[i];
        args << "-i" << s.path;
        graph += QStringLiteral("[%1:a:0]%2").arg(i).arg(toFormat(format));
        if (s.from > 0 || s.to >= 0) {
            graph += QStringLiteral(",atrim=start_sample=%1").arg(s.from);
            if (s.to >= 0)
                graph += QStringLiteral(":end_sample=%1").arg(s.to);
        }
        graph += QStringLiteral("[s%1];").arg(i);
    }
    for (std::size_t i = 0; i < spans.size(); ++i)
        graph += QStringLiteral("[s%1]").arg(i);
    // The summary rounds to 0.1; the metadata of the last frame holds the
    // same values to 0.001 (true peaks linear).
    graph += QStringLiteral("concat=n=%1:v=0:a=1,ebur128=metadata=1:peak=true,ametadata=mode=print:file=-")
                 .arg(spans.size());
    const FfmpegRun run = runFfmpeg(args + QStringList{"-filter_complex", graph, "-f", "null", "-"});
    LoudnessReading reading;
    if (!run.ok)
        return reading;
    static const QRegularExpression integrated(QStringLiteral(R"(lavfi\.r128\.I=(-?[0-9.]+|-?inf))"));
    static const QRegularExpression peak(QStringLiteral(R"(lavfi\.r128\.true_peak=([0-9.]+))"));
    const QString text = QString::fromLatin1(run.out);
    QString lastI, lastPeak;
    for (auto it = integrated.globalMatch(text); it.hasNext();)
        lastI = it.next().captured(1);
    for (auto it = peak.globalMatch(text); it.hasNext();)
        lastPeak = it.next().captured(1);
    bool iOk = lastI.endsWith("inf"), peakOk = false;
    reading.integrated = iOk ? -HUGE_VAL : lastI.toDouble(&iOk);
    const double linear = lastPeak.toDouble(&peakOk);
    reading.truePeakDb = linear > 0 ? 20 * std::log10(linear) : -HUGE_VAL;
    reading.valid = iOk && peakOk;
    return reading;
}

} // namespace sonaweld::test
