#include "editing/event_queue.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace sonaweld::editing;

TEST(EventQueue, AHookMayDrainTheQueueItIsCalledFor)
{
    // Run apart and never freed: if the hook ran under the queue's lock,
    // draining from it would block that thread for good.
    struct State
    {
        EventQueue queue;
        std::vector<long> drained;
        std::promise<void> done;
    };
    auto *state = new State;
    auto done = state->done.get_future();
    std::thread([state] {
        // An event already waiting is announced as soon as a hook is set.
        state->queue.post({EventCode::kComplete, 0, 0, {}});
        state->queue.setNotify([state] {
            GraphEvent e;
            while (state->queue.getEvent(e))
                state->drained.push_back(e.code);
        });
        state->queue.post({EventCode::kErrorAbort, Code::kFail, 0, sonaweld::media::fail(Code::kFail, "x")});
        state->done.set_value();
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "a hook draining the queue deadlocked";
    EXPECT_EQ(state->drained, (std::vector<long>{EventCode::kComplete, EventCode::kErrorAbort}));
    delete state;
}

TEST(EventQueue, DrainingNeverWaitsForAHookButClearingIt)
{
    EventQueue queue;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};
    queue.setNotify([&, released] {
        if (calls++ == 0) {
            entered.set_value();
            released.wait_for(std::chrono::seconds(20));
        }
    });
    std::thread poster([&] { queue.post({EventCode::kComplete, 0, 0, {}}); });
    if (entered.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        release.set_value();
        poster.join();
        FAIL() << "the hook was never called";
    }

    // The window's thread takes the event while the hook still runs.
    auto drained = std::async(std::launch::async, [&] {
        GraphEvent e;
        return queue.getEvent(e).code == Code::kOk && e.code == EventCode::kComplete;
    });
    EXPECT_EQ(drained.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "draining waited for the hook";

    // Clearing the hook returns only once the call in flight has ended.
    std::atomic<bool> cleared{false};
    std::thread clearer([&] {
        queue.setNotify(nullptr);
        cleared = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(cleared.load()) << "setNotify(nullptr) returned while the hook ran";
    release.set_value();
    poster.join();
    clearer.join();
    EXPECT_TRUE(drained.get());
    EXPECT_TRUE(cleared.load());

    queue.post({EventCode::kComplete, 0, 0, {}});
    EXPECT_EQ(calls.load(), 1);
}
