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
#include <thread>

namespace sonaweld {

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
            results[static_cast<size_t>(i)] = measureFile(factory, paths[i], cancel);
            const int count = ++finished;
            if (done)
                done(count);
        }
    };
    const int workers = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                                   std::max<int>(1, static_cast<int>(paths.size())));
    std::vector<std::thread> pool;
    for (int i = 1; i < workers; ++i)
        pool.emplace_back(work);
    work();
    for (std::thread &t : pool)
        t.join();
    return results;
}

} // namespace sonaweld
