#include "ConnectionThread.h"

#include "ClientChannel.h"

#include <algorithm>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

void ConnectionThread::wake(std::shared_ptr<ClientChannel> channel) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = woken_.empty();
        woken_.push_back(std::move(channel));
    }
    // The thread itself, in a handler, finds it before it next waits.
    if (first && std::this_thread::get_id() != id_)
        interrupt();
}

void ConnectionThread::interrupt() {
    if (!canWait_) {
        wokenWithoutEpoll_.notify_one();
        return;
    }
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(wake_.get(), &one, sizeof one);
}

void ConnectionThread::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        stopping_ = true;
    }
    interrupt();
    worker_.join();
}

bool ConnectionThread::endAllIfStopping() {
    std::vector<std::shared_ptr<ClientChannel>> woken;
    {
        std::lock_guard lock(mutex_);
        if (!stopping_)
            return false;
        woken.swap(woken_);
    }
    for (auto& [channel, held] : served_)
        woken.push_back(held);
    served_.clear();
    waitingToConnect_.clear();
    for (const auto& channel : woken)
        channel->end();
    return true;
}

Result<void> ConnectionThread::watch(int fd, ClientChannel* channel, std::uint32_t events,
                                     bool added) {
    epoll_event event{};
    event.events = events;
    event.data.ptr = channel;
    if (epoll_ctl(epoll_.get(), added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event) != 0)
        return Failure::ofErrno();
    return {};
}

void ConnectionThread::endEveryChannel() {
    for (;;) {
        std::vector<std::shared_ptr<ClientChannel>> woken;
        {
            std::unique_lock lock(mutex_);
            wokenWithoutEpoll_.wait(lock, [this] { return !woken_.empty() || stopping_; });
            if (!stopping_)
                woken.swap(woken_);
        }
        if (endAllIfStopping())
            return;
        for (const auto& channel : woken)
            channel->end();
    }
}

void ConnectionThread::run() {
    constexpr int batch = 64;
    // How often a connection retries while the service's backlog is full.
    constexpr int backlogRetryMilliseconds = 2;
    for (;;) {
        epoll_event events[batch];
        int count = epoll_wait(epoll_.get(), events, batch,
                               waitingToConnect_.empty() ? -1 : backlogRetryMilliseconds);
        // Each list is taken whole first: a turn may wake channels, or drop the last
        // reference to one.
        std::vector<std::shared_ptr<ClientChannel>> retrying;
        retrying.swap(waitingToConnect_);
        for (const auto& channel : retrying)
            turn(channel, 0);
        bool woke = false;
        for (int at = 0; at < count; ++at) {
            if (!events[at].data.ptr) {
                woke = true;
                continue;
            }
            // Copied: the turn may end the connection and drop it from the map.
            auto found = served_.find(static_cast<ClientChannel*>(events[at].data.ptr));
            if (found != served_.end())
                turn(std::shared_ptr<ClientChannel>(found->second), events[at].events);
        }
        if (woke) {
            std::uint64_t wakes = 0;
            [[maybe_unused]] auto got = read(wake_.get(), &wakes, sizeof wakes);
        }
        for (;;) {
            std::vector<std::shared_ptr<ClientChannel>> woken;
            {
                std::lock_guard lock(mutex_);
                woken.swap(woken_);
            }
            if (woken.empty())
                break;
            for (const auto& channel : woken)
                turn(channel, 0);
        }
        if (endAllIfStopping())
            return;
    }
}

void ConnectionThread::turn(const std::shared_ptr<ClientChannel>& channel, std::uint32_t events) {
    switch (channel->turn(events)) {
    case ClientChannel::Turn::events:
        served_.try_emplace(channel.get(), channel);
        break;
    case ClientChannel::Turn::roomInBacklog:
        served_.try_emplace(channel.get(), channel);
        if (std::find(waitingToConnect_.begin(), waitingToConnect_.end(), channel) ==
            waitingToConnect_.end())
            waitingToConnect_.push_back(channel);
        break;
    case ClientChannel::Turn::ended:
        served_.erase(channel.get());
        channel->end();
        break;
    }
}
