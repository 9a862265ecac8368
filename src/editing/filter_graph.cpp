#include "editing/filter_graph.h"

#include "media/probe.h"

namespace sonaweld::editing {

FilterGraph::FilterGraph(SharedFaultHook faults, media::ExportOptions options)
    : faults_(std::move(faults))
    , options_(std::move(options))
{
    // The sources' reads answer to the same hook as the graph's own steps.
    if (!options_.faults)
        options_.faults = faults_;
}

FilterGraph::~FilterGraph()
{
    stop();
    // Pins point at each other across filters; cut the links first.
    for (const auto &filter : filters_) {
        std::vector<Pin *> pins;
        if (filter->enumPins(pins))
            for (Pin *pin : pins)
                pin->peer = nullptr;
        filter->graph_ = nullptr;
    }
}

Result FilterGraph::addFilter(const std::shared_ptr<Filter> &filter, const std::string &name)
{
    if (const int hr = injectedFault(faults_, "Graph.AddFilter:" + name); hr < 0)
        return fail(hr);
    if (!filter || filter->graph_)
        return fail(Code::kInvalidArg);
    filter->graph_ = this;
    filters_.push_back(filter);
    return ok();
}

Result FilterGraph::connect(Pin *out, Pin *in)
{
    if (const int hr = injectedFault(faults_, "Graph.Connect"); hr < 0)
        return fail(hr);
    if (!out || !in || out->direction != PinDirection::Output || in->direction != PinDirection::Input
        || out->filter->graph() != this || in->filter->graph() != this)
        return fail(Code::kInvalidArg);
    if (out->peer || in->peer)
        return fail(Code::kAlreadyConnected);
    out->peer = in;
    in->peer = out;
    return ok();
}

Result FilterGraph::run()
{
    if (const int hr = injectedFault(faults_, "Control.Run"); hr < 0)
        return fail(hr);
    std::lock_guard lock(jobMutex_);
    if (job_)
        return ok();
    if (!plan_)
        return fail(Code::kUnexpected, "The graph was run without a plan");
    auto job = std::make_unique<media::ExportJob>(*plan_, options_);
    if (Result r = job->start([this](const Result &outcome) {
            if (outcome)
                events_.post({EventCode::kComplete, 0, 0, {}});
            else
                events_.post({EventCode::kErrorAbort, outcome.code, 0, outcome});
        });
        r.failed())
        return r;
    job_ = std::move(job);
    return ok();
}

Result FilterGraph::stop()
{
    std::unique_ptr<media::ExportJob> job;
    {
        std::lock_guard lock(jobMutex_);
        job = std::move(job_);
    }
    return job ? job->stop() : ok();
}

Result FilterGraph::setNotify(EventQueue::Notify notify)
{
    if (notify) {
        if (const int hr = injectedFault(faults_, "Event.SetNotify"); hr < 0)
            return fail(hr);
    }
    events_.setNotify(std::move(notify));
    return ok();
}

Result FilterGraph::queryInterface(std::string_view name) const
{
    if (const int hr = injectedFault(faults_, "Graph.Query:" + std::string(name)); hr < 0)
        return fail(hr);
    return ok();
}

double FilterGraph::progress() const
{
    std::lock_guard lock(jobMutex_);
    if (!job_)
        return 0.0;
    const std::int64_t total = job_->totalFrames();
    return total > 0 ? static_cast<double>(job_->framesDone()) / static_cast<double>(total) : 1.0;
}

Result FilterGraph::renderFile(const std::string &path, const std::atomic<bool> *cancel)
{
    if (const int hr = injectedFault(faults_, "Graph.RenderFile"); hr < 0)
        return fail(hr);
    ReferenceTime length = 0;
    if (Result r = media::probeDuration(path, length, cancel); r.failed())
        return r;
    renderedLength_ = length;
    return ok();
}

Result FilterGraph::getStopPosition(ReferenceTime &stop) const
{
    if (const int hr = injectedFault(faults_, "Seeking.GetStopPosition"); hr < 0)
        return fail(hr);
    if (renderedLength_ < 0)
        return fail(Code::kUnexpected);
    stop = renderedLength_;
    return ok();
}

CaptureGraphBuilder::CaptureGraphBuilder(SharedFaultHook faults)
    : faults_(std::move(faults))
{
}

Result CaptureGraphBuilder::setFiltergraph(const std::shared_ptr<FilterGraph> &graph)
{
    if (const int hr = injectedFault(faults_, "Builder.SetFiltergraph"); hr < 0)
        return fail(hr);
    if (!graph)
        return fail(Code::kInvalidArg);
    graph_ = graph;
    return ok();
}

Result CaptureGraphBuilder::renderStream(Pin *source, Filter *intermediate, Filter *sink)
{
    if (const int hr = injectedFault(faults_, "Builder.RenderStream"); hr < 0)
        return fail(hr);
    if (!graph_ || !source || !intermediate || !sink)
        return fail(Code::kInvalidArg);
    Pin *sinkIn = sink->firstPin(PinDirection::Input);
    if (Result r = graph_->connect(source, intermediate->firstPin(PinDirection::Input)); r.failed())
        return r;
    return graph_->connect(intermediate->firstPin(PinDirection::Output), sinkIn);
}

Result CaptureGraphBuilder::findStreamConfig(Filter *sink, WaveFormatConverter *&config) const
{
    if (const int hr = injectedFault(faults_, "Builder.FindInterface"); hr < 0)
        return fail(hr);
    for (const Filter *f = sink; f;) {
        const Pin *in = f->firstPin(PinDirection::Input);
        if (!in || !in->peer)
            break;
        Filter *upstream = in->peer->filter;
        if (auto *converter = dynamic_cast<WaveFormatConverter *>(upstream)) {
            config = converter;
            return ok();
        }
        f = upstream;
    }
    return fail(Code::kNoInterface);
}

} // namespace sonaweld::editing
