#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

namespace sonaweld::test {

// A file as FFmpeg's own prober reads it: a reader other than our writers.
struct ProbedChapter
{
    double start = 0; // seconds
    QString title;
};

struct ProbedFile
{
    bool read = false;
    QString formatName;
    QString codec;    // of the first audio stream
    int rate = 0;
    int channels = 0;
    std::vector<ProbedChapter> chapters;
    QMap<QString, QString> tags; // the container's and the audio stream's, keys in lower case
    bool cover = false;          // a stream marked as an attached picture
};

ProbedFile probeFile(const QString &path);

} // namespace sonaweld::test
