#include "../../ServiceListener.h"

#include "../../../Shared/ServiceFrames.h"
#include "../../ProcessIdentity.h"
#include "AdmittedConnection.h"
#include "ListeningSocket.h"
#include "UnixSocket.h"

#include <algorithm>
#include <cerrno>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <unordered_map>

namespace {

// Open connections at most, so that whatever clients do, neither descriptors nor memory
// run out; further clients wait in the listen backlog until one closes.
constexpr std::size_t connectionLimit = 256;
// Descriptors left for everything else: readings, identity checks, the loop's own.
constexpr rlim_t reservedDescriptors = 32;
// Connections taken from the backlog before the open ones are served again, so that a
// flood of connections cannot keep a waiting call from its reply.
constexpr int acceptBatch = 32;
// How long a check or an accept that ran short of descriptors or memory waits to retry.
constexpr long retryNanoseconds = 50'000'000;

} // namespace

class ServiceListener::Impl {
  public:
    Impl(EventLoop& loop, std::string serviceName)
        : loop_(loop), serviceName_(std::move(serviceName)),
          greeting_(frames::encodeFrame(serviceName_).value_or(std::string())) {}
    ~Impl() {
        connections_.clear();
        if (socket_)
            loop_.unwatch(socket_.get());
        if (retryTimer_)
            loop_.unwatch(retryTimer_.get());
    }

    std::string requirement;
    ServiceListenerDelegate* delegate = nullptr;

    void resume();

  private:
    void acceptWaiting();
    void retry();
    void retryLater();
    // Whether the peer's check came to an end; one that ran short of resources did not.
    [[nodiscard]] bool admit(FileDescriptor& fd);
    void connectionClosed(std::uint64_t number);
    void updateAccepting();

    EventLoop& loop_;
    std::string serviceName_;
    std::string greeting_;
    FileDescriptor socket_;
    FileDescriptor retryTimer_;
    std::size_t connectionBound_ = 1;
    // Accepted, but their check ran short of resources: checked again before any other.
    std::deque<FileDescriptor> unchecked_;
    bool waitingToRetry_ = false;
    std::unordered_map<std::uint64_t, std::shared_ptr<AdmittedConnection>> connections_;
    std::uint64_t connectionsMade_ = 0;
};

void ServiceListener::Impl::resume() {
    if (socket_)
        return;
    rlim_t files = raiseOpenFileLimit();
    connectionBound_ = files > reservedDescriptors + 1
                           ? std::min<std::size_t>(connectionLimit, files - reservedDescriptors)
                           : 1;
    socket_ = passedSocket();
    if (!socket_) {
        if (auto path = serviceSocketPath(serviceName_))
            if (auto bound = boundSocket(*path))
                socket_ = std::move(*bound);
    }
    // Connections inherit it, so that even calls sent before we accept name their writer.
    // Pidfds are asked for on each connection, only where its calls need them.
    if (!socket_ || !enableSenderCredentials(socket_.get()))
        return;
    // Made now, while descriptors are plentiful: it is wanted when they run short.
    retryTimer_.reset(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    loop_.watch(retryTimer_.get(), EventLoop::readable, [this](bool) { retry(); });
    loop_.watch(socket_.get(), EventLoop::readable, [this](bool) { acceptWaiting(); });
}

void ServiceListener::Impl::acceptWaiting() {
    for (int taken = 0;
         taken < acceptBatch && !waitingToRetry_ && connections_.size() < connectionBound_;) {
        FileDescriptor fd(accept4(socket_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd) {
            ++taken;
            if (!admit(fd)) {
                unchecked_.push_back(std::move(fd));
                retryLater();
            }
        } else if (Failure::ofErrno().isShortage()) {
            retryLater();
        } else if (errno != EINTR && errno != ECONNABORTED) {
            break;
        }
    }
    updateAccepting();
}

void ServiceListener::Impl::retryLater() {
    waitingToRetry_ = true;
    itimerspec delay{{0, 0}, {0, retryNanoseconds}};
    timerfd_settime(retryTimer_.get(), 0, &delay, nullptr);
}

void ServiceListener::Impl::retry() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] auto got = read(retryTimer_.get(), &expirations, sizeof expirations);
    waitingToRetry_ = false;
    while (!unchecked_.empty()) {
        if (!admit(unchecked_.front())) {
            retryLater();
            return;
        }
        unchecked_.pop_front();
    }
    acceptWaiting();
}

bool ServiceListener::Impl::admit(FileDescriptor& fd) {
    // A connection made before we asked the listening socket for them does not inherit
    // credentials with each message.
    if (!enableSenderCredentials(fd.get())) {
        fd.reset();
        return true;
    }
    // Looked at before the peer's check, so that the check also stands for the calls the
    // connecting process wrote before it, as each call's own check would.
    char waiting[readChunk];
    auto written = peekWithSender(fd.get(), waiting, sizeof waiting);
    // A peer that has already hung up without sending a byte: no call to answer.
    if (written && written->size == 0) {
        fd.reset();
        return true;
    }
    // Before the delegate hears of it. Without a requirement nobody is admitted.
    SocketPeer peer;
    PeerCheck check = checkSocketPeer(fd.get(), requirement, &peer);
    if (check == PeerCheck::undecided)
        return false;
    if (check == PeerCheck::refused) {
        fd.reset();
        return true;
    }
    // The peer's pidfd, alive after the check, held its pid since it connected: a writer
    // with that pid before the check was the peer itself.
    CheckedWithPeer checked;
    if (written && written->sender && written->sender->pid == peer.pid &&
        written->sender->uid == peer.uid)
        checked = {written->size, peer.pid};
    std::uint64_t number = connectionsMade_++;
    auto connection =
        std::make_shared<AdmittedConnection>(loop_, std::move(fd), greeting_, requirement, checked,
                                             [this, number] { connectionClosed(number); });
    connections_.emplace(number, connection);
    if (!delegate || !delegate->shouldAcceptNewConnection(*connection) || !connection->isResumed())
        connection->close();
    return true;
}

void ServiceListener::Impl::connectionClosed(std::uint64_t number) {
    connections_.erase(number);
    // What a burst of clients took goes back once they have all left.
    if (connections_.empty())
        malloc_trim(0);
    updateAccepting();
}

// The backlog is watched only while there is room for another connection.
void ServiceListener::Impl::updateAccepting() {
    bool room = !waitingToRetry_ && connections_.size() < connectionBound_;
    loop_.setInterests(socket_.get(), room ? EventLoop::readable : 0u);
}

ServiceListener::ServiceListener(EventLoop& loop, std::string serviceName)
    : impl_(std::make_unique<Impl>(loop, std::move(serviceName))) {}

ServiceListener::~ServiceListener() = default;

void ServiceListener::setConnectionCodeSigningRequirement(std::string requirement) {
    impl_->requirement = std::move(requirement);
}

void ServiceListener::setDelegate(ServiceListenerDelegate& delegate) {
    impl_->delegate = &delegate;
}

void ServiceListener::resume() {
    impl_->resume();
}
