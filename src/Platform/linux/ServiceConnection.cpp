#include "../ServiceConnection.h"

#include "../../Shared/ServiceContract.h"
#include "../../Shared/ServiceFrames.h"
#include "../ProcessIdentity.h"
#include "UnixSocket.h"

#include <cerrno>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

struct Call {
    std::function<void(ReplyBytes data)> reply;
    std::function<void(const ConnectionError&)> errorHandler;
};

ConnectionError transportError(int code) {
    switch (code) {
    case EMSGSIZE:
        return {code, "The service sent a message larger than the transport allows."};
    case EPROTO:
        return {code, "The service broke the transport's protocol."};
    default:
        return {code, "The connection to the service failed."};
    }
}

// Everything a connection shares between its owner, its proxies and its own thread.
class Channel : public std::enable_shared_from_this<Channel> {
  public:
    explicit Channel(std::string serviceName)
        : serviceName_(std::move(serviceName)), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void setRequirement(std::string requirement) {
        std::lock_guard lock(mutex_);
        requirement_ = std::move(requirement);
    }
    // The handler replaced goes when the call returns, outside the lock: it may hold the
    // last reference to whatever owns this connection.
    void setInterruptionHandler(std::function<void()> handler) {
        std::lock_guard lock(mutex_);
        interruptionHandler_.swap(handler);
    }
    void setInvalidationHandler(std::function<void()> handler) {
        std::lock_guard lock(mutex_);
        invalidationHandler_.swap(handler);
    }
    void resume();
    void submit(Call call);
    void invalidate();

  private:
    void run();
    bool connectToService();
    void disconnect();
    void writeRequests();
    // Each false once the connection is invalid.
    bool readReplies();
    bool replyToOldestCall(ReplyBytes data);
    bool peerSatisfiesRequirement(const MessageSender& peer);
    bool peerClosed();
    void failCallsInFlight(int code);
    bool isInvalidated() {
        std::lock_guard lock(mutex_);
        return invalidated_;
    }
    void markInvalidated() {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
    }
    void signal() {
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = write(wake_.get(), &one, sizeof one);
    }

    const std::string serviceName_;
    FileDescriptor wake_;

    std::mutex mutex_; // guards the fields below
    std::string requirement_;
    std::function<void()> interruptionHandler_;
    std::function<void()> invalidationHandler_;
    std::deque<Call> submitted_;
    bool resumed_ = false;
    bool invalidated_ = false;

    // The connection's thread alone uses these.
    FileDescriptor socket_;
    frames::FrameReader reader_{contract::largestReplyBytes};
    bool peerVerified_ = false;
    pid_t agent_ = 0; // the greeting's sender, once verified
    std::string unsent_;
    std::deque<Call> inFlight_;
};

void Channel::resume() {
    {
        std::lock_guard lock(mutex_);
        if (resumed_ || invalidated_)
            return;
        resumed_ = true;
    }
    std::thread([self = shared_from_this()] { self->run(); }).detach();
}

void Channel::submit(Call call) {
    {
        std::lock_guard lock(mutex_);
        if (invalidated_)
            return;
        submitted_.push_back(std::move(call));
    }
    signal();
}

void Channel::invalidate() {
    {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
    }
    signal();
}

void Channel::run() {
    for (;;) {
        std::deque<Call> calls;
        {
            std::lock_guard lock(mutex_);
            if (invalidated_)
                break;
            calls.swap(submitted_);
        }
        if (!calls.empty() && !socket_ && !connectToService())
            break;
        for (Call& call : calls) {
            unsent_ += *frames::encodeFrame(frames::fetchSnapshotMethod);
            inFlight_.push_back(std::move(call));
        }
        writeRequests();

        pollfd fds[2] = {{wake_.get(), POLLIN, 0}, {socket_.get(), 0, 0}};
        if (socket_)
            fds[1].events = short(POLLIN | (unsent_.empty() ? 0 : POLLOUT));
        if (poll(fds, socket_ ? 2 : 1, -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto got = read(wake_.get(), &count, sizeof count);
        }
        if (socket_ && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) && !readReplies())
            break;
    }

    markInvalidated();
    disconnect();
    inFlight_.clear();
    // Calls never taken are dropped outside the lock: the last reference to a caller's
    // state, and through it to the connection, may go with them.
    std::deque<Call> dropped;
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(submitted_);
        handler = invalidationHandler_;
    }
    dropped.clear();
    if (handler)
        handler();
}

bool Channel::connectToService() {
    auto path = serviceSocketPath(serviceName_);
    if (!path)
        return false;
    // Blocking, so that connecting waits while the service's backlog is full: a busy
    // service is not an absent one. Each wait is short, so invalidating still ends it;
    // once connected, every transfer asks not to wait.
    FileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    timeval wait{0, 100'000};
    // Set before connecting, so the greeting already arrives with its sender attached.
    if (!fd || !enableSenderRecords(fd.get()) ||
        setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) != 0)
        return false;
    sockaddr_un address = *unixAddress(*path);
    while (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        if ((errno != EAGAIN && errno != EINTR) || isInvalidated())
            return false;
    socket_ = std::move(fd);
    return true;
}

void Channel::disconnect() {
    socket_.reset();
    reader_ = frames::FrameReader(contract::largestReplyBytes);
    peerVerified_ = false;
    unsent_.clear();
}

void Channel::writeRequests() {
    while (socket_ && !unsent_.empty()) {
        ssize_t sent =
            send(socket_.get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            unsent_.erase(0, std::size_t(sent));
        } else if (sent < 0 && errno == EAGAIN) {
            return;
        } else if (sent < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            // What the peer sent before it closed is still to be read; reading then
            // tells a refusal from a service that went away.
            unsent_.clear();
        } else if (!(sent < 0 && errno == EINTR)) {
            failCallsInFlight(errno);
        }
    }
}

bool Channel::readReplies() {
    char buffer[65536];
    std::optional<MessageSender> sender;
    ssize_t got = receiveWithSender(socket_.get(), buffer, sizeof buffer, sender);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (got == 0 || (got < 0 && errno == ECONNRESET))
        return peerClosed();
    if (got < 0) {
        failCallsInFlight(errno);
        return true;
    }

    // The greeting's sender must satisfy the requirement; everything after, come from it.
    if (!sender)
        return false;
    if (!peerVerified_) {
        if (!peerSatisfiesRequirement(*sender))
            return false;
        agent_ = sender->pid;
    } else if (sender->pid != agent_) {
        return false;
    }
    reader_.feed(std::string_view(buffer, std::size_t(got)));
    while (auto frame = reader_.nextFrame()) {
        if (!peerVerified_) {
            if (*frame != serviceName_)
                return false;
            peerVerified_ = true;
            continue;
        }
        if (inFlight_.empty()) {
            failCallsInFlight(EPROTO);
            return true;
        }
        if (!replyToOldestCall(std::move(*frame)))
            return false;
    }
    if (reader_.isBroken()) {
        // Longer than any reply a client takes: refused from its header, and the stream
        // cannot be followed past it.
        if (!peerVerified_)
            return false;
        if (!inFlight_.empty() && !replyToOldestCall(std::nullopt))
            return false;
        failCallsInFlight(EMSGSIZE);
    }
    return true;
}

bool Channel::replyToOldestCall(ReplyBytes data) {
    Call call = std::move(inFlight_.front());
    inFlight_.pop_front();
    if (isInvalidated())
        return false;
    call.reply(std::move(data));
    return true;
}

bool Channel::peerSatisfiesRequirement(const MessageSender& peer) {
    std::string requirement;
    {
        std::lock_guard lock(mutex_);
        requirement = requirement_;
    }
    return checkPeer(peer.pid, peer.uid, requirement, peer.pidfd.get()) == PeerCheck::satisfied;
}

// The service went away; calls not yet sent go to the next instance. Gone before it
// proved itself, it refused us or was no such service: the connection is invalid.
bool Channel::peerClosed() {
    if (!peerVerified_)
        return false;
    bool hadCallsInFlight = !inFlight_.empty();
    inFlight_.clear();
    disconnect();
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        handler = interruptionHandler_;
    }
    if (hadCallsInFlight && handler)
        handler();
    return true;
}

// The stream can no longer be trusted: every call on it fails, later calls reconnect.
void Channel::failCallsInFlight(int code) {
    std::deque<Call> failed;
    failed.swap(inFlight_);
    disconnect();
    ConnectionError error = transportError(code);
    for (Call& call : failed)
        if (call.errorHandler)
            call.errorHandler(error);
}

class SocketProxy final : public SensorServiceProxy {
  public:
    SocketProxy(std::shared_ptr<Channel> channel,
                std::function<void(const ConnectionError&)> errorHandler)
        : channel_(std::move(channel)), errorHandler_(std::move(errorHandler)) {}

    void fetchSnapshotWithReply(std::function<void(ReplyBytes data)> reply) override {
        channel_->submit(Call{std::move(reply), errorHandler_});
    }

  private:
    std::shared_ptr<Channel> channel_;
    std::function<void(const ConnectionError&)> errorHandler_;
};

class SocketConnection final : public ServiceConnection {
  public:
    explicit SocketConnection(std::string_view serviceName)
        : channel_(std::make_shared<Channel>(std::string(serviceName))) {}
    // Nobody is left to hear from this connection.
    ~SocketConnection() override {
        channel_->setInterruptionHandler(nullptr);
        channel_->setInvalidationHandler(nullptr);
        channel_->invalidate();
    }

    void setCodeSigningRequirement(std::string requirement) override {
        channel_->setRequirement(std::move(requirement));
    }
    void setInterruptionHandler(std::function<void()> handler) override {
        channel_->setInterruptionHandler(std::move(handler));
    }
    void setInvalidationHandler(std::function<void()> handler) override {
        channel_->setInvalidationHandler(std::move(handler));
    }
    void resume() override { channel_->resume(); }
    std::shared_ptr<SensorServiceProxy>
    remoteObjectProxy(std::function<void(const ConnectionError&)> errorHandler) override {
        return std::make_shared<SocketProxy>(channel_, std::move(errorHandler));
    }
    void invalidate() override { channel_->invalidate(); }

  private:
    std::shared_ptr<Channel> channel_;
};

} // namespace

std::unique_ptr<ServiceConnection> makeServiceConnection(std::string_view serviceName) {
    return std::make_unique<SocketConnection>(serviceName);
}
