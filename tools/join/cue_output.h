#pragma once

#include "media/export_job.h"

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

// The sheet for `clips` as they lie in `output` at `rate`: titles and
// performers from each source's tags, sources named by absolute path.
media::Result composeCueSheet(const QString &output, const std::vector<media::ClipSpec> &clips, int rate,
                              std::string &sheet);

// Puts `sheet` at `cuePath` whole or not at all, replacing what is there.
// Empty on success, else the reason.
std::string saveCueSheet(const QString &cuePath, const std::string &sheet);

} // namespace sonaweld
