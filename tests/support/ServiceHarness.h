#pragma once

#include <chrono>
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
    // Runs `body` in a forked copy of this process, which exits with its result.
    static BackgroundProcess fork(const std::function<int()>& body);

    BackgroundProcess(BackgroundProcess&& other) noexcept;
    BackgroundProcess& operator=(BackgroundProcess&&) = delete;
    ~BackgroundProcess();

    pid_t pid() const { return pid_; }
    // Its exit status once it has ended within `limit` (-1 when a signal ended it);
    // nothing while it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    void kill();
    // Asks it to end, and kills it if it has not within `limit`.
    void terminate(std::chrono::milliseconds limit);

  private:
    explicit BackgroundProcess(pid_t pid) : pid_(pid) {}
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// True once a Unix socket at `path` accepts connections, within `limit`.
bool waitForListener(const std::string& path, std::chrono::milliseconds limit);

// The 4-byte little-endian length that starts a frame.
std::string frameHeader(std::uint32_t length);

// A connection made by hand, for speaking the sensor service's frames directly.
class RawClient {
  public:
    explicit RawClient(const std::string& path);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool isConnected() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }
    bool send(std::string_view bytes);
    // Sends what the socket takes at once; how many bytes that was.
    std::size_t sendWhatFits(std::string_view bytes);
    // The next whole frame's payload; nothing on end of stream, error or time-out.
    std::optional<std::string> readFrame(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // True when the peer closes within `limit`, whatever it sent before.
    bool waitForClose(std::chrono::milliseconds limit);
    void close();

  private:
    int fd_ = -1;
    std::string buffer_;
};
