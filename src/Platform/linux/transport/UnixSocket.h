#pragma once

#include "../system/FileDescriptor.h"
#include "../system/Result.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <utility>

// "$XDG_RUNTIME_DIR/<serviceName>"; a failure without an absolute runtime directory or
// when the path does not fit a socket address.
Result<std::string> serviceSocketPath(std::string_view serviceName);

// A failure when the path does not fit.
Result<sockaddr_un> unixAddress(const std::string& path);

// Asks the kernel to attach to every message `fd` receives its sender's credentials and,
// where the kernel offers it (Linux 6.5), a pidfd for the sender.
Result<void> enableSenderRecords(int fd);
// The same in two steps. The kernel makes each pidfd as a message is received, from the
// sender it recorded when the message was sent.
Result<void> enableSenderCredentials(int fd);
Result<void> enableSenderPidfds(int fd);

// Who wrote a message, as the kernel recorded it when the message was sent.
struct MessageSender {
    pid_t pid = 0;
    uid_t uid = 0;
    FileDescriptor pidfd; // none from a kernel that offers none
};

// What one read took: how many bytes (0 when the peer closed), and who sent them.
struct Received {
    std::size_t size = 0;
    std::optional<MessageSender> sender;
};

// Receives like recv, without waiting, and who sent what it received: a stream socket
// never hands over the bytes of two senders in one read. The sender is absent when the
// bytes came without credentials, with a pidfd the kernel could not make, or with
// anything else attached (descriptors passed along are closed). EAGAIN when nothing waits.
Result<Received> receiveWithSender(int fd, char* buffer, std::size_t size);

// Looks at the bytes waiting first in `fd` without taking them: how many one read would
// take (up to `size`), and who wrote them, as receiveWithSender tells it.
Result<Received> peekWithSender(int fd, char* buffer, std::size_t size);
