#pragma once

#include "Platform/DelayedWorkQueue.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>

// A delayed-work queue on virtual time: work runs only when a test moves time on,
// on the thread that moves it.
class ManualQueue final : public DelayedWorkQueue {
  public:
    void runAfter(std::chrono::nanoseconds delay, std::function<void()> work) override;

    // Moves time on by `step`, running each item that falls due, in deadline order,
    // with the time set to its deadline.
    void advance(std::chrono::nanoseconds step);

    std::chrono::nanoseconds now() const;
    std::size_t pendingCount() const;

  private:
    mutable std::mutex mutex;
    std::chrono::nanoseconds time{0};
    std::multimap<std::chrono::nanoseconds, std::function<void()>> pending;
};
