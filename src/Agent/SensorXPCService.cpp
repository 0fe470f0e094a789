#include "SensorXPCService.h"

#include "../Shared/SnapshotJSON.h"

SensorXPCService::SensorXPCService(SnapshotSources sources, QueueClock clock,
                                   std::function<void(int status)> exitProcess)
    : sources_(std::move(sources)), exitProcess_(std::move(exitProcess)),
      queue_(std::string(queueLabel), std::move(clock)) {}

bool SensorXPCService::shouldAcceptNewConnection(IncomingConnection& connection) {
    connection.setExportedObject(*this);
    connection.resume();
    armIdleExit();
    return true;
}

void SensorXPCService::fetchSnapshotWithReply(std::function<void(std::string data)> reply) {
    queue_.async([this, reply = std::move(reply)] { sendSnapshot(reply); });
}

void SensorXPCService::sendSnapshot(const std::function<void(std::string data)>& reply) {
    SensorSnapshot snapshot = collectSnapshot(sources_);
    reply(encodeCompact(snapshot).value_or(std::string()));
    armIdleExit();
}

void SensorXPCService::armIdleExit() {
    queue_.async([this] { scheduleIdleExit(); });
}

void SensorXPCService::scheduleIdleExit() {
    if (idleExit_)
        idleExit_->cancel();
    idleExit_ = std::make_shared<WorkItem>([this] { exitProcess_(0); });
    queue_.asyncAfter(idleExitDelay, idleExit_);
}
