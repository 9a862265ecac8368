#pragma once

#include "editing/filter_graph.h"
#include "editing/timeline.h"

#include <memory>

namespace sonaweld::editing {

// Builds the front end of a graph from a timeline: one output per group.
class RenderEngine
{
public:
    RenderEngine(SharedFaultHook faults, media::ExportOptions options);
    ~RenderEngine();

    Result setTimelineObject(const std::shared_ptr<Timeline> &timeline);
    // Accepted and without effect: sources are always opened when their
    // clip's turn comes, which is what dynamic reconnection asks for.
    Result setDynamicReconnectLevel(int level);
    Result connectFrontEnd();
    Result getTimelineObject(std::shared_ptr<Timeline> &timeline) const;
    Result getFilterGraph(std::shared_ptr<FilterGraph> &graph) const;
    Result getGroupOutputPin(int group, Pin *&pin) const;
    // Stops and tears down the graph.
    Result scrapIt();

private:
    SharedFaultHook faults_;
    media::ExportOptions options_;
    std::shared_ptr<Timeline> timeline_;
    std::shared_ptr<FilterGraph> graph_;
    std::vector<std::shared_ptr<GroupOutput>> outputs_;
};

} // namespace sonaweld::editing
