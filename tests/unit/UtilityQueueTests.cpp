#include "Platform/DelayedWorkQueue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(UtilityQueue, RunsWorkByDeadlineOnItsOwnThreadNeverEarly) {
    // Shared, so work that outlives a failed test finds its record still there.
    struct Runs {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<int> order; // negative: ran early or on the caller's thread
    };
    auto runs = std::make_shared<Runs>();
    DelayedWorkQueue& queue = utilityQueue();
    auto record = [runs, caller = std::this_thread::get_id()](int label, Clock::duration delay) {
        return [runs, caller, label, due = Clock::now() + delay] {
            std::lock_guard held(runs->mutex);
            bool onTimeElsewhere = Clock::now() >= due && std::this_thread::get_id() != caller;
            runs->order.push_back(onTimeElsewhere ? label : -label);
            runs->changed.notify_all();
        };
    };
    queue.runAfter(1h, [] {}); // must not hold back the shorter ones
    // The last queues more work from the queue's own thread.
    queue.runAfter(30ms, [&queue, record, last = record(30, 30ms)] {
        last();
        queue.runAfter(0ms, record(31, 0ms));
    });
    queue.runAfter(10ms, record(10, 10ms));
    queue.runAfter(0ms, record(1, 0ms));
    queue.runAfter(20ms, record(20, 20ms));
    queue.runAfter(10ms, record(11, 10ms));
    std::unique_lock held(runs->mutex);
    ASSERT_TRUE(runs->changed.wait_for(held, 10s, [&] { return runs->order.size() == 6; }));
    EXPECT_EQ(runs->order, (std::vector<int>{1, 10, 11, 20, 30, 31}));
}

TEST(UtilityQueue, NearerWorkWakesTheThreadAsleepUntilLaterWork) {
    DelayedWorkQueue& queue = utilityQueue();
    queue.runAfter(1h, [] {});
    std::this_thread::sleep_for(50ms); // its thread now sleeps until the hour is up
    auto ran = std::make_shared<std::promise<void>>();
    queue.runAfter(0ms, [ran] { ran->set_value(); });
    EXPECT_EQ(ran->get_future().wait_for(5s), std::future_status::ready);
}
