#pragma once

#include "../../../Shared/ServiceContract.h"
#include "../../../Shared/ServiceFrames.h"
#include "../../ServiceConnection.h"
#include "../system/FileDescriptor.h"
#include "ConnectionThread.h"
#include "UnixSocket.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>

// One call made on a connection, with where its reply and its failure go.
struct PendingCall {
    std::function<void(ReplyBytes data)> reply;
    std::function<void(const ConnectionError&)> errorHandler;
};

// Everything a connection shares between its owner, its proxies and the connection thread.
class ClientChannel : public std::enable_shared_from_this<ClientChannel> {
  public:
    explicit ClientChannel(std::string serviceName) : serviceName_(std::move(serviceName)) {}

    void setRequirement(std::string requirement) {
        std::lock_guard lock(mutex_);
        requirement_ = std::move(requirement);
    }
    // The handler replaced goes when the call returns, outside the lock: it may hold the
    // last reference to whatever owns this connection.
    void setInterruptionHandler(std::function<void()> handler) {
        std::lock_guard lock(mutex_);
        interruptionHandler_.swap(handler);
    }
    void setInvalidationHandler(std::function<void()> handler) {
        std::lock_guard lock(mutex_);
        invalidationHandler_.swap(handler);
    }
    void resume();
    void submit(PendingCall call);
    void invalidate();

    // What a turn on the connection thread left to wait for.
    enum class Turn { events, roomInBacklog, ended };
    Turn turn(std::uint32_t events);
    // Once, after the turn that ended the connection.
    void end();

  private:
    enum class Connect { connected, backlogFull, failed };
    Connect connectToService();
    Result<void> watchSocket();
    void queueUnconnectedCalls();
    void disconnect();
    void writeRequests();
    // Each false once the connection is invalid: a verdict on the peer, not a failure.
    [[nodiscard]] bool readReplies();
    [[nodiscard]] bool replyToOldestCall(ReplyBytes data);
    [[nodiscard]] bool peerSatisfiesRequirement(const MessageSender& peer);
    [[nodiscard]] bool peerClosed();
    void failCallsInFlight(int code);
    [[nodiscard]] bool isInvalidated() {
        std::lock_guard lock(mutex_);
        return invalidated_;
    }
    // Gives the connection thread a turn on this channel. The first call of a resumed
    // channel is connected and sent from the caller's thread first, so that the service
    // works on it while the connection thread wakes, not after.
    void signal() {
        bool start = false;
        {
            std::lock_guard lock(mutex_);
            if (!resumed_ || starting_)
                return; // a caller starting it hands it over when done
            start = !handedOver_ && !invalidated_ && !submitted_.empty();
            starting_ = start;
            handedOver_ = true;
        }
        if (start) {
            startOnCallersThread();
            std::lock_guard lock(mutex_);
            starting_ = false;
        }
        ConnectionThread::shared().wake(shared_from_this());
    }
    void startOnCallersThread();

    const std::string serviceName_;

    std::mutex mutex_; // guards the fields below
    std::string requirement_;
    std::function<void()> interruptionHandler_;
    std::function<void()> invalidationHandler_;
    std::deque<PendingCall> submitted_;
    bool resumed_ = false;
    bool invalidated_ = false;
    // Until the connection thread first hears of the channel, the fields it alone uses
    // below are free for a caller that starts the channel; starting_ while one does.
    bool handedOver_ = false;
    bool starting_ = false;

    // The connection thread alone uses these.
    FileDescriptor socket_;
    std::uint32_t watched_ = 0; // the socket's events watched, none before it is added
    frames::FrameReader reader_{contract::largestReplyBytes};
    bool peerVerified_ = false;
    pid_t agent_ = 0;                     // the greeting's sender, once verified
    std::deque<PendingCall> unconnected_; // taken while there was no connection yet
    std::string unsent_;
    std::deque<PendingCall> inFlight_;
    bool ended_ = false;
};
