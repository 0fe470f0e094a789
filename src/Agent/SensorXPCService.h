#pragma once

#include "../Platform/SerialQueue.h"
#include "../Platform/ServiceListener.h"
#include "Collector.h"

#include <chrono>
#include <functional>
#include <memory>

// The agent's one service object: it accepts every connection the listener admits,
// answers each call with a freshly collected snapshot, and ends the process once
// nobody has used it for a while. All of its work runs on `queue()`.
class SensorXPCService final : public ServiceListenerDelegate, public SensorServiceProtocol {
  public:
    static constexpr std::string_view queueLabel = "com.quillmarsh.CorvanePlugin.sensors";
    static constexpr std::chrono::seconds idleExitDelay{30};

    SensorXPCService(SnapshotSources sources, QueueClock clock,
                     std::function<void(int status)> exitProcess);

    SerialQueue& queue() { return queue_; }

    bool shouldAcceptNewConnection(IncomingConnection& connection) override;
    void fetchSnapshotWithReply(std::function<void(std::string data)> reply) override;

  private:
    void sendSnapshot(const std::function<void(std::string data)>& reply);
    void armIdleExit();
    void scheduleIdleExit();

    SnapshotSources sources_;
    std::function<void(int status)> exitProcess_;
    SerialQueue queue_;
    std::shared_ptr<WorkItem> idleExit_;
};
