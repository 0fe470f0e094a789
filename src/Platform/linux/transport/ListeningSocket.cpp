#include "ListeningSocket.h"

#include "UnixSocket.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the service manager puts the first socket it passes on.
constexpr int firstPassedDescriptor = 3;

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

// Whether some process is listening behind the socket file. When that cannot be told,
// the answer is yes, so the file is left alone.
[[nodiscard]] bool hasListener(const sockaddr_un& address) {
    FileDescriptor probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!probe)
        return true;
    if (connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    return errno != ECONNREFUSED && errno != ENOENT;
}

} // namespace

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

Result<FileDescriptor> boundSocket(const std::string& path) {
    auto address = unixAddress(path);
    if (!address)
        return address.failure();
    // Held while the file is judged and replaced, so that of two agents starting at once
    // neither can take the other's fresh socket for a stale one.
    std::string directory = path.substr(0, path.rfind('/'));
    FileDescriptor directoryLock(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directoryLock || flock(directoryLock.get(), LOCK_EX) != 0)
        return Failure::ofErrno();

    FileDescriptor listening(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listening)
        return Failure::ofErrno();
    auto bindPath = [&] {
        return bind(listening.get(), reinterpret_cast<const sockaddr*>(&*address),
                    sizeof *address) == 0;
    };
    if (!bindPath()) {
        struct stat info {};
        if (errno != EADDRINUSE)
            return Failure::ofErrno();
        if (lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || hasListener(*address))
            return Failure{EADDRINUSE};
        if (unlink(path.c_str()) != 0 || !bindPath())
            return Failure::ofErrno();
    }
    if (chmod(path.c_str(), 0600) != 0 || listen(listening.get(), SOMAXCONN) != 0)
        return Failure::ofErrno();
    return listening;
}
