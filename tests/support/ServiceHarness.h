#pragma once

#include "Platform/linux/transport/UnixSocket.h"
#include "Shared/ServiceFrames.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// A fresh runtime directory that is this process's XDG_RUNTIME_DIR while the object
// lives, so no test touches a person's session. Set it before starting threads.
class RuntimeDirectory {
  public:
    RuntimeDirectory();
    ~RuntimeDirectory();
    RuntimeDirectory(const RuntimeDirectory&) = delete;
    RuntimeDirectory& operator=(const RuntimeDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Where the sensor service listens.
    std::string socketPath() const;

  private:
    std::filesystem::path path_;
    std::optional<std::string> previous_;
};

// A child process, killed and reaped when the object goes.
class BackgroundProcess {
  public:
    // argv[0] is the program's path.
    static BackgroundProcess spawn(const std::string& program,
                                   std::vector<std::string> arguments = {});
    // Runs `body` in a forked copy of this process, which exits with its result. Each
    // process leads a process group of its own.
    static BackgroundProcess fork(const std::function<int()>& body);

    BackgroundProcess(BackgroundProcess&& other) noexcept;
    BackgroundProcess& operator=(BackgroundProcess&&) = delete;
    ~BackgroundProcess() { kill(); }

    pid_t pid() const { return pid_; }
    // Its exit status once it has ended within `limit` (-1 when a signal ended it).
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    // Kills it and everything it started, and waits until all are gone.
    void kill();
    // Asks it to end, and kills it if it has not within `limit`.
    void terminate(std::chrono::milliseconds limit);

  private:
    explicit BackgroundProcess(pid_t pid) : pid_(pid) {}
    static void adoptOrphans();
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

struct ChildResult {
    std::string out;
    std::string err;
    int exitStatus = -1; // -1 when it did not exit normally, or not within its limit
};

// Runs program with argv[0] = arguments[0]; a child still running after `limit` is killed.
ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds limit = std::chrono::seconds(10));

// True once a Unix socket at `path` accepts connections, within `limit`.
bool waitForListener(const std::string& path, std::chrono::milliseconds limit);

// The 4-byte little-endian length that starts a frame, also for lengths no frame may have.
inline std::string frameHeader(std::uint32_t length) {
    return {char(length), char(length >> 8), char(length >> 16), char(length >> 24)};
}

// A connection made by hand, for speaking the sensor service's frames directly.
class RawClient {
  public:
    explicit RawClient(const std::string& path);

    int descriptor() const { return fd_.get(); }
    bool send(std::string_view bytes);
    // The next whole frame's payload; nothing on end of stream, error or time-out.
    std::optional<std::string> readFrame(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Whether the peer has closed, as the last read found.
    bool peerClosed() const { return peerClosed_; }

  private:
    FileDescriptor fd_;
    bool peerClosed_ = false;
    frames::FrameReader reader_;
};
