#pragma once

#include "App/SensorServiceClient.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The far side of one fake service connection. It records what the client does to
// its connection and plays the agent and the transport. Like a real connection it
// calls handlers outside its lock, so events may come from any thread.
class FakeLine {
  public:
    // Set before the fetch: whether the connection offers a usable proxy.
    bool offersProxy = true;

    // The client's calls, in order: "connect <name>", "requirement <text>",
    // "interruption handler", "invalidation handler", "resume", "proxy", "fetch",
    // "invalidate"; setting a handler to nothing reads "... handler cleared".
    std::vector<std::string> journal() const;
    int invalidations() const;
    // Whether a handler was still set when the client invalidated the connection.
    bool handlerSetAtInvalidation() const;
    bool connectionExists() const;
    // Adds a test's own step to the journal, to check its place among the client's.
    void note(std::string entry);

    // Events, each delivered only if its handler or reply is still in place.
    void interrupt();
    void invalidateFromPeer();
    void failProxy(const ConnectionError& error);
    void reply(std::string data);

    // Copies of what is in place now, for tests that deliver them later or race them.
    std::function<void()> interruptionHandler() const;
    std::function<void()> invalidationHandler() const;
    std::function<void(const ConnectionError&)> proxyErrorHandler() const;
    std::function<void(std::string)> pendingReply() const;

  private:
    friend class FakeServiceConnection;

    mutable std::mutex mutex;
    std::vector<std::string> entries;
    int invalidateCount = 0;
    bool handlerAtInvalidation = false;
    bool exists = false;
    std::function<void()> onInterruption;
    std::function<void()> onInvalidation;
    std::function<void(const ConnectionError&)> onProxyError;
    std::function<void(std::string)> replyTo;
};

// A factory that connects every fetch to `line`.
SensorServiceClient::ConnectionFactory fakeConnections(std::shared_ptr<FakeLine> line);
