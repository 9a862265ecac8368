#pragma once

#include "editing/media_types.h"

#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace sonaweld::editing {

namespace EventCode {
inline constexpr long kComplete = 1;
inline constexpr long kErrorAbort = 3;
} // namespace EventCode

struct GraphEvent
{
    long code = 0;
    long param1 = 0; // the failure code of an error abort
    long param2 = 0;
    Result failure; // what failed, for an error abort; the window words it
};

// The graph's event queue. Streaming threads post; the owner drains it on its
// own thread. The notify hook runs on the posting thread whenever events are
// waiting, outside the queue's lock, so draining never waits for a hook and
// a hook may drain. It never runs again once setNotify(nullptr) has
// returned, so it must not call setNotify or post itself.
class EventQueue
{
public:
    using Notify = std::function<void()>;

    void setNotify(Notify notify);
    void post(GraphEvent event);

    // kAbort when the queue is empty (nothing waits, the time-out is 0).
    Result getEvent(GraphEvent &event);
    // Releases what an event carries; kept so every taken event is given back.
    Result freeEventParams(GraphEvent &event);

private:
    std::mutex mutex_; // the events
    std::deque<GraphEvent> events_;
    // Held for the whole of a hook call, so replacing the hook waits for a
    // call in flight to end.
    std::mutex notifyMutex_;
    Notify notify_;
};

} // namespace sonaweld::editing
