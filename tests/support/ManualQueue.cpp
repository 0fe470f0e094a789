#include "ManualQueue.h"

void ManualQueue::runAfter(std::chrono::nanoseconds delay, std::function<void()> work) {
    std::lock_guard held(mutex);
    pending.emplace(time + delay, std::move(work));
}

void ManualQueue::advance(std::chrono::nanoseconds step) {
    std::unique_lock held(mutex);
    const auto target = time + step;
    while (!pending.empty() && pending.begin()->first <= target) {
        time = pending.begin()->first;
        std::function<void()> work = std::move(pending.begin()->second);
        pending.erase(pending.begin());
        held.unlock();
        work();
        work = nullptr;
        held.lock();
    }
    time = target;
}

std::chrono::nanoseconds ManualQueue::now() const {
    std::lock_guard held(mutex);
    return time;
}

std::size_t ManualQueue::pendingCount() const {
    std::lock_guard held(mutex);
    return pending.size();
}
