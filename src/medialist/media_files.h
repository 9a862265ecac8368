#pragma once

#include "app/prompter.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace sonaweld {

// The types of the Add command's file dialog, "Media Files (all types)" first.
const QList<FileFilter> &mediaFileFilters();

// The patterns of "Media Files (all types)", one per entry ("*.mp3"): what a
// folder given from outside the file dialog contributes to the list.
QStringList mediaFilePatterns();

// Whether a file name matches one of those patterns, in any letter case.
bool isMediaFileName(const QString &fileName);

// Names in the order a person expects: runs of digits compare by their value,
// so "2" comes before "10", the text between them as the user's locale
// orders it, without regard to letter case. Names equal under those rules
// fall back to plain comparison, so the order is total and never depends on
// the input order.
int naturalCompare(const QString &a, const QString &b);
inline bool naturalLess(const QString &a, const QString &b)
{
    return naturalCompare(a, b) < 0;
}

// The media files directly inside `folder` (sub-folders are not entered),
// in natural order of their names. Empty when there are none or the folder
// cannot be read.
QStringList mediaFilesInFolder(const QString &folder);

// Whether this user may list `folder` and look at what is in it. An empty
// answer from mediaFilesInFolder means nothing to add only when this holds.
bool folderCanBeListed(const QString &folder);

} // namespace sonaweld
