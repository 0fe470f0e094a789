#include "../ServiceListener.h"

#include "../../Shared/ServiceFrames.h"
#include "../ProcessIdentity.h"
#include "UnixSocket.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <malloc.h>
#include <optional>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <unordered_map>

namespace {

// Where the service manager puts the first socket it passes on.
constexpr int firstPassedDescriptor = 3;
// Open connections at most, so that whatever clients do, neither descriptors nor memory
// run out; further clients wait in the listen backlog until one closes.
constexpr std::size_t connectionLimit = 256;
// Descriptors left for everything else: readings, identity checks, the loop's own.
constexpr rlim_t reservedDescriptors = 32;
// Connections taken from the backlog before the open ones are served again, so that a
// flood of connections cannot keep a waiting call from its reply.
constexpr int acceptBatch = 32;
// A client that stops taking its replies stops being read, so that it holds no more
// than this of the agent's memory; its further calls wait in the kernel.
constexpr std::size_t unsentByteLimit = std::size_t{8} * 1024;
constexpr std::size_t unansweredCallLimit = 4;
// Read a few calls at a time, so that one client's calls never queue up ahead of many
// other clients' calls.
constexpr std::size_t readChunk =
    unansweredCallLimit * (frames::headerBytes + frames::fetchSnapshotMethod.size());
// How long a check or an accept that ran short of descriptors or memory waits to retry.
constexpr long retryNanoseconds = 50'000'000;

// The soft limit on open files, raised as far as the hard limit allows.
rlim_t raiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur;
}

bool isShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

std::optional<long> environmentNumber(const char* name) {
    const char* text = std::getenv(name);
    if (!text)
        return std::nullopt;
    std::string_view view(text);
    long value = 0;
    auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (error != std::errc() || end != view.data() + view.size())
        return std::nullopt;
    return value;
}

// The listening socket the service manager passed on when it started this process.
FileDescriptor passedSocket() {
    auto pid = environmentNumber("LISTEN_PID");
    auto count = environmentNumber("LISTEN_FDS");
    if (!pid || !count || *pid != getpid() || *count < 1)
        return {};
    int accepting = 0;
    socklen_t length = sizeof accepting;
    if (getsockopt(firstPassedDescriptor, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) != 0 ||
        !accepting)
        return {};
    fcntl(firstPassedDescriptor, F_SETFD, FD_CLOEXEC);
    fcntl(firstPassedDescriptor, F_SETFL, fcntl(firstPassedDescriptor, F_GETFL) | O_NONBLOCK);
    return FileDescriptor(firstPassedDescriptor);
}

// Whether some process is listening behind the socket file. When that cannot be told,
// the answer is yes, so the file is left alone.
bool hasListener(const sockaddr_un& address) {
    FileDescriptor probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!probe)
        return true;
    if (connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    return errno != ECONNREFUSED && errno != ENOENT;
}

// Binds the path, replacing a socket file nobody listens on, never a live one or a file
// of another kind.
FileDescriptor boundSocket(const std::string& path) {
    auto address = unixAddress(path);
    if (!address)
        return {};
    // Held while the file is judged and replaced, so that of two agents starting at once
    // neither can take the other's fresh socket for a stale one.
    std::string directory = path.substr(0, path.rfind('/'));
    FileDescriptor directoryLock(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directoryLock || flock(directoryLock.get(), LOCK_EX) != 0)
        return {};

    FileDescriptor listening(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listening)
        return {};
    auto bindPath = [&] {
        return bind(listening.get(), reinterpret_cast<const sockaddr*>(&*address),
                    sizeof *address) == 0;
    };
    if (!bindPath()) {
        struct stat info {};
        if (errno != EADDRINUSE || lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) ||
            hasListener(*address))
            return {};
        if (unlink(path.c_str()) != 0 || !bindPath())
            return {};
    }
    if (chmod(path.c_str(), 0600) != 0 || listen(listening.get(), SOMAXCONN) != 0)
        return {};
    return listening;
}

// The first bytes of a connection, written by the process that connected before its
// check: that check, made after they were written, stands for theirs.
struct CheckedWithPeer {
    std::size_t bytes = 0;
    pid_t writer = 0;
};

class ClientConnection final : public IncomingConnection,
                               public std::enable_shared_from_this<ClientConnection> {
  public:
    ClientConnection(EventLoop& loop, FileDescriptor fd, const std::string& greeting,
                     const std::string& requirement, CheckedWithPeer checked,
                     std::function<void()> onClosed)
        : loop_(loop), fd_(std::move(fd)), greeting_(greeting), requirement_(requirement),
          checked_(checked), onClosed_(std::move(onClosed)) {}
    ~ClientConnection() override {
        if (fd_)
            loop_.unwatch(fd_.get());
    }

    void setExportedObject(SensorServiceProtocol& object) override { exported_ = &object; }
    void resume() override;
    bool isResumed() const { return resumed_; }
    // The caller keeps the connection alive until it returns.
    void close();

  private:
    bool isSaturated() const {
        return unsent_.size() >= unsentByteLimit || answers_.size() >= unansweredCallLimit;
    }
    // Sends what it can and serves the calls already read; reads more only when
    // `readMore`, that is when the loop finds the client's calls waiting.
    void pump(bool readMore);
    void flush();
    void serveBufferedCalls();
    void readCalls();
    bool writerSatisfies(const std::optional<MessageSender>& sender) const;
    void deliver(std::uint64_t call, std::string data);

    EventLoop& loop_;
    FileDescriptor fd_;
    const std::string& greeting_;
    const std::string& requirement_;
    CheckedWithPeer checked_;    // what is left of them to read
    bool pidfdsEnabled_ = false; // wanted by the bytes after them
    std::function<void()> onClosed_;
    SensorServiceProtocol* exported_ = nullptr;
    bool resumed_ = false;
    bool greeted_ = false;
    bool closed_ = false;
    // The client shut down its writing side: it is answered, then closed.
    bool inputEnded_ = false;
    // Calls are all the agent takes, so no frame may be longer than one.
    frames::FrameReader reader_{frames::fetchSnapshotMethod.size()};
    std::string unsent_;
    // One slot per unanswered call, oldest first; replies leave in call order.
    std::deque<std::optional<std::string>> answers_;
    std::uint64_t oldestUnanswered_ = 0;
};

void ClientConnection::resume() {
    if (resumed_ || closed_)
        return;
    resumed_ = true;
    loop_.watch(fd_.get(), EventLoop::readable, [weak = weak_from_this()](bool hungUp) {
        auto self = weak.lock();
        if (!self)
            return;
        // Gone both ways: nobody is left to take a reply.
        if (hungUp)
            self->close();
        else
            self->pump(true);
    });
    // A call sent with the connection is answered before the greeting leaves, so that
    // both leave in one message and the client wakes once.
    readCalls();
    pump(false);
}

void ClientConnection::close() {
    if (closed_)
        return;
    closed_ = true;
    loop_.unwatch(fd_.get());
    fd_.reset();
    onClosed_();
}

void ClientConnection::pump(bool readMore) {
    auto self = shared_from_this();
    flush();
    serveBufferedCalls();
    if (readMore)
        readCalls();
    if (!closed_ && inputEnded_ && answers_.empty() && unsent_.empty())
        close();
    if (!closed_)
        loop_.setInterests(fd_.get(), (isSaturated() || inputEnded_ ? 0u : EventLoop::readable) |
                                          (unsent_.empty() ? 0u : EventLoop::writable));
}

void ClientConnection::flush() {
    if (!greeted_) {
        if (closed_ || (unsent_.empty() && !answers_.empty()))
            return;
        // The kernel records our credentials with the greeting, as the client asks before
        // it connects: behind a passed socket, its view of its peer names the service
        // manager, not us. Sent like any reply, so a burst too large for one send is not
        // taken for a failure.
        greeted_ = true;
        unsent_.insert(0, greeting_);
    }
    while (!closed_ && !unsent_.empty()) {
        ssize_t sent = send(fd_.get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0)
            unsent_.erase(0, std::size_t(sent));
        else if (sent < 0 && errno == EAGAIN)
            return;
        else if (!(sent < 0 && errno == EINTR))
            close();
    }
    // What a burst of replies grew goes back.
    unsent_.shrink_to_fit();
}

void ClientConnection::serveBufferedCalls() {
    while (!closed_ && !isSaturated()) {
        auto frame = reader_.nextFrame();
        if (!frame) {
            if (reader_.isBroken())
                close();
            return;
        }
        if (*frame != frames::fetchSnapshotMethod || !exported_) {
            close();
            return;
        }
        std::uint64_t call = oldestUnanswered_ + answers_.size();
        answers_.emplace_back();
        exported_->fetchSnapshotWithReply([weak = weak_from_this(), call](std::string data) {
            if (auto self = weak.lock())
                self->deliver(call, std::move(data));
        });
    }
}

void ClientConnection::readCalls() {
    char buffer[readChunk];
    while (!closed_ && !inputEnded_ && !isSaturated()) {
        // Bytes checked with the peer are read apart from any that came after them, and
        // need no pidfd; every later writer is checked with its own.
        const bool checkedBytes = checked_.bytes > 0;
        if (!checkedBytes && !pidfdsEnabled_) {
            pidfdsEnabled_ = enableSenderPidfds(fd_.get());
            if (!pidfdsEnabled_) {
                close();
                return;
            }
        }
        std::optional<MessageSender> sender;
        std::size_t wanted = checkedBytes ? std::min(checked_.bytes, sizeof buffer) : sizeof buffer;
        ssize_t got = receiveWithSender(fd_.get(), buffer, wanted, sender);
        if (got > 0 && checkedBytes)
            checked_.bytes -= std::size_t(got); // no more than wanted
        // Nothing can come before the bytes looked at: they are the checked ones.
        bool admitted = got > 0 && (checkedBytes ? sender && sender->pid == checked_.writer
                                                 : writerSatisfies(sender));
        if (got > 0 && !admitted) { // NOLINT(bugprone-branch-clone): ends as a failed read does
            close();
        } else if (got > 0) {
            reader_.feed(std::string_view(buffer, std::size_t(got)));
            serveBufferedCalls();
            // A short read took all there was; the loop tells when more comes.
            if (std::size_t(got) < sizeof buffer)
                return;
        } else if (got == 0) {
            inputEnded_ = true;
        } else if (errno == EAGAIN) {
            return;
        } else if (errno != EINTR) {
            close();
        }
    }
}

// The process that wrote the bytes must satisfy the requirement, whoever connected: the
// connection may be shared with, or handed to, another process.
bool ClientConnection::writerSatisfies(const std::optional<MessageSender>& sender) const {
    return sender && checkPeer(sender->pid, sender->uid, requirement_, sender->pidfd.get()) ==
                         PeerCheck::satisfied;
}

void ClientConnection::deliver(std::uint64_t call, std::string data) {
    if (closed_ || call < oldestUnanswered_ || call - oldestUnanswered_ >= answers_.size())
        return;
    auto& slot = answers_[call - oldestUnanswered_];
    if (slot)
        return;
    slot = std::move(data);
    while (!answers_.empty() && answers_.front()) {
        auto frame = frames::encodeFrame(*answers_.front());
        if (!frame) {
            close();
            return;
        }
        unsent_ += *frame;
        answers_.pop_front();
        ++oldestUnanswered_;
    }
    pump(false);
}

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
    bool admit(FileDescriptor& fd);
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
    std::unordered_map<std::uint64_t, std::shared_ptr<ClientConnection>> connections_;
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
            socket_ = boundSocket(*path);
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
        } else if (isShortage(errno)) {
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
    std::optional<MessageSender> writer;
    ssize_t written = peekWithSender(fd.get(), waiting, sizeof waiting, writer);
    // A peer that has already hung up without sending a byte: no call to answer.
    if (written == 0) {
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
    if (written > 0 && writer && writer->pid == peer.pid && writer->uid == peer.uid)
        checked = {std::size_t(written), peer.pid};
    std::uint64_t number = connectionsMade_++;
    auto connection =
        std::make_shared<ClientConnection>(loop_, std::move(fd), greeting_, requirement, checked,
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
