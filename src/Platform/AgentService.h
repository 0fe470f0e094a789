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
// and asked about through this handle alone. Each operation returns at once, however slow
// the manager; its `completion` runs once, on any thread, when the manager has answered or
// the operation's deadline has passed. A failure is reported as such, the manager's own
// error being dropped. The handle may go while its operations are under way.
class AgentService {
  public:
    virtual ~AgentService() = default;
    // What the service manager says now.
    virtual void status(std::function<void(ServiceStatus)> completion) = 0;
    virtual void registerService(std::function<void(bool succeeded)> completion) = 0;
    virtual void unregisterService(std::function<void(bool succeeded)> completion) = 0;
};

// The launch agent `plistName` of the running app's bundle.
std::unique_ptr<AgentService> makeAgentService(std::string_view plistName);

// For a process about to exit: waits until every registration and unregistration begun
// has ended, so that none is cut off half done. Status reads not yet begun are dropped,
// their completions never run.
void finishAgentServiceWork();
