#include "ClientChannel.h"

#include "../../ProcessIdentity.h"

#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

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

} // namespace

void ClientChannel::resume() {
    {
        std::lock_guard lock(mutex_);
        if (resumed_ || invalidated_)
            return;
        resumed_ = true;
        // Until a call comes the connection has nothing to do.
        if (submitted_.empty())
            return;
    }
    signal();
}

// Connects and sends what was submitted, without waiting and without reporting: whatever
// does not succeed here, the connection thread tries again on its first turn and reports.
void ClientChannel::startOnCallersThread() {
    {
        std::lock_guard lock(mutex_);
        for (PendingCall& call : submitted_)
            unconnected_.push_back(std::move(call));
        submitted_.clear();
    }
    if (connectToService() != Connect::connected)
        return;
    queueUnconnectedCalls();
    ssize_t sent = send(socket_.get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0)
        unsent_.erase(0, std::size_t(sent));
}

void ClientChannel::submit(PendingCall call) {
    {
        std::lock_guard lock(mutex_);
        if (invalidated_)
            return;
        submitted_.push_back(std::move(call));
    }
    signal();
}

void ClientChannel::invalidate() {
    {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
    }
    signal();
}

ClientChannel::Turn ClientChannel::turn(std::uint32_t events) {
    {
        std::lock_guard lock(mutex_);
        if (invalidated_ || ended_)
            return Turn::ended;
        for (PendingCall& call : submitted_)
            unconnected_.push_back(std::move(call));
        submitted_.clear();
    }
    if (!unconnected_.empty() && !socket_) {
        Connect connected = connectToService();
        if (connected == Connect::failed)
            return Turn::ended;
        if (connected == Connect::backlogFull)
            return Turn::roomInBacklog;
    }
    queueUnconnectedCalls();
    writeRequests();
    if (socket_ && (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) && !readReplies())
        return Turn::ended;
    if (auto watching = watchSocket(); !watching) {
        failCallsInFlight(watching.failure().error);
        return Turn::ended;
    }
    return Turn::events;
}

// Queues the calls taken while there was no connection to go on the one there is now.
void ClientChannel::queueUnconnectedCalls() {
    for (PendingCall& call : unconnected_) {
        unsent_ += *frames::encodeFrame(frames::fetchSnapshotMethod);
        inFlight_.push_back(std::move(call));
    }
    unconnected_.clear();
}

void ClientChannel::end() {
    if (ended_)
        return;
    ended_ = true;
    {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
    }
    disconnect();
    inFlight_.clear();
    unconnected_.clear();
    // Calls never taken are dropped outside the lock: the last reference to a caller's
    // state, and through it to the connection, may go with them.
    std::deque<PendingCall> dropped;
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

// A full backlog is a busy service, not an absent one: the connection tries again.
ClientChannel::Connect ClientChannel::connectToService() {
    auto path = serviceSocketPath(serviceName_);
    if (!path)
        return Connect::failed;
    FileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // Set before connecting, so the greeting already arrives with its sender attached.
    if (!fd || !enableSenderRecords(fd.get()))
        return Connect::failed;
    sockaddr_un address = *unixAddress(*path);
    while (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        if (errno == EAGAIN)
            return Connect::backlogFull;
        else if (errno != EINTR)
            return Connect::failed;
    socket_ = std::move(fd);
    return Connect::connected;
}

// A socket the connection thread cannot watch would never be heard again.
Result<void> ClientChannel::watchSocket() {
    if (!socket_)
        return {};
    std::uint32_t wanted = unsent_.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT;
    if (wanted != watched_)
        if (auto watching =
                ConnectionThread::shared().watch(socket_.get(), this, wanted, watched_ != 0);
            !watching)
            return watching;
    watched_ = wanted;
    return {};
}

void ClientChannel::disconnect() {
    if (socket_ && watched_ != 0)
        ConnectionThread::shared().unwatch(socket_.get());
    watched_ = 0;
    socket_.reset();
    reader_ = frames::FrameReader(contract::largestReplyBytes);
    peerVerified_ = false;
    unsent_.clear();
}

void ClientChannel::writeRequests() {
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

bool ClientChannel::readReplies() {
    char buffer[65536];
    auto received = receiveWithSender(socket_.get(), buffer, sizeof buffer);
    const int error = received ? 0 : received.failure().error;
    if (error == EAGAIN || error == EINTR)
        return true;
    if (error == ECONNRESET || (received && received->size == 0))
        return peerClosed();
    if (error != 0) {
        failCallsInFlight(error);
        return true;
    }
    const auto& sender = received->sender;

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
    reader_.feed(std::string_view(buffer, received->size));
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

bool ClientChannel::replyToOldestCall(ReplyBytes data) {
    PendingCall call = std::move(inFlight_.front());
    inFlight_.pop_front();
    if (isInvalidated())
        return false;
    call.reply(std::move(data));
    return true;
}

bool ClientChannel::peerSatisfiesRequirement(const MessageSender& peer) {
    std::string requirement;
    {
        std::lock_guard lock(mutex_);
        requirement = requirement_;
    }
    return checkPeer(peer.pid, peer.uid, requirement, peer.pidfd.get()) == PeerCheck::satisfied;
}

// The service went away; calls not yet sent go to the next instance. Gone before it
// proved itself, it refused us or was no such service: the connection is invalid.
bool ClientChannel::peerClosed() {
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
void ClientChannel::failCallsInFlight(int code) {
    std::deque<PendingCall> failed;
    failed.swap(inFlight_);
    disconnect();
    ConnectionError error = transportError(code);
    for (PendingCall& call : failed)
        if (call.errorHandler)
            call.errorHandler(error);
}
