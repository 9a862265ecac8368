#include "support/media_probe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace sonaweld::test {
namespace {

void addTags(const QJsonObject &tags, QMap<QString, QString> &into)
{
    for (auto it = tags.begin(); it != tags.end(); ++it)
        into.insert(it.key().toLower(), it.value().toString());
}

} // namespace

ProbedFile probeFile(const QString &path)
{
    ProbedFile file;
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_format", "-show_streams", "-show_chapters", "-of",
                                              "json", path});
    if (!ffprobe.waitForFinished(120000) || ffprobe.exitCode() != 0)
        return file;
    const QJsonObject root = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    const QJsonObject format = root.value("format").toObject();
    file.formatName = format.value("format_name").toString();
    addTags(format.value("tags").toObject(), file.tags);
    bool audioSeen = false;
    for (const QJsonValue &s : root.value("streams").toArray()) {
        const QJsonObject stream = s.toObject();
        if (stream.value("disposition").toObject().value("attached_pic").toInt() == 1)
            file.cover = true;
        if (stream.value("codec_type").toString() != "audio" || audioSeen)
            continue;
        audioSeen = true;
        file.codec = stream.value("codec_name").toString();
        file.rate = stream.value("sample_rate").toString().toInt();
        file.channels = stream.value("channels").toInt();
        addTags(stream.value("tags").toObject(), file.tags);
    }
    for (const QJsonValue &c : root.value("chapters").toArray()) {
        const QJsonObject chapter = c.toObject();
        file.chapters.push_back(
            {chapter.value("start_time").toString().toDouble(), chapter.value("tags").toObject().value("title").toString()});
    }
    file.read = audioSeen;
    return file;
}

} // namespace sonaweld::test
