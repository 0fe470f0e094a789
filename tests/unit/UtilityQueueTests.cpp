#include "Platform/DelayedWorkQueue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// What the queue ran, in order, and where.
struct Runs : std::enable_shared_from_this<Runs> {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::vector<Clock::duration> lateness;

    std::function<void()> record(int label, Clock::duration delay) {
        auto due = Clock::now() + delay;
        // Shared, so work that outlives a failed test finds its record still there.
        return [self = shared_from_this(), label, due] {
            std::lock_guard held(self->mutex);
            self->order.push_back(label);
            self->threads.push_back(std::this_thread::get_id());
            self->lateness.push_back(Clock::now() - due);
            self->changed.notify_all();
        };
    }

    bool waitFor(std::size_t count) {
        std::unique_lock held(mutex);
        return changed.wait_for(held, 10s, [&] { return order.size() >= count; });
    }
};

} // namespace

TEST(UtilityQueue, RunsWorkByDeadlineOnItsOwnThreadNeverEarly) {
    auto runs = std::make_shared<Runs>();
    DelayedWorkQueue& queue = utilityQueue();
    queue.runAfter(30ms, runs->record(30, 30ms));
    queue.runAfter(10ms, runs->record(10, 10ms));
    queue.runAfter(0ms, runs->record(0, 0ms));
    queue.runAfter(20ms, runs->record(20, 20ms));
    queue.runAfter(10ms, runs->record(11, 10ms));
    ASSERT_TRUE(runs->waitFor(5));
    std::lock_guard held(runs->mutex);
    EXPECT_EQ(runs->order, (std::vector<int>{0, 10, 11, 20, 30}));
    for (std::size_t i = 0; i < runs->order.size(); ++i) {
        EXPECT_NE(runs->threads[i], std::this_thread::get_id());
        EXPECT_GE(runs->lateness[i], Clock::duration::zero()) << runs->order[i];
    }
}

TEST(UtilityQueue, ShortDelayIsNotHeldBackByALongOne) {
    auto runs = std::make_shared<Runs>();
    utilityQueue().runAfter(1h, [] {});
    utilityQueue().runAfter(1ms, runs->record(1, 1ms));
    EXPECT_TRUE(runs->waitFor(1));
}

TEST(UtilityQueue, WorkMayQueueMoreWork) {
    auto runs = std::make_shared<Runs>();
    utilityQueue().runAfter(1ms, [runs] { utilityQueue().runAfter(1ms, runs->record(2, 1ms)); });
    EXPECT_TRUE(runs->waitFor(1));
}
