#include "compose/measure.h"

namespace sonaweld {

Measurement measureFile(const media::MediaFactory &factory, const QString &path)
{
    Measurement m;
    std::shared_ptr<media::FilterGraph> graph;
    if ((m.result = factory.createFilterGraph(graph)).failed()) {
        m.step = MeasureStep::NoGraph;
        return m;
    }
    if ((m.result = graph->renderFile(path.toStdString())).failed()) {
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
