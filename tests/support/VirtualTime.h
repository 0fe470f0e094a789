#pragma once

#include "Platform/SerialQueue.h"

#include <algorithm>

// A clock that moves only when a test moves it.
struct VirtualClock {
    QueueTime now{0};
    QueueClock reader() {
        return [this] { return now; };
    }
};

// Runs the queue on virtual time up to `until`: every delayed item runs with the clock
// at its deadline, and work may itself move the clock on (a slow collection).
inline void runUntil(SerialQueue& queue, VirtualClock& clock, QueueTime until) {
    for (;;) {
        queue.runReady();
        auto deadline = queue.nextDeadline();
        if (!deadline || *deadline > until)
            break;
        clock.now = std::max(clock.now, *deadline);
    }
    clock.now = std::max(clock.now, until);
    queue.runReady();
}
