#include "ServiceHarness.h"

#include "Shared/ServiceContract.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

using namespace std::chrono_literals;

namespace {

FileDescriptor connectTo(const std::string& path) {
    FileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    auto address = unixAddress(path);
    if (!address || connect(fd.get(), reinterpret_cast<sockaddr*>(&*address), sizeof *address) != 0)
        fd.reset();
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
    std::filesystem::remove_all(path_, error);
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
    adoptOrphans();
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv.data(), environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    return BackgroundProcess(pid);
}

BackgroundProcess BackgroundProcess::fork(const std::function<int()>& body) {
    adoptOrphans();
    pid_t pid = ::fork();
    if (pid == 0) {
        setpgid(0, 0);
        _exit(body());
    }
    setpgid(pid, pid); // whichever of the two comes first
    return BackgroundProcess(pid);
}

// The children a killed process leaves behind come to us, so that kill() can reap them
// however the machine's first process treats orphans.
void BackgroundProcess::adoptOrphans() {
    [[maybe_unused]] static const bool adopting = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
}

BackgroundProcess::BackgroundProcess(BackgroundProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), reaped_(other.reaped_), status_(other.status_) {}

std::optional<int> BackgroundProcess::waitForExit(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0 && !reaped_ && waitpid(pid_, &status_, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
    reaped_ = pid_ > 0;
    if (!reaped_)
        return std::nullopt;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

// The whole group: a child the process forked (an agent's verifier, say) would otherwise
// live on with its descriptors, the agent's listening socket among them.
void BackgroundProcess::kill() {
    if (pid_ <= 0 || reaped_ || (::kill(-pid_, SIGKILL) != 0 && ::kill(pid_, SIGKILL) != 0))
        return;
    waitForExit(10s);
    auto deadline = std::chrono::steady_clock::now() + 10s;
    for (int status = 0; std::chrono::steady_clock::now() < deadline;) {
        pid_t reaped = waitpid(-pid_, &status, WNOHANG);
        if (reaped < 0)
            return; // none left
        if (reaped == 0)
            std::this_thread::sleep_for(1ms);
    }
}

void BackgroundProcess::terminate(std::chrono::milliseconds limit) {
    if (pid_ > 0 && !reaped_ && ::kill(pid_, SIGTERM) == 0 && !waitForExit(limit))
        kill();
}

// The streams go to memory files rather than pipes, so a child never blocks on a full pipe.
ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds limit) {
    int out = memfd_create("out", MFD_CLOEXEC), err = memfd_create("err", MFD_CLOEXEC);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    auto child = BackgroundProcess::fork([&] { // only system calls: we may have threads
        if (dup2(out, STDOUT_FILENO) >= 0 && dup2(err, STDERR_FILENO) >= 0)
            execve(program.c_str(), argv.data(), environ);
        return 127;
    });
    auto status = child.waitForExit(limit);
    child.kill();
    // Everything written to a memory file, read from its start through a fresh opening.
    auto contents = [](int fd) {
        std::ifstream file("/proc/self/fd/" + std::to_string(fd), std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        close(fd);
        return text;
    };
    return {contents(out), contents(err), status.value_or(-1)};
}

bool waitForListener(const std::string& path, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!connectTo(path)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

RawClient::RawClient(const std::string& path) : fd_(connectTo(path)) {}

bool RawClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(std::size_t(sent));
    }
    return true;
}

std::optional<std::string> RawClient::readFrame(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::optional<std::string> frame;
    while (!(frame = reader_.nextFrame())) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
        pollfd ready{fd_.get(), POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, int(left.count())) <= 0)
            return std::nullopt;
        char chunk[65536];
        ssize_t got = recv(fd_.get(), chunk, sizeof chunk, 0);
        peerClosed_ = got == 0 || (got < 0 && errno == ECONNRESET);
        if (got <= 0)
            return std::nullopt;
        reader_.feed(std::string_view(chunk, std::size_t(got)));
    }
    return frame;
}
