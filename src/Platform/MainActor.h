#pragma once

#include <chrono>
#include <functional>

// A point on the continuous clock: monotonic, and counting on while the machine sleeps.
using ContinuousInstant = std::chrono::nanoseconds;

// The continuous clock itself (CLOCK_BOOTTIME on Linux).
ContinuousInstant continuousNow();

// The thread that owns the app's state (its GUI thread). Work posted to it runs there,
// one item at a time, in the order posted; tests drive one by hand on virtual time.
class MainActor {
  public:
    virtual ~MainActor() = default;
    // Callable from any thread.
    virtual void post(std::function<void()> work) = 0;
    // Runs `work` once the clock reaches `deadline` (at once when it already has).
    // Called on the main thread only.
    virtual void postAt(ContinuousInstant deadline, std::function<void()> work) = 0;
    virtual ContinuousInstant now() const = 0;
};
