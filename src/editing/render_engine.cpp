#include "editing/render_engine.h"

namespace sonaweld::editing {

RenderEngine::RenderEngine(SharedFaultHook faults, media::ExportOptions options)
    : faults_(std::move(faults))
    , options_(options)
{
}

RenderEngine::~RenderEngine()
{
    scrapIt();
}

Result RenderEngine::setTimelineObject(const std::shared_ptr<Timeline> &timeline)
{
    if (const int hr = injectedFault(faults_, "Engine.SetTimelineObject"); hr < 0)
        return fail(hr);
    if (!timeline)
        return fail(Code::kInvalidArg);
    timeline_ = timeline;
    return ok();
}

Result RenderEngine::setDynamicReconnectLevel(int)
{
    return ok();
}

Result RenderEngine::connectFrontEnd()
{
    if (const int hr = injectedFault(faults_, "Engine.ConnectFrontEnd"); hr < 0)
        return fail(hr);
    if (!timeline_)
        return fail(Code::kUnexpected);
    scrapIt();
    auto graph = std::make_shared<FilterGraph>(faults_, options_);
    int count = 0;
    if (Result r = timeline_->getGroupCount(count); r.failed())
        return r;
    for (int g = 0; g < count; ++g) {
        TimelineObjPtr group;
        if (Result r = timeline_->getGroup(group, g); r.failed())
            return r;
        auto output = std::make_shared<GroupOutput>(group, faults_);
        if (Result r = graph->addFilter(output, "Group " + std::to_string(g)); r.failed())
            return r;
        outputs_.push_back(output);
    }
    graph_ = std::move(graph);
    return ok();
}

Result RenderEngine::getTimelineObject(std::shared_ptr<Timeline> &timeline) const
{
    if (const int hr = injectedFault(faults_, "Engine.GetTimelineObject"); hr < 0)
        return fail(hr);
    if (!timeline_)
        return fail(Code::kUnexpected);
    timeline = timeline_;
    return ok();
}

Result RenderEngine::getFilterGraph(std::shared_ptr<FilterGraph> &graph) const
{
    if (const int hr = injectedFault(faults_, "Engine.GetFilterGraph"); hr < 0)
        return fail(hr);
    if (!graph_)
        return fail(Code::kUnexpected);
    graph = graph_;
    return ok();
}

Result RenderEngine::getGroupOutputPin(int group, Pin *&pin) const
{
    if (const int hr = injectedFault(faults_, "Engine.GetGroupOutputPin"); hr < 0)
        return fail(hr);
    if (group < 0 || group >= static_cast<int>(outputs_.size()))
        return fail(Code::kInvalidArg);
    pin = outputs_[group]->firstPin(PinDirection::Output);
    return ok();
}

Result RenderEngine::scrapIt()
{
    if (graph_)
        graph_->stop();
    graph_.reset();
    outputs_.clear();
    return ok();
}

} // namespace sonaweld::editing
