#include "compose/measure.h"

namespace sonaweld {

Measurement measureFile(const editing::MediaFactory &factory, const QString &path,
                        const std::atomic<bool> *cancel)
{
    Measurement m;
    std::shared_ptr<editing::FilterGraph> graph;
    if ((m.result = factory.createFilterGraph(graph)).failed()) {
        m.step = MeasureStep::NoGraph;
        return m;
    }
    if ((m.result = graph->renderFile(path.toStdString(), cancel)).failed()) {
        m.step = MeasureStep::CannotRender;
        return m;
    }
    if ((m.result = graph->getStopPosition(m.duration)).failed()) {
        m.step = MeasureStep::NoLength;
        return m;
    }
    m.step = MeasureStep::Measured;
    return m;
}

} // namespace sonaweld

#include <QStringList>

#include <algorithm>
#include <exception>
#include <thread>

namespace sonaweld {
namespace {

// A measurement that throws (no memory for a frame) fails that file, not
// the program: the file is reported as one that cannot be opened.
Measurement measureGuarded(const editing::MediaFactory &factory, const QString &path,
                           const std::atomic<bool> *cancel)
{
    try {
        return measureFile(factory, path, cancel);
    } catch (const std::exception &e) {
        Measurement m;
        m.step = MeasureStep::CannotRender;
        m.result = media::fail(media::isOutOfMemory(e) ? media::Code::kOutOfMemory : media::Code::kFail,
                               media::Operation::Read, path.toStdString(), media::exceptionText(e));
        return m;
    }
}

} // namespace

std::vector<Measurement> measureFiles(const editing::MediaFactory &factory, const QStringList &paths,
                                      const std::atomic<bool> *cancel, const std::function<void(int)> &done)
{
    std::vector<Measurement> results(static_cast<size_t>(paths.size()));
    for (Measurement &m : results)
        m.result = media::fail(media::Code::kAbort);
    std::atomic<int> next{0};
    std::atomic<int> finished{0};
    const auto work = [&] {
        for (int i = next++; i < paths.size(); i = next++) {
            if (cancel && cancel->load())
                return;
            results[static_cast<size_t>(i)] = measureGuarded(factory, paths[i], cancel);
            const int count = ++finished;
            if (done)
                done(count);
        }
    };
    const int workers = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                                   std::max<int>(1, static_cast<int>(paths.size())));
    std::vector<std::thread> pool;
    try {
        for (int i = 1; i < workers; ++i)
            pool.emplace_back(work);
    } catch (const std::exception &) {
        // Fewer threads than cores: the ones there (and this one) measure all.
    }
    work();
    for (std::thread &t : pool)
        t.join();
    return results;
}

} // namespace sonaweld
