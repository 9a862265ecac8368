#include "media/ordered_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

using namespace sonaweld::media;

namespace {

constexpr std::int64_t kTotal = 200'000;
constexpr std::int64_t kChunk = 1000;

// Frame f holds f's low byte, so anything out of place shows.
std::vector<std::uint8_t> framesFrom(std::int64_t offset, std::int64_t frames)
{
    std::vector<std::uint8_t> data(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i)
        data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(offset + i);
    return data;
}

// Workers write the chunks of their own stretches, as the run's workers
// write their segments: each stretch in order, the stretches at once.
void writeStretches(OrderedBuffer &buffer, int workers, std::atomic<int> &failures)
{
    std::vector<std::thread> threads;
    const std::int64_t stretch = kTotal / workers;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (std::int64_t at = w * stretch; at < (w + 1) * stretch; at += kChunk) {
                const auto data = framesFrom(at, kChunk);
                if (buffer.put(at, data.data(), kChunk).failed())
                    ++failures;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
}

} // namespace

// A window far smaller than a worker's stretch: every worker but the first
// waits for room, and the reader still gets every frame once, in order.
TEST(OrderedBuffer, ReadsEveryFrameInOrderThroughAWindowSmallerThanEachWritersStretch)
{
    for (const int workers : {1, 2, 4, 8}) {
        SCOPED_TRACE(workers);
        OrderedBuffer buffer(1, 5 * kChunk);
        std::vector<std::uint8_t> read;
        std::thread reader([&] {
            while (auto chunk = buffer.take())
                read.insert(read.end(), chunk->data.begin(), chunk->data.end());
        });
        std::atomic<int> failures{0};
        writeStretches(buffer, workers, failures);
        buffer.finishAt(kTotal);
        reader.join();
        EXPECT_EQ(failures.load(), 0);
        ASSERT_EQ(static_cast<std::int64_t>(read.size()), kTotal);
        EXPECT_EQ(read, framesFrom(0, kTotal));
    }
}

// A stop: writers waiting for room are let go with an abort, later writes
// are refused, and the reader still ends at the prefix it is given.
TEST(OrderedBuffer, AnInterruptReleasesWaitingWritersAndTheReaderStopsAtTheGivenEnd)
{
    OrderedBuffer buffer(1, 2 * kChunk);
    const auto first = framesFrom(0, kChunk);
    ASSERT_TRUE(buffer.put(0, first.data(), kChunk));
    Result waited;
    std::thread ahead([&] {
        const auto data = framesFrom(10 * kChunk, kChunk);
        waited = buffer.put(10 * kChunk, data.data(), kChunk);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    buffer.interrupt();
    ahead.join();
    EXPECT_EQ(waited.code, Code::kAbort);
    EXPECT_EQ(buffer.put(kChunk, first.data(), kChunk).code, Code::kAbort);

    buffer.finishAt(kChunk);
    auto chunk = buffer.take();
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->frames, kChunk);
    EXPECT_FALSE(buffer.take());
}

// An encoder that fails (a full disk) hands its reason to every writer,
// also to one that was waiting for room.
TEST(OrderedBuffer, TheReadersFailureReachesWaitingAndLaterWriters)
{
    OrderedBuffer buffer(1, kChunk);
    Result waited;
    std::thread ahead([&] {
        const auto data = framesFrom(5 * kChunk, kChunk);
        waited = buffer.put(5 * kChunk, data.data(), kChunk);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    buffer.failReader(fail(Code::kDiskFull, Operation::Write, "out.flac", "No space left on device"));
    ahead.join();
    EXPECT_EQ(waited.code, Code::kDiskFull);
    const auto data = framesFrom(0, kChunk);
    EXPECT_EQ(buffer.put(0, data.data(), kChunk).file, "out.flac");
    EXPECT_FALSE(buffer.take());
}
