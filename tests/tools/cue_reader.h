#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace sonaweld::test {

// A cue sheet read back line by line, as strictly as a splitter would: a
// line of any other form, a track out of order or a track without its
// index makes it invalid.
struct CueTrackRead
{
    int number = 0;
    QString title;
    QString performer;
    bool hasPerformer = false; // whether the track has a PERFORMER line at all
    std::int64_t sample = -1;
    QString source;
    QString index; // "mm:ss:ff"
};

struct CueSheetRead
{
    bool valid = false;
    QString error;
    QString file;
    QString fileType; // "WAVE", or "MP3" for an MP3 file
    int rate = 0;
    std::vector<CueTrackRead> tracks;
};

CueSheetRead parseCueSheet(const QByteArray &bytes);
CueSheetRead readCueSheet(const QString &path);

} // namespace sonaweld::test
