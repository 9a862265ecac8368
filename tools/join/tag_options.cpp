#include "tag_options.h"

#include <QFile>

namespace sonaweld {
namespace {

// By its first bytes, as every reader of the picture will judge it.
std::string pictureType(const QByteArray &data)
{
    if (data.startsWith("\xFF\xD8\xFF"))
        return "image/jpeg";
    if (data.startsWith("\x89PNG\r\n\x1A\n"))
        return "image/png";
    return {};
}

std::string loadCover(const QString &path, media::CoverPicture &cover)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "--cover: cannot read " + path.toStdString() + ": " + file.errorString().toStdString();
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return "--cover: cannot read " + path.toStdString() + ": " + file.errorString().toStdString();
    cover.mimeType = pictureType(data);
    if (cover.mimeType.empty())
        return "--cover: " + path.toStdString() + " is neither a JPEG nor a PNG picture";
    cover.data.assign(data.begin(), data.end());
    return {};
}

} // namespace

std::string parseTag(const QString &text, std::pair<std::string, std::string> &tag)
{
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return "--tag takes KEY=VALUE, not " + text.toStdString();
    // FFmpeg's generic keys are lower case; each muxer spells them its way.
    tag = {text.left(equals).trimmed().toLower().toStdString(), text.mid(equals + 1).toStdString()};
    if (tag.first.empty())
        return "--tag takes KEY=VALUE, not " + text.toStdString();
    return {};
}

std::string applyTagOptions(const TagOptions &options, media::JoinPlan &plan)
{
    if (!options.chapters)
        plan.chapters.clear();
    plan.bitrateKbps = options.bitrateKbps;
    for (const auto &[key, value] : options.tags)
        plan.tags.set(key, value);
    if (!options.cover.isEmpty())
        return loadCover(options.cover, plan.tags.cover);
    return {};
}

} // namespace sonaweld
