#pragma once

#include "media/join_plan.h"
#include "media/media_error.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace sonaweld {

// OUT.cue beside OUT.wav: the output's path with .cue in place of its
// extension (added when it has none).
QString cuePathFor(const QString &output);

// Why no sheet can go with this join, as a line for the user; empty when one
// can. Asked before anything is written.
std::string cueRefusal(const QString &output, const QStringList &inputs);

// The sheet for the plan's clips as they lie in its output: titles and
// performers from each source's tags, sources named by absolute path. A
// clip that plays nothing gets no track.
media::Result composeCueSheet(const media::JoinPlan &plan, std::string &sheet);

// Puts `sheet` at `cuePath` whole or not at all, replacing what is there.
// Empty on success, else the reason.
std::string saveCueSheet(const QString &cuePath, const std::string &sheet);

// Whether `sheet` is one this program wrote for the output named
// `outputName` (its file name only): it has our REM SONAWELD_ lines and its
// FILE line names that output.
bool isOwnSheetFor(const QByteArray &sheet, const QString &outputName);

// Removes the sheet beside `output` that an earlier join wrote for it, now
// that the output holds other clips; any other file of that name stays.
// Empty when nothing had to go or it went, else the reason.
std::string removeStaleSheet(const QString &output);

} // namespace sonaweld
