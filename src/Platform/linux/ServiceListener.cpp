#include "../ServiceListener.h"

#include "../../Shared/ServiceFrames.h"
#include "../ProcessIdentity.h"
#include "UnixSocket.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

// Where the service manager puts the first socket it passes on.
constexpr int firstPassedDescriptor = 3;
// A client that stops taking its replies stops being read, so it cannot make the agent
// hold an unbounded backlog.
constexpr std::size_t unsentByteLimit = 256 * 1024;
constexpr std::size_t unansweredCallLimit = 16;

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

class ClientConnection final : public IncomingConnection,
                               public std::enable_shared_from_this<ClientConnection> {
  public:
    ClientConnection(EventLoop& loop, FileDescriptor fd, const std::string& greeting,
                     std::function<void()> onClosed)
        : loop_(loop), fd_(std::move(fd)), greeting_(greeting), onClosed_(std::move(onClosed)) {}
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
    void pump();
    void flush();
    void serveBufferedCalls();
    void readCalls();
    void deliver(std::uint64_t call, std::string data);

    EventLoop& loop_;
    FileDescriptor fd_;
    const std::string& greeting_;
    std::function<void()> onClosed_;
    SensorServiceProtocol* exported_ = nullptr;
    bool resumed_ = false;
    bool greeted_ = false;
    bool closed_ = false;
    frames::FrameReader reader_;
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
        if (hungUp && self->isSaturated())
            self->close();
        else
            self->pump();
    });
    // A call sent with the connection is answered before the greeting leaves, so that
    // both leave in one message and the client wakes once.
    readCalls();
    flush();
}

void ClientConnection::close() {
    if (closed_)
        return;
    closed_ = true;
    loop_.unwatch(fd_.get());
    fd_.reset();
    onClosed_();
}

void ClientConnection::pump() {
    auto self = shared_from_this();
    flush();
    serveBufferedCalls();
    readCalls();
    if (!closed_)
        loop_.setInterests(fd_.get(), (isSaturated() ? 0u : EventLoop::readable) |
                                          (unsent_.empty() ? 0u : EventLoop::writable));
}

void ClientConnection::flush() {
    if (!greeted_) {
        if (closed_ || (unsent_.empty() && !answers_.empty()))
            return;
        // The greeting carries our credentials: behind a passed socket, the client's view
        // of its peer names the service manager, not us.
        greeted_ = true;
        if (!sendWithCredentials(fd_.get(), greeting_ + unsent_)) {
            close();
            return;
        }
        unsent_.clear();
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
    char buffer[16384];
    while (!closed_ && !isSaturated()) {
        ssize_t got = recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            reader_.feed(std::string_view(buffer, std::size_t(got)));
            serveBufferedCalls();
        } else if (got < 0 && errno == EAGAIN) {
            return;
        } else if (!(got < 0 && errno == EINTR)) {
            close();
        }
    }
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
    pump();
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
    }

    std::string requirement;
    ServiceListenerDelegate* delegate = nullptr;

    void resume();

  private:
    void acceptAll();
    void admit(FileDescriptor fd);
    void connectionClosed(std::uint64_t number);

    EventLoop& loop_;
    std::string serviceName_;
    std::string greeting_;
    FileDescriptor socket_;
    bool acceptingPaused_ = false;
    std::unordered_map<std::uint64_t, std::shared_ptr<ClientConnection>> connections_;
    std::uint64_t connectionsMade_ = 0;
};

void ServiceListener::Impl::resume() {
    if (socket_)
        return;
    socket_ = passedSocket();
    if (!socket_) {
        if (auto path = serviceSocketPath(serviceName_))
            socket_ = boundSocket(*path);
    }
    if (socket_)
        loop_.watch(socket_.get(), EventLoop::readable, [this](bool) { acceptAll(); });
}

void ServiceListener::Impl::acceptAll() {
    for (;;) {
        int fd = accept4(socket_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            admit(FileDescriptor(fd));
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        // Out of descriptors or memory: wait for a connection to close rather than spin.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            acceptingPaused_ = true;
            loop_.setInterests(socket_.get(), 0);
        }
        return;
    }
}

void ServiceListener::Impl::admit(FileDescriptor fd) {
    // Before the delegate hears of it. Without a requirement nobody is admitted.
    if (!socketPeerSatisfies(fd.get(), requirement))
        return;
    std::uint64_t number = connectionsMade_++;
    auto connection = std::make_shared<ClientConnection>(
        loop_, std::move(fd), greeting_, [this, number] { connectionClosed(number); });
    connections_.emplace(number, connection);
    if (!delegate || !delegate->shouldAcceptNewConnection(*connection) || !connection->isResumed())
        connection->close();
}

void ServiceListener::Impl::connectionClosed(std::uint64_t number) {
    connections_.erase(number);
    if (acceptingPaused_) {
        acceptingPaused_ = false;
        loop_.setInterests(socket_.get(), EventLoop::readable);
    }
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
