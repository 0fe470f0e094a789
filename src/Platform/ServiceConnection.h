#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The transport's own error, handed to a proxy's error handler unchanged.
struct ConnectionError {
    int code = 0;
    std::string description;
};

// A reply's bytes (possibly none); nothing for a reply longer than a client accepts
// (65,536 bytes), which is refused from its announced length without being read.
using ReplyBytes = std::optional<std::string>;

// The remote side of the sensor service as a client sees it.
class SensorServiceProxy {
  public:
    virtual ~SensorServiceProxy() = default;
    // Asks for one snapshot; `reply` gets the reply.
    virtual void fetchSnapshotWithReply(std::function<void(ReplyBytes data)> reply) = 0;
};

// The client end of one connection to the sensor service. Handlers and replies run on
// the one thread that serves every connection of the process, never on the caller's, so
// they must not wait for another connection.
class ServiceConnection {
  public:
    virtual ~ServiceConnection() = default;
    // Both set before resume(): the peer must satisfy this requirement text.
    virtual void setCodeSigningRequirement(std::string requirement) = 0;
    // Peer closed with calls outstanding.
    virtual void setInterruptionHandler(std::function<void()> handler) = 0;
    // Could not connect, peer refused, or invalidate() called.
    virtual void setInvalidationHandler(std::function<void()> handler) = 0;
    virtual void resume() = 0;
    // Nothing when the proxy cannot be used; transport errors go to `errorHandler`.
    virtual std::shared_ptr<SensorServiceProxy>
    remoteObjectProxy(std::function<void(const ConnectionError&)> errorHandler) = 0;
    virtual void invalidate() = 0;
};

// A new, not yet resumed connection to the named per-user service.
std::unique_ptr<ServiceConnection> makeServiceConnection(std::string_view serviceName);

// For a process about to exit: ends every connection as if invalidated, and waits until
// the thread that serves them has finished what it was doing (checking a service's
// signature, say) and stopped, so that nothing runs there while the process's statics
// go. Connections made after it are never served.
void endServiceConnections();
