#include "cue_output.h"

#include "app/paths.h"
#include "compose/failure_text.h"
#include "media/cue_sheet.h"
#include "media/media_tags.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace sonaweld {

QString cuePathFor(const QString &output)
{
    const QFileInfo info(output);
    const QString name = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    const int folderEnd = static_cast<int>(output.size() - info.fileName().size());
    return output.left(folderEnd) + name + QStringLiteral(".cue");
}

std::string cueRefusal(const QString &output, const QStringList &inputs)
{
    const QString cuePath = cuePathFor(output);
    if (QFileInfo(output).suffix().compare(QStringLiteral("cue"), Qt::CaseInsensitive) == 0)
        return "--cue: the output " + output.toStdString() + " would be its own cue sheet; name it .wav";
    for (const QString &input : inputs) {
        if (sameFile(cuePath, input))
            return "--cue: the cue sheet " + cuePath.toStdString() + " would replace an input";
    }
    const media::Result fits =
        media::checkCueSheet(QFileInfo(output).fileName().toStdString(), static_cast<std::size_t>(inputs.size()));
    if (fits.failed())
        return "--cue: " + failureText(fits);
    return {};
}

media::Result composeCueSheet(const media::JoinPlan &plan, std::string &sheet)
{
    std::vector<media::CueTrack> tracks;
    tracks.reserve(plan.clips.size());
    for (std::size_t i = 0; i < plan.clips.size(); ++i) {
        const media::ClipSpec &clip = plan.clips[i];
        if (clip.stop <= clip.start)
            continue;
        media::CueTrack track;
        track.firstSample = plan.firstSample(i);
        track.path = QFileInfo(QString::fromStdString(clip.path)).absoluteFilePath().toStdString();
        // A source whose tags cannot be read is named by its file name; the
        // join itself reports a file it cannot read.
        media::MediaTags tags;
        if (media::readMediaTags(clip.path, tags)) {
            track.title = tags.title;
            track.performer = tags.artist;
        }
        tracks.push_back(std::move(track));
    }
    const QString output = QString::fromStdString(plan.outputPath);
    return media::renderCueSheet(QFileInfo(output).fileName().toStdString(), tracks, plan.rate(), sheet);
}

bool isOwnSheetFor(const QByteArray &sheet, const QString &outputName)
{
    const QByteArray fileLine = "FILE \"" + outputName.toUtf8() + "\" ";
    bool ours = false;
    bool forOutput = false;
    for (const QByteArray &line : sheet.split('\n')) {
        ours = ours || line.trimmed().startsWith("REM SONAWELD_");
        forOutput = forOutput || line.startsWith(fileLine);
    }
    return ours && forOutput;
}

std::string removeStaleSheet(const QString &output)
{
    // Ours hold at most 99 short tracks; anything far bigger is not ours.
    constexpr qint64 kLargestOwnSheet = 1 << 20;
    const QString cuePath = cuePathFor(output);
    const QFileInfo info(cuePath);
    if (!info.isFile() || info.size() > kLargestOwnSheet)
        return {};
    QFile sheet(cuePath);
    if (!sheet.open(QIODevice::ReadOnly))
        return {};
    if (!isOwnSheetFor(sheet.readAll(), QFileInfo(output).fileName()))
        return {};
    sheet.close();
    if (!sheet.remove())
        return sheet.errorString().toStdString();
    return {};
}

std::string saveCueSheet(const QString &cuePath, const std::string &sheet)
{
    // A temporary file beside it, renamed over it once complete: a sheet is
    // never seen half written, and an older one stays until then.
    QSaveFile file(cuePath);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString().toStdString();
    if (file.write(sheet.data(), static_cast<qint64>(sheet.size())) != static_cast<qint64>(sheet.size()))
        return file.errorString().toStdString();
    if (!file.commit())
        return file.errorString().toStdString();
    return {};
}

} // namespace sonaweld
