#pragma once

#include <functional>
#include <memory>
#include <string_view>

// Where the service manager stands with the app's launch agent. Only `enabled` counts
// as installed.
enum class ServiceStatus {
    notRegistered = 0,
    enabled = 1,
    requiresApproval = 2,
    notFound = 3,
};

// The app's launch agent as the service manager knows it: registered, unregistered
// and asked about through this handle alone.
class AgentService {
  public:
    virtual ~AgentService() = default;
    // Asks the service manager now; never fails, never blocks without bound.
    virtual ServiceStatus status() = 0;
    // Synchronous; false on any failure, the manager's own error being dropped.
    virtual bool registerService() = 0;
    // Returns at once; `completion` runs exactly once, on any thread, with whether the
    // agent was unregistered.
    virtual void unregisterService(std::function<void(bool succeeded)> completion) = 0;
};

// The launch agent `plistName` of the running app's bundle.
std::unique_ptr<AgentService> makeAgentService(std::string_view plistName);
