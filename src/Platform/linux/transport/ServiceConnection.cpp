#include "../../ServiceConnection.h"

#include "ClientChannel.h"
#include "ConnectionThread.h"

namespace {

class SocketProxy final : public SensorServiceProxy {
  public:
    SocketProxy(std::shared_ptr<ClientChannel> channel,
                std::function<void(const ConnectionError&)> errorHandler)
        : channel_(std::move(channel)), errorHandler_(std::move(errorHandler)) {}

    void fetchSnapshotWithReply(std::function<void(ReplyBytes data)> reply) override {
        channel_->submit(PendingCall{std::move(reply), errorHandler_});
    }

  private:
    std::shared_ptr<ClientChannel> channel_;
    std::function<void(const ConnectionError&)> errorHandler_;
};

class SocketConnection final : public ServiceConnection {
  public:
    explicit SocketConnection(std::string_view serviceName)
        : channel_(std::make_shared<ClientChannel>(std::string(serviceName))) {}
    // Nobody is left to hear from this connection.
    ~SocketConnection() override {
        channel_->setInterruptionHandler(nullptr);
        channel_->setInvalidationHandler(nullptr);
        channel_->invalidate();
    }

    void setCodeSigningRequirement(std::string requirement) override {
        channel_->setRequirement(std::move(requirement));
    }
    void setInterruptionHandler(std::function<void()> handler) override {
        channel_->setInterruptionHandler(std::move(handler));
    }
    void setInvalidationHandler(std::function<void()> handler) override {
        channel_->setInvalidationHandler(std::move(handler));
    }
    void resume() override { channel_->resume(); }
    std::shared_ptr<SensorServiceProxy>
    remoteObjectProxy(std::function<void(const ConnectionError&)> errorHandler) override {
        return std::make_shared<SocketProxy>(channel_, std::move(errorHandler));
    }
    void invalidate() override { channel_->invalidate(); }

  private:
    std::shared_ptr<ClientChannel> channel_;
};

} // namespace

std::unique_ptr<ServiceConnection> makeServiceConnection(std::string_view serviceName) {
    return std::make_unique<SocketConnection>(serviceName);
}

void endServiceConnections() {
    ConnectionThread::shared().stop();
}
