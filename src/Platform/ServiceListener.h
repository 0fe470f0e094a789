#pragma once

#include "EventLoop.h"

#include <functional>
#include <memory>
#include <string>

// The sensor service as the agent exports it.
class SensorServiceProtocol {
  public:
    virtual ~SensorServiceProtocol() = default;
    // `reply` is to be called once, on the run loop's thread, with the reply's bytes.
    virtual void fetchSnapshotWithReply(std::function<void(std::string data)> reply) = 0;
};

// A client connection whose peer already satisfied the listener's requirement.
class IncomingConnection {
  public:
    virtual ~IncomingConnection() = default;
    virtual void setExportedObject(SensorServiceProtocol& object) = 0;
    // Starts delivering the client's calls to the exported object.
    virtual void resume() = 0;
};

class ServiceListenerDelegate {
  public:
    virtual ~ServiceListenerDelegate() = default;
    // A connection refused, or not resumed, is closed.
    virtual bool shouldAcceptNewConnection(IncomingConnection& connection) = 0;
};

// Listens for the named per-user service on the socket the service manager handed
// over, or else on one it binds itself in the user's runtime directory. Peers that do
// not satisfy the requirement are closed before the delegate hears of them, and so is a
// connection on which a process that does not satisfy it writes a call.
class ServiceListener {
  public:
    ServiceListener(EventLoop& loop, std::string serviceName);
    ~ServiceListener();

    void setConnectionCodeSigningRequirement(std::string requirement);
    void setDelegate(ServiceListenerDelegate& delegate);
    // Starts accepting. Without a socket to listen on it stays idle: nothing is watched.
    void resume();

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};
