#include "UnixSocket.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

std::optional<std::string> serviceSocketPath(std::string_view serviceName) {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (!runtimeDir || runtimeDir[0] != '/')
        return std::nullopt;
    std::string path = std::string(runtimeDir) + "/" + std::string(serviceName);
    if (!unixAddress(path))
        return std::nullopt;
    return path;
}

std::optional<sockaddr_un> unixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

bool sendWithCredentials(int fd, std::string_view bytes) {
    ucred credentials{getpid(), geteuid(), getegid()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))] = {};
    iovec data{const_cast<char*>(bytes.data()), bytes.size()};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_CREDENTIALS;
    header->cmsg_len = CMSG_LEN(sizeof(ucred));
    std::memcpy(CMSG_DATA(header), &credentials, sizeof credentials);
    ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent == ssize_t(bytes.size());
}
