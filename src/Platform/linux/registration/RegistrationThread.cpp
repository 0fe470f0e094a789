#include "RegistrationThread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct Operation {
    std::function<void()> work;
    bool changesRegistration = false;
};

struct Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Operation> waiting;
    bool running = false;
    bool started = false;
    bool finishing = false;
};

// Never destroyed: the thread may still wait on it while the process exits.
Queue& queue() {
    static Queue* shared = new Queue;
    return *shared;
}

void serve(Queue& queue) {
    std::unique_lock lock(queue.mutex);
    for (;;) {
        queue.changed.wait(lock, [&] { return !queue.waiting.empty(); });
        Operation operation = std::move(queue.waiting.front());
        queue.waiting.pop_front();
        queue.running = true;
        lock.unlock();
        operation.work();
        operation.work = nullptr; // what it holds goes before anyone is told it ended
        lock.lock();
        queue.running = false;
        queue.changed.notify_all();
    }
}

} // namespace

Result<void> queueRegistrationWork(std::function<void()> work, bool changesRegistration) {
    Queue& shared = queue();
    std::lock_guard lock(shared.mutex);
    if (shared.finishing && !changesRegistration)
        return {}; // dropped, as if queued just before
    if (!shared.started) {
        try {
            std::thread([&shared] { serve(shared); }).detach();
        } catch (const std::system_error& error) {
            return Failure{error.code().value()};
        }
        shared.started = true;
    }
    shared.waiting.push_back({std::move(work), changesRegistration});
    shared.changed.notify_all();
    return {};
}

void finishRegistrationWork() {
    Queue& shared = queue();
    std::deque<Operation> kept, dropped; // dropped goes after the lock is let go
    std::unique_lock lock(shared.mutex);
    shared.finishing = true;
    for (Operation& operation : shared.waiting)
        (operation.changesRegistration ? kept : dropped).push_back(std::move(operation));
    shared.waiting.swap(kept);
    shared.changed.wait(lock, [&] { return shared.waiting.empty() && !shared.running; });
}
