#include "../../SerialQueue.h"

QueueTime monotonicNow() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

void SerialQueue::enqueueDueItems() {
    QueueTime now = clock_();
    while (!delayed_.empty() && delayed_.begin()->first.first <= now) {
        std::shared_ptr<WorkItem> item = std::move(delayed_.begin()->second);
        delayed_.erase(delayed_.begin());
        if (!item->isCancelled())
            ready_.push_back([item] { item->perform(); });
    }
}

void SerialQueue::async(std::function<void()> work) {
    enqueueDueItems();
    ready_.push_back(std::move(work));
}

void SerialQueue::asyncAfter(QueueTime delay, std::shared_ptr<WorkItem> item) {
    delayed_.emplace(std::pair(clock_() + delay, submissions_++), std::move(item));
}

void SerialQueue::runReady() {
    for (;;) {
        enqueueDueItems();
        if (ready_.empty())
            return;
        std::function<void()> work = std::move(ready_.front());
        ready_.pop_front();
        work();
    }
}

std::optional<QueueTime> SerialQueue::nextDeadline() {
    while (!delayed_.empty() && delayed_.begin()->second->isCancelled())
        delayed_.erase(delayed_.begin());
    if (delayed_.empty())
        return std::nullopt;
    return delayed_.begin()->first.first;
}
