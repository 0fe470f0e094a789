#pragma once

#include "Result.h"

#include <cerrno>
#include <cstdint>
#include <unistd.h>
#include <utility>

// An owned descriptor, closed with its owner.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// Reads exactly `size` bytes at `offset`; a failure on an error or, without an error
// number, for a file that ends before.
inline Result<void> readAt(int fd, std::uint64_t offset, void* into, std::size_t size) {
    auto* bytes = static_cast<char*>(into);
    while (size > 0) {
        ssize_t got = pread(fd, bytes, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Failure::ofErrno();
        if (got == 0)
            return Failure{};
        bytes += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return {};
}
