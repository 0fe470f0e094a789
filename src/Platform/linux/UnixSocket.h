#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <utility>

// An owned descriptor, closed with its owner.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// "$XDG_RUNTIME_DIR/<serviceName>"; nothing without an absolute runtime directory or
// when the path does not fit a socket address.
std::optional<std::string> serviceSocketPath(std::string_view serviceName);

// Nothing when the path does not fit.
std::optional<sockaddr_un> unixAddress(const std::string& path);

// Sends all of `bytes` in one message that carries this process's credentials, which
// the kernel vouches for. False when not all could be sent at once.
bool sendWithCredentials(int fd, std::string_view bytes);
