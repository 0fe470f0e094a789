#include "support/VirtualTime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

class SerialQueueTest : public testing::Test {
  protected:
    VirtualClock clock;
    SerialQueue queue{"test", clock.reader()};
    std::vector<std::string> ran;

    std::function<void()> note(std::string name) {
        return [this, name] { ran.push_back(name); };
    }
    std::shared_ptr<WorkItem> item(std::string name) {
        return std::make_shared<WorkItem>(note(std::move(name)));
    }
};

} // namespace

TEST_F(SerialQueueTest, RunsWorkInSubmissionOrderOnlyWhenDriven) {
    queue.async(note("a"));
    queue.async([this] {
        ran.push_back("b");
        queue.async(note("d")); // after what was already waiting
    });
    queue.async(note("c"));
    EXPECT_TRUE(ran.empty());
    queue.runReady();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_FALSE(queue.hasWork());
}

TEST_F(SerialQueueTest, DelayedItemRunsAtItsDeadlineAndNotBefore) {
    queue.asyncAfter(30s, item("late"));
    queue.asyncAfter(10s, item("early"));
    runUntil(queue, clock, 9999ms);
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(queue.nextDeadline(), QueueTime(10s));
    runUntil(queue, clock, 10s);
    EXPECT_EQ(ran, std::vector<std::string>{"early"});
    runUntil(queue, clock, 60s);
    EXPECT_EQ(ran, (std::vector<std::string>{"early", "late"}));
}

TEST_F(SerialQueueTest, EqualDeadlinesKeepSubmissionOrder) {
    queue.asyncAfter(5s, item("first"));
    queue.asyncAfter(5s, item("second"));
    runUntil(queue, clock, 5s);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
}

TEST_F(SerialQueueTest, CancelledItemNeverRunsAndLeavesNothingToWaitFor) {
    auto cancelled = item("cancelled");
    queue.asyncAfter(5s, cancelled);
    cancelled->cancel();
    EXPECT_EQ(queue.nextDeadline(), std::nullopt);
    EXPECT_FALSE(queue.hasWork());
    runUntil(queue, clock, 10s);
    EXPECT_TRUE(ran.empty());
}

TEST_F(SerialQueueTest, CancellingAfterTheStartChangesNothing) {
    std::shared_ptr<WorkItem> self;
    self = std::make_shared<WorkItem>([&] {
        self->cancel();
        ran.push_back("body finished");
    });
    queue.asyncAfter(1s, self);
    runUntil(queue, clock, 1s);
    EXPECT_EQ(ran, std::vector<std::string>{"body finished"});
}

// A deadline that passes during an item joins the queue at that moment: behind work
// submitted earlier, ahead of work submitted later.
TEST_F(SerialQueueTest, DeadlinePassingDuringAnItemQueuesItThen) {
    queue.asyncAfter(10s, item("timer"));
    queue.async([this] {
        clock.now = 15s; // a slow piece of work
        queue.async(note("submitted after the deadline"));
    });
    queue.async(note("submitted before the deadline"));
    queue.runReady();
    EXPECT_EQ(ran, (std::vector<std::string>{"submitted before the deadline", "timer",
                                             "submitted after the deadline"}));
}
