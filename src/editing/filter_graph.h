#pragma once

#include "editing/event_queue.h"
#include "media/export_job.h"
#include "editing/filters.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sonaweld::editing {

// Holds filters, connects their pins, runs and stops them, and reports
// through its event queue. The pins record how the export was put
// together; what a run writes is the plan it was handed, which the
// composer keeps in step with the timeline and the chain.
class FilterGraph
{
public:
    FilterGraph(SharedFaultHook faults, media::ExportOptions options);
    ~FilterGraph();
    FilterGraph(const FilterGraph &) = delete;
    FilterGraph &operator=(const FilterGraph &) = delete;

    // `name` tells the fault hook which filter is being added.
    Result addFilter(const std::shared_ptr<Filter> &filter, const std::string &name);
    Result connect(Pin *out, Pin *in);

    // What the next run writes.
    void setPlan(media::JoinPlan plan) { plan_ = std::move(plan); }

    // Media control. Running without a plan is a caller's mistake.
    Result run();
    Result stop();

    EventQueue &events() { return events_; }
    // Announces waiting events through `notify`; an empty one ends that.
    // The hook runs on the export's own thread: it must only hand the news
    // over, since stopping the graph from there would end that thread from
    // within itself.
    Result setNotify(EventQueue::Notify notify);
    // Asks the graph for one of its control interfaces ("MediaControl",
    // "MediaEvent"); the graph itself serves both.
    Result queryInterface(std::string_view name) const;

    // Playback of one file, for measuring it; gives up once `cancel` is set.
    Result renderFile(const std::string &path, const std::atomic<bool> *cancel = nullptr);
    Result getStopPosition(ReferenceTime &stop) const;

    // Share of the output written so far, 0 to 1.
    double progress() const;

private:
    SharedFaultHook faults_;
    media::ExportOptions options_;
    std::optional<media::JoinPlan> plan_;
    std::vector<std::shared_ptr<Filter>> filters_;
    EventQueue events_;
    mutable std::mutex jobMutex_;
    std::unique_ptr<media::ExportJob> job_;
    ReferenceTime renderedLength_ = -1;
};

// Builds chains of filters: source pin → intermediate → sink.
class CaptureGraphBuilder
{
public:
    explicit CaptureGraphBuilder(SharedFaultHook faults);

    Result setFiltergraph(const std::shared_ptr<FilterGraph> &graph);
    // Connects `source` to `intermediate`'s input and its output to `sink`.
    Result renderStream(Pin *source, Filter *intermediate, Filter *sink);
    // The stream configuration of the converter feeding `sink`, looking
    // upstream only.
    Result findStreamConfig(Filter *sink, WaveFormatConverter *&config) const;

private:
    SharedFaultHook faults_;
    std::shared_ptr<FilterGraph> graph_;
};

} // namespace sonaweld::editing
