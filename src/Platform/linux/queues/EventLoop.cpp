#include "../../EventLoop.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

std::uint32_t epollEvents(std::uint32_t interests) {
    return ((interests & EventLoop::readable) ? EPOLLIN : 0u) |
           ((interests & EventLoop::writable) ? EPOLLOUT : 0u);
}

// Milliseconds until the deadline, rounded up so the wait never ends early.
int waitMilliseconds(std::optional<QueueTime> deadline, QueueTime now) {
    if (!deadline)
        return -1;
    if (*deadline <= now)
        return 0;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
    return left > 1'000'000'000 ? 1'000'000'000 : int(left);
}

} // namespace

EventLoop::EventLoop() : epoll_(epoll_create1(EPOLL_CLOEXEC)) {}

EventLoop::~EventLoop() {
    if (epoll_ >= 0)
        close(epoll_);
}

void EventLoop::watch(int fd, std::uint32_t interests, Handler handler) {
    std::uint64_t id = nextId_++;
    epoll_event event{};
    event.events = epollEvents(interests);
    event.data.u64 = id;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0)
        return;
    watches_[fd] = Watch{id, interests, std::move(handler)};
    fdOfId_[id] = fd;
}

void EventLoop::setInterests(int fd, std::uint32_t interests) {
    auto found = watches_.find(fd);
    // Most calls leave the interests as they were: no system call for those.
    if (found == watches_.end() || found->second.interests == interests)
        return;
    epoll_event event{};
    event.events = epollEvents(interests);
    event.data.u64 = found->second.id;
    if (epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) == 0)
        found->second.interests = interests;
}

void EventLoop::unwatch(int fd) {
    auto found = watches_.find(fd);
    if (found == watches_.end())
        return;
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    fdOfId_.erase(found->second.id);
    watches_.erase(found);
}

void EventLoop::run(SerialQueue& queue) {
    std::array<epoll_event, 32> events;
    for (;;) {
        queue.runReady();
        if (watches_.empty() && !queue.hasWork())
            return;
        int timeout = waitMilliseconds(queue.nextDeadline(), queue.now());
        int count = epoll_wait(epoll_, events.data(), int(events.size()), timeout);
        if (count < 0 && errno != EINTR)
            return;
        for (std::size_t i = 0; i < std::size_t(std::max(count, 0)); ++i) {
            auto id = fdOfId_.find(events[i].data.u64);
            if (id == fdOfId_.end())
                continue;
            // Copied: the handler may unwatch its own descriptor.
            Handler handler = watches_.at(id->second).handler;
            handler((events[i].events & (EPOLLHUP | EPOLLERR)) != 0);
        }
    }
}
