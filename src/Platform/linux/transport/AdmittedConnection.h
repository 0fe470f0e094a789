#pragma once

#include "../../../Shared/ServiceFrames.h"
#include "../../EventLoop.h"
#include "../../ServiceListener.h"
#include "../system/FileDescriptor.h"
#include "UnixSocket.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

// A client that stops taking its replies stops being read, so that it holds no more
// than this of the agent's memory; its further calls wait in the kernel.
constexpr std::size_t unsentByteLimit = std::size_t{8} * 1024;
constexpr std::size_t unansweredCallLimit = 4;
// Read a few calls at a time, so that one client's calls never queue up ahead of many
// other clients' calls.
constexpr std::size_t readChunk =
    unansweredCallLimit * (frames::headerBytes + frames::fetchSnapshotMethod.size());

// The first bytes of a connection, written by the process that connected before its
// check: that check, made after they were written, stands for theirs.
struct CheckedWithPeer {
    std::size_t bytes = 0;
    pid_t writer = 0;
};

// A client's connection once the listener has admitted it: it greets the client, reads its
// calls, checks each call's writer, and sends the replies back in call order.
class AdmittedConnection final : public IncomingConnection,
                                 public std::enable_shared_from_this<AdmittedConnection> {
  public:
    AdmittedConnection(EventLoop& loop, FileDescriptor fd, const std::string& greeting,
                       const std::string& requirement, CheckedWithPeer checked,
                       std::function<void()> onClosed)
        : loop_(loop), fd_(std::move(fd)), greeting_(greeting), requirement_(requirement),
          checked_(checked), onClosed_(std::move(onClosed)) {}
    ~AdmittedConnection() override {
        if (fd_)
            loop_.unwatch(fd_.get());
    }

    void setExportedObject(SensorServiceProtocol& object) override { exported_ = &object; }
    void resume() override;
    [[nodiscard]] bool isResumed() const { return resumed_; }
    // The caller keeps the connection alive until it returns.
    void close();

  private:
    [[nodiscard]] bool isSaturated() const {
        return unsent_.size() >= unsentByteLimit || answers_.size() >= unansweredCallLimit;
    }
    // Sends what it can and serves the calls already read; reads more only when
    // `readMore`, that is when the loop finds the client's calls waiting.
    void pump(bool readMore);
    void flush();
    void serveBufferedCalls();
    void readCalls();
    [[nodiscard]] bool writerSatisfies(const std::optional<MessageSender>& sender) const;
    void deliver(std::uint64_t call, std::string data);

    EventLoop& loop_;
    FileDescriptor fd_;
    const std::string& greeting_;
    const std::string& requirement_;
    CheckedWithPeer checked_;    // what is left of them to read
    bool pidfdsEnabled_ = false; // wanted by the bytes after them
    std::function<void()> onClosed_;
    SensorServiceProtocol* exported_ = nullptr;
    bool resumed_ = false;
    bool greeted_ = false;
    bool closed_ = false;
    // The client shut down its writing side: it is answered, then closed.
    bool inputEnded_ = false;
    // Calls are all the agent takes, so no frame may be longer than one.
    frames::FrameReader reader_{frames::fetchSnapshotMethod.size()};
    std::string unsent_;
    // One slot per unanswered call, oldest first; replies leave in call order.
    std::deque<std::optional<std::string>> answers_;
    std::uint64_t oldestUnanswered_ = 0;
};
