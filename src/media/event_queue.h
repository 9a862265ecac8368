#pragma once

#include "media/media_error.h"

#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace sonaweld::media {

namespace EventCode {
inline constexpr long kComplete = 1;
inline constexpr long kErrorAbort = 3;
} // namespace EventCode

struct GraphEvent
{
    long code = 0;
    long param1 = 0; // the failure code of an error abort
    long param2 = 0;
    std::string text; // what failed, naming the file, for an error abort
};

// The graph's event queue. Streaming threads post; the owner drains it on its
// own thread. The notify hook runs on the posting thread whenever events are
// waiting, and never again once it has been cleared.
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
    std::mutex mutex_;
    std::deque<GraphEvent> events_;
    Notify notify_;
};

} // namespace sonaweld::media
