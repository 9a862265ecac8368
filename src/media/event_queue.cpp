#include "media/event_queue.h"

namespace sonaweld::media {

void EventQueue::setNotify(Notify notify)
{
    std::lock_guard lock(mutex_);
    notify_ = std::move(notify);
    if (notify_ && !events_.empty())
        notify_();
}

void EventQueue::post(GraphEvent event)
{
    // The hook is called under the lock so that clearing it is final: after
    // setNotify(nullptr) returns, no call is in flight.
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    if (notify_)
        notify_();
}

Result EventQueue::getEvent(GraphEvent &event)
{
    std::lock_guard lock(mutex_);
    if (events_.empty())
        return fail(Code::kAbort);
    event = std::move(events_.front());
    events_.pop_front();
    return ok();
}

Result EventQueue::freeEventParams(GraphEvent &event)
{
    event.text.clear();
    event.text.shrink_to_fit();
    return ok();
}

} // namespace sonaweld::media
