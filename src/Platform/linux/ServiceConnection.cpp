#include "../ServiceConnection.h"

#include "../../Shared/ServiceContract.h"
#include "../../Shared/ServiceFrames.h"
#include "../ProcessIdentity.h"
#include "UnixSocket.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

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

class Channel;

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
    void wake(std::shared_ptr<Channel> channel);
    // Watches the connected `fd` for `events` on behalf of `channel`; false when the
    // kernel refuses (out of memory or watches), errno saying why.
    [[nodiscard]] bool watch(int fd, Channel* channel, std::uint32_t events, bool added);
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
    bool endAllIfStopping();
    // Without its epoll set or its wake-up event (out of descriptors or memory) no
    // connection can be served: each channel ends as one whose service cannot be reached.
    void endEveryChannel();
    void turn(const std::shared_ptr<Channel>& channel, std::uint32_t events);

    FileDescriptor epoll_;
    FileDescriptor wake_;
    bool canWait_ = false;
    std::mutex mutex_; // guards woken_ and stopping_
    std::condition_variable wokenWithoutEpoll_;
    std::vector<std::shared_ptr<Channel>> woken_;
    bool stopping_ = false;
    std::thread worker_;
    std::thread::id id_;
    // The thread alone uses these: every connection it serves, and those waiting for
    // room in the service's backlog.
    std::unordered_map<Channel*, std::shared_ptr<Channel>> served_;
    std::vector<std::shared_ptr<Channel>> waitingToConnect_;
};

// Everything a connection shares between its owner, its proxies and the connection thread.
class Channel : public std::enable_shared_from_this<Channel> {
  public:
    explicit Channel(std::string serviceName) : serviceName_(std::move(serviceName)) {}

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

    // What a turn on the connection thread left to wait for.
    enum class Turn { events, roomInBacklog, ended };
    Turn turn(std::uint32_t events);
    // Once, after the turn that ended the connection.
    void end();

  private:
    enum class Connect { connected, backlogFull, failed };
    Connect connectToService();
    [[nodiscard]] bool watchSocket();
    void queueUnconnectedCalls();
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
    // Gives the connection thread a turn on this channel. The first call of a resumed
    // channel is connected and sent from the caller's thread first, so that the service
    // works on it while the connection thread wakes, not after.
    void signal() {
        bool start = false;
        {
            std::lock_guard lock(mutex_);
            if (!resumed_ || starting_)
                return; // a caller starting it hands it over when done
            start = !handedOver_ && !invalidated_ && !submitted_.empty();
            starting_ = start;
            handedOver_ = true;
        }
        if (start) {
            startOnCallersThread();
            std::lock_guard lock(mutex_);
            starting_ = false;
        }
        ConnectionThread::shared().wake(shared_from_this());
    }
    void startOnCallersThread();

    const std::string serviceName_;

    std::mutex mutex_; // guards the fields below
    std::string requirement_;
    std::function<void()> interruptionHandler_;
    std::function<void()> invalidationHandler_;
    std::deque<Call> submitted_;
    bool resumed_ = false;
    bool invalidated_ = false;
    // Until the connection thread first hears of the channel, the fields it alone uses
    // below are free for a caller that starts the channel; starting_ while one does.
    bool handedOver_ = false;
    bool starting_ = false;

    // The connection thread alone uses these.
    FileDescriptor socket_;
    std::uint32_t watched_ = 0; // the socket's events watched, none before it is added
    frames::FrameReader reader_{contract::largestReplyBytes};
    bool peerVerified_ = false;
    pid_t agent_ = 0;              // the greeting's sender, once verified
    std::deque<Call> unconnected_; // taken while there was no connection yet
    std::string unsent_;
    std::deque<Call> inFlight_;
    bool ended_ = false;
};

void ConnectionThread::wake(std::shared_ptr<Channel> channel) {
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
    std::vector<std::shared_ptr<Channel>> woken;
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

bool ConnectionThread::watch(int fd, Channel* channel, std::uint32_t events, bool added) {
    epoll_event event{};
    event.events = events;
    event.data.ptr = channel;
    return epoll_ctl(epoll_.get(), added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event) == 0;
}

void ConnectionThread::endEveryChannel() {
    for (;;) {
        std::vector<std::shared_ptr<Channel>> woken;
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
        std::vector<std::shared_ptr<Channel>> retrying;
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
            auto found = served_.find(static_cast<Channel*>(events[at].data.ptr));
            if (found != served_.end())
                turn(std::shared_ptr<Channel>(found->second), events[at].events);
        }
        if (woke) {
            std::uint64_t wakes = 0;
            [[maybe_unused]] auto got = read(wake_.get(), &wakes, sizeof wakes);
        }
        for (;;) {
            std::vector<std::shared_ptr<Channel>> woken;
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

void ConnectionThread::turn(const std::shared_ptr<Channel>& channel, std::uint32_t events) {
    switch (channel->turn(events)) {
    case Channel::Turn::events:
        served_.try_emplace(channel.get(), channel);
        break;
    case Channel::Turn::roomInBacklog:
        served_.try_emplace(channel.get(), channel);
        if (std::find(waitingToConnect_.begin(), waitingToConnect_.end(), channel) ==
            waitingToConnect_.end())
            waitingToConnect_.push_back(channel);
        break;
    case Channel::Turn::ended:
        served_.erase(channel.get());
        channel->end();
        break;
    }
}

void Channel::resume() {
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
void Channel::startOnCallersThread() {
    {
        std::lock_guard lock(mutex_);
        for (Call& call : submitted_)
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

Channel::Turn Channel::turn(std::uint32_t events) {
    {
        std::lock_guard lock(mutex_);
        if (invalidated_ || ended_)
            return Turn::ended;
        for (Call& call : submitted_)
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
    if (!watchSocket()) {
        failCallsInFlight(errno);
        return Turn::ended;
    }
    return Turn::events;
}

// Queues the calls taken while there was no connection to go on the one there is now.
void Channel::queueUnconnectedCalls() {
    for (Call& call : unconnected_) {
        unsent_ += *frames::encodeFrame(frames::fetchSnapshotMethod);
        inFlight_.push_back(std::move(call));
    }
    unconnected_.clear();
}

void Channel::end() {
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

// A full backlog is a busy service, not an absent one: the connection tries again.
Channel::Connect Channel::connectToService() {
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
bool Channel::watchSocket() {
    if (!socket_)
        return true;
    std::uint32_t wanted = unsent_.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT;
    if (wanted != watched_ &&
        !ConnectionThread::shared().watch(socket_.get(), this, wanted, watched_ != 0))
        return false;
    watched_ = wanted;
    return true;
}

void Channel::disconnect() {
    if (socket_ && watched_ != 0)
        ConnectionThread::shared().unwatch(socket_.get());
    watched_ = 0;
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

void endServiceConnections() {
    ConnectionThread::shared().stop();
}
