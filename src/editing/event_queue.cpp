#include "editing/event_queue.h"

namespace sonaweld::editing {

void EventQueue::setNotify(Notify notify)
{
    std::lock_guard hook(notifyMutex_);
    notify_ = std::move(notify);
    bool waiting;
    {
        std::lock_guard lock(mutex_);
        waiting = !events_.empty();
    }
    if (notify_ && waiting)
        notify_();
}

void EventQueue::post(GraphEvent event)
{
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::lock_guard hook(notifyMutex_);
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
    event.failure = {};
    return ok();
}

} // namespace sonaweld::editing
