// Calls into a source timed per worker: the one that stalls is named, and
// at a stop the workers still out are left behind, a hung one named.
#include "media/source_watchdog.h"
#include "compose/failure_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace sonaweld::media;
using namespace std::chrono_literals;
using sonaweld::failureText;

namespace {

const std::vector<ClipSpec> kClips = {{"first.mp3"}, {"second.flac"}, {"third.wav"}};

SourceWatchdog::Clock::time_point now()
{
    return SourceWatchdog::Clock::now();
}

} // namespace

TEST(SourceWatchdog, NamesTheSourceACallHasBeenInForTooLong)
{
    SourceWatchdog watchdog(kClips);
    watchdog.open(2);
    EXPECT_FALSE(watchdog.stalled(now() + 1h, 500ms).failed()) << "no worker is in a call";
    Result inside;
    Result renewed;
    EXPECT_EQ(watchdog.call(1, 1, [&] {
                  inside = watchdog.stalled(now() + 1s, 500ms);
                  // Still within the limit, and a long call that shows
                  // progress starts its time again.
                  EXPECT_FALSE(watchdog.stalled(now() + 400ms, 500ms).failed());
                  std::this_thread::sleep_for(20ms);
                  const auto before = now();
                  watchdog.renew(1);
                  renewed = watchdog.stalled(before + 500ms, 500ms);
                  return fail(Code::kDiskFull);
              }).code,
              Code::kDiskFull);
    EXPECT_EQ(inside.code, Code::kTimeout);
    EXPECT_EQ(failureText(inside), "second.flac is not responding: nothing was read from it for 0.5 seconds (a drive or "
                             "network share that hangs?)");
    EXPECT_FALSE(renewed.failed()) << failureText(renewed);
    EXPECT_EQ(watchdog.lastClip(1), 1);
    EXPECT_EQ(watchdog.lastClip(0), std::nullopt);
    EXPECT_FALSE(watchdog.stalled(now() + 1h, 500ms).failed()) << "the call has returned";
}

TEST(SourceWatchdog, AtAStopLeavesBehindTheWorkersStillOutAndNamesOneThatHangs)
{
    struct Case
    {
        const char *name;
        std::chrono::milliseconds inCall; // how long worker 1 has been in its call
        bool named;
    };
    for (const Case c : {Case{"slow", 0ms, false}, Case{"hung", SourceWatchdog::kHungAfter + 50ms, true}}) {
        SCOPED_TRACE(c.name);
        SourceWatchdog watchdog(kClips);
        watchdog.open(3);
        watchdog.ended(2);
        const int before = SourceWatchdog::abandonedWorkers();
        Result named;
        watchdog.call(1, 2, [&] {
            std::this_thread::sleep_for(c.inCall);
            named = watchdog.abandonRunning();
            return ok();
        });
        EXPECT_EQ(named.failed(), c.named);
        if (c.named) {
            EXPECT_EQ(named.code, Code::kTimeout);
            EXPECT_EQ(failureText(named), "third.wav is not responding: reading it did not return when the join was stopped "
                                    "(a drive or network share that hangs?)");
        }
        EXPECT_TRUE(watchdog.abandoned(0));
        EXPECT_TRUE(watchdog.abandoned(1));
        EXPECT_FALSE(watchdog.abandoned(2)) << "it had ended";
        EXPECT_EQ(SourceWatchdog::abandonedWorkers(), before + 2);
        // Workers left behind that end at last are no longer counted.
        watchdog.ended(0);
        watchdog.ended(1);
        EXPECT_EQ(SourceWatchdog::abandonedWorkers(), before);
    }
}
