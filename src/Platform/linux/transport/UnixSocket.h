#pragma once

#include "../system/FileDescriptor.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <utility>

// "$XDG_RUNTIME_DIR/<serviceName>"; nothing without an absolute runtime directory or
// when the path does not fit a socket address.
std::optional<std::string> serviceSocketPath(std::string_view serviceName);

// Nothing when the path does not fit.
std::optional<sockaddr_un> unixAddress(const std::string& path);

// Asks the kernel to attach to every message `fd` receives its sender's credentials and,
// where the kernel offers it (Linux 6.5), a pidfd for the sender. False when it cannot.
bool enableSenderRecords(int fd);
// The same in two steps. The kernel makes each pidfd as a message is received, from the
// sender it recorded when the message was sent.
bool enableSenderCredentials(int fd);
bool enableSenderPidfds(int fd);

// Who wrote a message, as the kernel recorded it when the message was sent.
struct MessageSender {
    pid_t pid = 0;
    uid_t uid = 0;
    FileDescriptor pidfd; // none from a kernel that offers none
};

// Receives like recv, and who sent what it received: a stream socket never hands over
// the bytes of two senders in one read. `sender` is empty when the bytes came without
// credentials, with a pidfd the kernel could not make, or with anything else attached
// (descriptors passed along are closed).
ssize_t receiveWithSender(int fd, char* buffer, std::size_t size,
                          std::optional<MessageSender>& sender);

// Looks at the bytes waiting first in `fd` without taking them: how many one read would
// take (up to `size`), and who wrote them, as receiveWithSender tells it. 0 when the peer
// closed without writing; below 0 when nothing waits or on error (errno).
ssize_t peekWithSender(int fd, char* buffer, std::size_t size,
                       std::optional<MessageSender>& sender);
