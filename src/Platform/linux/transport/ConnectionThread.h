#pragma once

#include "../system/FileDescriptor.h"
#include "../system/Result.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unordered_map>
#include <vector>

class ClientChannel;

// The one thread that serves every client connection of this process: a thread per
// connection cost more than the rest of a fetch.
class ConnectionThread {
  public:
    static ConnectionThread& shared() {
        // Never destroyed: connections may still be served while the process exits.
        static ConnectionThread* thread = new ConnectionThread;
        return *thread;
    }
    // Gives `channel` a turn soon.
    void wake(std::shared_ptr<ClientChannel> channel);
    // Watches the connected `fd` for `events` on behalf of `channel`; a failure when the
    // kernel refuses (out of memory or watches).
    Result<void> watch(int fd, ClientChannel* channel, std::uint32_t events, bool added);
    void unwatch(int fd) { epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr); }
    // Ends every connection and waits for the thread to return; it serves none after.
    void stop();

  private:
    ConnectionThread()
        : epoll_(epoll_create1(EPOLL_CLOEXEC)), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = nullptr;
        canWait_ =
            epoll_ && wake_ && epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event) == 0;
        worker_ = std::thread([this] { canWait_ ? run() : endEveryChannel(); });
        id_ = worker_.get_id();
    }
    void run();
    // Wakes the thread however it waits.
    void interrupt();
    // Whether stop() was asked for; then every channel it knows of ends.
    [[nodiscard]] bool endAllIfStopping();
    // Without its epoll set or its wake-up event (out of descriptors or memory) no
    // connection can be served: each channel ends as one whose service cannot be reached.
    void endEveryChannel();
    void turn(const std::shared_ptr<ClientChannel>& channel, std::uint32_t events);

    FileDescriptor epoll_;
    FileDescriptor wake_;
    bool canWait_ = false;
    std::mutex mutex_; // guards woken_ and stopping_
    std::condition_variable wokenWithoutEpoll_;
    std::vector<std::shared_ptr<ClientChannel>> woken_;
    bool stopping_ = false;
    std::thread worker_;
    std::thread::id id_;
    // The thread alone uses these: every connection it serves, and those waiting for
    // room in the service's backlog.
    std::unordered_map<ClientChannel*, std::shared_ptr<ClientChannel>> served_;
    std::vector<std::shared_ptr<ClientChannel>> waitingToConnect_;
};
