#pragma once

#include "editing/media_factory.h"

#include <QString>

#include <atomic>

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
// `cancel`, when set, interrupts a measurement under way.
Measurement measureFile(const editing::MediaFactory &factory, const QString &path,
                        const std::atomic<bool> *cancel = nullptr);

} // namespace sonaweld

#include <atomic>
#include <functional>
#include <vector>

namespace sonaweld {

// Measures several files at once, one worker per core; the results come back
// in the order of `paths`. `done` (if given) is called from the workers with
// the number of files measured so far; when `cancel` becomes true, the
// measurements under way give up and the rest are not started (code kAbort).
std::vector<Measurement> measureFiles(const editing::MediaFactory &factory, const QStringList &paths,
                                      const std::atomic<bool> *cancel = nullptr,
                                      const std::function<void(int)> &done = {});

} // namespace sonaweld
