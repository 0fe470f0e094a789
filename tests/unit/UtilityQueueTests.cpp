#include "Platform/DelayedWorkQueue.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Work runs by deadline, never early, on the queue's thread, and may queue more from there.
TEST(UtilityQueue, RunsWorkByDeadlineOnItsOwnThreadNeverEarly) {
    auto order = std::make_shared<std::vector<int>>(); // outlives a failed test's waiting
    auto done = std::make_shared<std::promise<void>>();
    auto record = [order, caller = std::this_thread::get_id()](int label, Clock::duration delay) {
        return [=, due = Clock::now() + delay] {
            bool fair = Clock::now() >= due && std::this_thread::get_id() != caller;
            order->push_back(fair ? label : -label);
        };
    };
    DelayedWorkQueue& queue = utilityQueue();
    queue.runAfter(1h, [] {});
    queue.runAfter(30ms, [&queue, done, last = record(30, 30ms), record] {
        last();
        queue.runAfter(0ms, [done, next = record(31, 0ms)] { next(), done->set_value(); });
    });
    for (int label : {10, 1, 20, 11})
        queue.runAfter(label / 10 * 10ms, record(label, label / 10 * 10ms));
    ASSERT_EQ(done->get_future().wait_for(10s), std::future_status::ready);
    EXPECT_EQ(*order, (std::vector<int>{1, 10, 11, 20, 30, 31}));
}

TEST(UtilityQueue, NearerWorkWakesTheThreadAsleepUntilLaterWork) {
    DelayedWorkQueue& queue = utilityQueue();
    queue.runAfter(1h, [] {});
    std::this_thread::sleep_for(50ms); // its thread now sleeps until the hour is up
    auto ran = std::make_shared<std::promise<void>>();
    queue.runAfter(0ms, [ran] { ran->set_value(); });
    EXPECT_EQ(ran->get_future().wait_for(5s), std::future_status::ready);
}
