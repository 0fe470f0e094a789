#include "UnixSocket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

// Linux 6.5; older C libraries lack the names.
#ifndef SO_PASSPIDFD
#define SO_PASSPIDFD 76
#endif
#ifndef SCM_PIDFD
#define SCM_PIDFD 0x04
#endif

Result<std::string> serviceSocketPath(std::string_view serviceName) {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (!runtimeDir || runtimeDir[0] != '/')
        return Failure{ENOENT};
    std::string path = std::string(runtimeDir) + "/" + std::string(serviceName);
    if (auto address = unixAddress(path); !address)
        return address.failure();
    return path;
}

Result<sockaddr_un> unixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return Failure{ENAMETOOLONG};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

Result<void> enableSenderCredentials(int fd) {
    int enable = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &enable, sizeof enable) != 0)
        return Failure::ofErrno();
    return {};
}

Result<void> enableSenderPidfds(int fd) {
    int enable = 1;
    // An older kernel gives credentials alone; their pid is then held once checked.
    if (setsockopt(fd, SOL_SOCKET, SO_PASSPIDFD, &enable, sizeof enable) != 0 &&
        errno != ENOPROTOOPT)
        return Failure::ofErrno();
    return {};
}

Result<void> enableSenderRecords(int fd) {
    if (auto credentials = enableSenderCredentials(fd); !credentials)
        return credentials;
    return enableSenderPidfds(fd);
}

namespace {

// Who sent `message`, from what the kernel attached to it: nothing when its credentials
// are missing, were cut short, or came with anything else. Descriptors passed along
// are closed.
std::optional<MessageSender> senderOf(msghdr& message) {
    MessageSender from;
    bool credited = false, trusted = !(message.msg_flags & MSG_CTRUNC);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        const std::size_t length = header->cmsg_len - CMSG_LEN(0);
        if (header->cmsg_level != SOL_SOCKET) {
            trusted = false;
        } else if (header->cmsg_type == SCM_CREDENTIALS && length == sizeof(ucred)) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            from.pid = credentials.pid;
            from.uid = credentials.uid;
            credited = true;
        } else if (header->cmsg_type == SCM_PIDFD && length == sizeof(int)) {
            int pidfd = -1;
            std::memcpy(&pidfd, CMSG_DATA(header), sizeof pidfd);
            from.pidfd.reset(pidfd);
            trusted = trusted && pidfd >= 0; // below zero: the kernel could not make one
        } else {
            if (header->cmsg_type == SCM_RIGHTS)
                for (std::size_t at = 0; at + sizeof(int) <= length; at += sizeof(int)) {
                    int passed = -1;
                    std::memcpy(&passed, CMSG_DATA(header) + at, sizeof passed);
                    close(passed);
                }
            trusted = false;
        }
    }
    if (!credited || !trusted)
        return std::nullopt;
    return from;
}

Result<Received> receive(int fd, char* buffer, std::size_t size, int flags) {
    // Room for credentials and a pidfd; anything more arrives cut short.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(sizeof(int))];
    iovec data{buffer, size};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got = recvmsg(fd, &message, flags | MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (got < 0)
        return Failure::ofErrno();
    if (got == 0)
        return Received{};
    return Received{std::size_t(got), senderOf(message)};
}

} // namespace

Result<Received> receiveWithSender(int fd, char* buffer, std::size_t size) {
    return receive(fd, buffer, size, 0);
}

Result<Received> peekWithSender(int fd, char* buffer, std::size_t size) {
    return receive(fd, buffer, size, MSG_PEEK);
}
