#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

// Work that can be cancelled until it starts; cancelling later changes nothing.
class WorkItem {
  public:
    explicit WorkItem(std::function<void()> body) : body_(std::move(body)) {}
    void cancel() { cancelled_ = true; }
    bool isCancelled() const { return cancelled_; }
    void perform() {
        if (!cancelled_)
            body_();
    }

  private:
    std::function<void()> body_;
    bool cancelled_ = false;
};

// A point on a monotonic clock; tests substitute a virtual one.
using QueueTime = std::chrono::nanoseconds;
using QueueClock = std::function<QueueTime()>;

// The system's monotonic clock (it stops while the machine sleeps, as dispatch time does).
QueueTime monotonicNow();

// Work runs one item at a time in submission order. A delayed item joins the queue at
// its deadline, so it runs after what was submitted before that moment and before what
// is submitted after it, even when the deadline passes during another item. One thread
// drives the queue (the agent's run loop, or a test on virtual time); it is not safe to
// use from any other.
class SerialQueue {
  public:
    SerialQueue(std::string label, QueueClock clock)
        : label_(std::move(label)), clock_(std::move(clock)) {}

    const std::string& label() const { return label_; }
    QueueTime now() const { return clock_(); }

    void async(std::function<void()> work);
    void asyncAfter(QueueTime delay, std::shared_ptr<WorkItem> item);

    // Runs every item that is ready, including those that become ready meanwhile.
    void runReady();
    // The earliest deadline among delayed items that are not cancelled.
    std::optional<QueueTime> nextDeadline();
    bool hasWork() { return !ready_.empty() || nextDeadline().has_value(); }

  private:
    void enqueueDueItems();

    std::string label_;
    QueueClock clock_;
    std::deque<std::function<void()>> ready_;
    // Keyed by deadline, then by submission, so equal deadlines keep their order.
    std::map<std::pair<QueueTime, std::uint64_t>, std::shared_ptr<WorkItem>> delayed_;
    std::uint64_t submissions_ = 0;
};
