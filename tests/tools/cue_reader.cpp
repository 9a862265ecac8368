#include "tools/cue_reader.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

namespace sonaweld::test {
namespace {

CueSheetRead invalid(const QString &why)
{
    CueSheetRead sheet;
    sheet.error = why;
    return sheet;
}

} // namespace

CueSheetRead parseCueSheet(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return invalid("starts with a byte order mark");
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return invalid("is no UTF-8");
    if (!text.endsWith('\n'))
        return invalid("does not end with a line break");

    static const QRegularExpression rateLine(QStringLiteral(R"re(^REM SONAWELD_RATE (\d+)$)re"));
    static const QRegularExpression fileLine(QStringLiteral(R"re(^FILE "([^"]+)" (WAVE|MP3)$)re"));
    static const QRegularExpression trackLine(QStringLiteral(R"re(^ +TRACK (\d\d) AUDIO$)re"));
    static const QRegularExpression titleLine(QStringLiteral(R"re(^ +TITLE "([^"]*)"$)re"));
    static const QRegularExpression performerLine(QStringLiteral(R"re(^ +PERFORMER "([^"]*)"$)re"));
    static const QRegularExpression sampleLine(QStringLiteral(R"re(^ +REM SONAWELD_SAMPLE (\d+) "([^"]*)"$)re"));
    static const QRegularExpression indexLine(QStringLiteral(R"re(^ +INDEX 01 (\d{2,}:[0-5]\d:[0-7]\d)$)re"));

    CueSheetRead sheet;
    const QStringList lines = text.chopped(1).split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        const QString where = QStringLiteral("line %1: ").arg(i + 1);
        QRegularExpressionMatch m;
        if ((m = rateLine.match(line)).hasMatch() && sheet.file.isEmpty()) {
            sheet.rate = m.captured(1).toInt();
        } else if ((m = fileLine.match(line)).hasMatch() && sheet.file.isEmpty()) {
            sheet.file = m.captured(1);
            sheet.fileType = m.captured(2);
        } else if ((m = trackLine.match(line)).hasMatch() && !sheet.file.isEmpty()) {
            if (!sheet.tracks.empty() && sheet.tracks.back().index.isEmpty())
                return invalid(where + "a track without an index");
            sheet.tracks.push_back({});
            sheet.tracks.back().number = m.captured(1).toInt();
            if (sheet.tracks.back().number != static_cast<int>(sheet.tracks.size()))
                return invalid(where + "track out of order");
        } else if (sheet.tracks.empty()) {
            return invalid(where + "unexpected before the first track: " + line);
        } else if ((m = titleLine.match(line)).hasMatch()) {
            sheet.tracks.back().title = m.captured(1);
        } else if ((m = performerLine.match(line)).hasMatch()) {
            if (sheet.tracks.back().hasPerformer)
                return invalid(where + "a second PERFORMER line");
            sheet.tracks.back().performer = m.captured(1);
            sheet.tracks.back().hasPerformer = true;
        } else if ((m = sampleLine.match(line)).hasMatch()) {
            sheet.tracks.back().sample = m.captured(1).toLongLong();
            sheet.tracks.back().source = m.captured(2);
        } else if ((m = indexLine.match(line)).hasMatch()) {
            sheet.tracks.back().index = m.captured(1);
        } else {
            return invalid(where + "unexpected: " + line);
        }
    }
    if (sheet.tracks.empty() || sheet.tracks.back().index.isEmpty())
        return invalid("no tracks, or the last has no index");
    sheet.valid = true;
    return sheet;
}

CueSheetRead readCueSheet(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return invalid("cannot open " + path);
    return parseCueSheet(file.readAll());
}

} // namespace sonaweld::test
