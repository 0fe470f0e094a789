#include "../../DelayedWorkQueue.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace {

// One thread that sleeps until the earliest deadline; work due at the same instant
// runs in the order it was queued. Its work is of low urgency, so it wakes a little after
// a deadline and runs all that is due by then: each fetch leaves a time-out that has
// nothing to do when it comes, and a wake-up for each would cost every later fetch.
class TimerThread final : public DelayedWorkQueue {
  public:
    TimerThread() : worker([this] { run(); }) {}

    ~TimerThread() override {
        {
            std::lock_guard held(mutex);
            stopping = true;
        }
        wake.notify_one();
        worker.join();
    }

    void runAfter(std::chrono::nanoseconds delay, std::function<void()> work) override {
        auto deadline = Clock::now() + delay;
        bool earliest = false;
        {
            std::lock_guard held(mutex);
            auto added = pending.emplace(deadline, std::move(work));
            earliest = added == pending.begin();
        }
        // Woken only when it must sleep less: each fetch queues a time-out far behind
        // the ones already waiting.
        if (earliest)
            wake.notify_one();
    }

  private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds leeway{10};

    void run() {
        std::unique_lock held(mutex);
        while (!stopping) {
            if (pending.empty()) {
                wake.wait(held);
            } else if (Clock::now() < pending.begin()->first) {
                wake.wait_until(held, pending.begin()->first + leeway);
            } else {
                std::function<void()> work = std::move(pending.begin()->second);
                pending.erase(pending.begin());
                held.unlock();
                // Run and release the work outside the lock: it may queue more.
                work();
                work = nullptr;
                held.lock();
            }
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::multimap<Clock::time_point, std::function<void()>> pending;
    bool stopping = false;
    std::thread worker; // last, so it starts after everything it uses
};

} // namespace

DelayedWorkQueue& utilityQueue() {
    static TimerThread queue;
    return queue;
}
