#pragma once

#include "media/media_factory.h"

#include <QString>

namespace sonaweld {

// How measuring a file went, step by step, so callers can word each case.
enum class MeasureStep { Measured, NoGraph, CannotRender, NoLength };

struct Measurement
{
    MeasureStep step = MeasureStep::NoGraph;
    media::ReferenceTime duration = 0;
    media::Result result;
};

// A file's playing length: a graph builds its playback and is asked for its
// stop position. Nothing is played.
Measurement measureFile(const media::MediaFactory &factory, const QString &path);

} // namespace sonaweld
