#pragma once

#include "editing/event_queue.h"
#include "editing/filter_graph.h"
#include "editing/render_engine.h"
#include "editing/timeline.h"

#include <memory>

namespace sonaweld {

// What the window running a join does when the export graph starts, and how
// the graph's events reach it.
class ConversionHost
{
public:
    virtual ~ConversionHost() = default;
    // The graph runs: mark the window as converting, caption Join "Stop",
    // start the one-second clock.
    virtual void conversionStarted() = 0;
    // Called on a streaming thread whenever graph events wait; must only
    // hand the news over to the window's own thread.
    virtual editing::EventQueue::Notify graphNotifier() = 0;
};

// The references that hold a running join; at most one exists at a time.
struct Conversion
{
    std::shared_ptr<editing::Timeline> timeline;
    std::shared_ptr<editing::RenderEngine> exportEngine;
    std::shared_ptr<editing::FilterGraph> mediaControl;
    std::shared_ptr<editing::FilterGraph> mediaEvent;

    // Stops the graph (the file is left valid), ends notifications and
    // releases everything. Returns what the stop found wrong: a failure to
    // close the file, or a source that did not answer.
    media::Result release();
    bool active() const { return mediaControl != nullptr; }
};

} // namespace sonaweld
