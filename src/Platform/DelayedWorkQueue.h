#pragma once

#include <chrono>
#include <functional>

// A queue that runs work once a delay, counted from the call, has passed.
class DelayedWorkQueue {
  public:
    virtual ~DelayedWorkQueue() = default;
    virtual void runAfter(std::chrono::nanoseconds delay, std::function<void()> work) = 0;
};

// The process's shared queue for background work of low urgency ("utility"). Work
// runs on the queue's own thread, never on the caller's.
DelayedWorkQueue& utilityQueue();
