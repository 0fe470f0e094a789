#include "ServiceHarness.h"

#include "Shared/ServiceContract.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    path.copy(address.sun_path, path.size());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

RuntimeDirectory::RuntimeDirectory() {
    std::string pattern = "/tmp/corvane-run-XXXXXX";
    if (mkdtemp(pattern.data()))
        path_ = pattern;
    if (const char* previous = std::getenv("XDG_RUNTIME_DIR"))
        previous_ = previous;
    setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
}

RuntimeDirectory::~RuntimeDirectory() {
    if (previous_)
        setenv("XDG_RUNTIME_DIR", previous_->c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string RuntimeDirectory::socketPath() const {
    return (path_ / std::string(contract::sensorMachServiceName)).string();
}

BackgroundProcess BackgroundProcess::spawn(const std::string& program,
                                           std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        pid = -1;
    return BackgroundProcess(pid);
}

BackgroundProcess BackgroundProcess::fork(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0)
        _exit(body());
    return BackgroundProcess(pid);
}

BackgroundProcess::BackgroundProcess(BackgroundProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), reaped_(other.reaped_), status_(other.status_) {}

BackgroundProcess::~BackgroundProcess() {
    kill();
}

std::optional<int> BackgroundProcess::waitForExit(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0 && !reaped_) {
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            reaped_ = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
    if (!reaped_)
        return std::nullopt;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void BackgroundProcess::kill() {
    if (pid_ <= 0 || reaped_)
        return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    reaped_ = true;
}

void BackgroundProcess::terminate(std::chrono::milliseconds limit) {
    if (pid_ <= 0 || reaped_)
        return;
    ::kill(pid_, SIGTERM);
    if (!waitForExit(limit))
        kill();
}

bool waitForListener(const std::string& path, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int fd = connectTo(path);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

std::string frameHeader(std::uint32_t length) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(char((length >> shift) & 0xFF));
    return bytes;
}

RawClient::RawClient(const std::string& path) : fd_(connectTo(path)) {}

RawClient::~RawClient() {
    close();
}

bool RawClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(std::size_t(sent));
    }
    return true;
}

std::size_t RawClient::sendWhatFits(std::string_view bytes) {
    ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent > 0 ? std::size_t(sent) : 0;
}

std::optional<std::string> RawClient::readFrame(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (buffer_.size() >= 4) {
            std::uint32_t length = 0;
            for (int i = 0; i < 4; ++i)
                length |= std::uint32_t(static_cast<unsigned char>(buffer_[i])) << (8 * i);
            if (buffer_.size() - 4 >= length) {
                std::string payload = buffer_.substr(4, length);
                buffer_.erase(0, 4 + length);
                return payload;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, int(left.count())) <= 0)
            return std::nullopt;
        char chunk[65536];
        ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0)
            return std::nullopt;
        buffer_.append(chunk, std::size_t(got));
    }
}

bool RawClient::waitForClose(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, int(left.count())) <= 0)
            return false;
        char chunk[65536];
        ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
        if (got == 0 || (got < 0 && errno == ECONNRESET))
            return true;
        if (got < 0)
            return false;
    }
}

void RawClient::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
