#include "FakeServiceConnection.h"

namespace {

template <typename Function> Function copyUnder(std::mutex& mutex, const Function& function) {
    std::lock_guard held(mutex);
    return function;
}

} // namespace

class FakeServiceConnection final : public ServiceConnection {
  public:
    explicit FakeServiceConnection(std::shared_ptr<FakeLine> line) : line(std::move(line)) {
        std::lock_guard held(this->line->mutex);
        this->line->exists = true;
    }

    ~FakeServiceConnection() override {
        std::lock_guard held(line->mutex);
        line->exists = false;
    }

    void setCodeSigningRequirement(std::string requirement) override {
        line->note("requirement " + requirement);
    }

    void setInterruptionHandler(std::function<void()> handler) override {
        line->note(handler ? "interruption handler" : "interruption handler cleared");
        std::lock_guard held(line->mutex);
        line->onInterruption = std::move(handler);
    }

    void setInvalidationHandler(std::function<void()> handler) override {
        line->note(handler ? "invalidation handler" : "invalidation handler cleared");
        std::lock_guard held(line->mutex);
        line->onInvalidation = std::move(handler);
    }

    void resume() override { line->note("resume"); }

    std::shared_ptr<SensorServiceProxy>
    remoteObjectProxy(std::function<void(const ConnectionError&)> errorHandler) override {
        line->note("proxy");
        std::lock_guard held(line->mutex);
        line->onProxyError = std::move(errorHandler);
        if (!line->offersProxy)
            return nullptr;
        return std::make_shared<Proxy>(line);
    }

    // Like a real connection: outstanding calls are dropped, then the invalidation
    // handler, if one is still set, is told.
    void invalidate() override {
        line->note("invalidate");
        std::function<void()> handler;
        {
            std::lock_guard held(line->mutex);
            ++line->invalidateCount;
            line->handlerAtInvalidation = line->onInterruption || line->onInvalidation;
            line->onProxyError = nullptr;
            line->replyTo = nullptr;
            handler = line->onInvalidation;
        }
        if (handler)
            handler();
    }

  private:
    struct Proxy final : SensorServiceProxy {
        explicit Proxy(std::shared_ptr<FakeLine> line) : line(std::move(line)) {}
        void fetchSnapshotWithReply(std::function<void(std::string)> reply) override {
            line->note("fetch");
            std::lock_guard held(line->mutex);
            line->replyTo = std::move(reply);
        }
        std::shared_ptr<FakeLine> line;
    };

    std::shared_ptr<FakeLine> line;
};

void FakeLine::note(std::string entry) {
    std::lock_guard held(mutex);
    entries.push_back(std::move(entry));
}

std::vector<std::string> FakeLine::journal() const {
    return copyUnder(mutex, entries);
}
int FakeLine::invalidations() const {
    return copyUnder(mutex, invalidateCount);
}
bool FakeLine::handlerSetAtInvalidation() const {
    return copyUnder(mutex, handlerAtInvalidation);
}
bool FakeLine::connectionExists() const {
    return copyUnder(mutex, exists);
}

std::function<void()> FakeLine::interruptionHandler() const {
    return copyUnder(mutex, onInterruption);
}
std::function<void()> FakeLine::invalidationHandler() const {
    return copyUnder(mutex, onInvalidation);
}
std::function<void(const ConnectionError&)> FakeLine::proxyErrorHandler() const {
    return copyUnder(mutex, onProxyError);
}
std::function<void(std::string)> FakeLine::pendingReply() const {
    return copyUnder(mutex, replyTo);
}

void FakeLine::interrupt() {
    if (auto handler = interruptionHandler())
        handler();
}

void FakeLine::invalidateFromPeer() {
    if (auto handler = invalidationHandler())
        handler();
}

void FakeLine::failProxy(const ConnectionError& error) {
    if (auto handler = proxyErrorHandler())
        handler(error);
}

void FakeLine::reply(std::string data) {
    if (auto handler = pendingReply())
        handler(std::move(data));
}

SensorServiceClient::ConnectionFactory fakeConnections(std::shared_ptr<FakeLine> line) {
    return [line](std::string_view serviceName) -> std::unique_ptr<ServiceConnection> {
        line->note("connect " + std::string(serviceName));
        return std::make_unique<FakeServiceConnection>(line);
    };
}
