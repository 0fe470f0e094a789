#pragma once

#include "SerialQueue.h"

#include <cstdint>
#include <functional>
#include <unordered_map>

// The agent's one thread: it waits for descriptors and for the queue's next deadline,
// and runs the queue's work in between.
class EventLoop {
  public:
    static constexpr std::uint32_t readable = 1;
    static constexpr std::uint32_t writable = 2;
    // Called when the descriptor is ready for an interest, or has hung up or failed
    // (`hungUp`), which is reported whatever the interests.
    using Handler = std::function<void(bool hungUp)>;

    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void watch(int fd, std::uint32_t interests, Handler handler);
    void setInterests(int fd, std::uint32_t interests);
    // Call before closing the descriptor.
    void unwatch(int fd);

    // Serves the queue and the watched descriptors; returns once neither has anything
    // left to wait for.
    void run(SerialQueue& queue);

  private:
    struct Watch {
        std::uint64_t id;
        std::uint32_t interests;
        Handler handler;
    };
    int epoll_;
    // Ids, not descriptors, identify watches in events, so an event already fetched for
    // a descriptor that was closed and reused meanwhile is dropped.
    std::unordered_map<int, Watch> watches_;
    std::unordered_map<std::uint64_t, int> fdOfId_;
    std::uint64_t nextId_ = 1;
};
