#pragma once

#include "../Platform/AgentService.h"
#include "../Platform/MainActor.h"
#include "../Shared/SensorSnapshot.h"
#include "SensorServiceClient.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The app's model: registers and unregisters the agent, keeps its status, fetches
// snapshots and publishes what the window shows. Confined to the main actor; every
// operation is called there.
class PluginManager : public std::enable_shared_from_this<PluginManager> {
  public:
    static constexpr std::string_view agentPlistName = "com.quillmarsh.CorvanePlugin.Agent.plist";

    // The published properties, named for observers.
    enum class Property {
        status,
        snapshot,
        message,
        isWorking,
        isRefreshing,
        showRemovalInstructions
    };
    // Called on the main actor before every assignment to a published property, also
    // when the new value equals the old one.
    using Observer = std::function<void(Property)>;
    using Fetch = std::function<void(std::chrono::duration<double> timeout,
                                     SensorServiceClient::Completion completion)>;

    // A new manager for the running app's launch agent, which asks for the status at once
    // (and so starts a fetch when the agent turns out to be enabled). The service
    // manager's answers and fetches still under way post to `mainActor` even after the
    // manager is gone, so it must outlive them.
    static std::shared_ptr<PluginManager> create(MainActor& mainActor);
    // The same with the registration and the fetch given.
    static std::shared_ptr<PluginManager>
    create(MainActor& mainActor, std::unique_ptr<AgentService> service, Fetch fetch);

    ServiceStatus status() const { return status_; }
    const std::optional<SensorSnapshot>& snapshot() const { return snapshot_; }
    const std::optional<std::string>& message() const { return message_; }
    bool isWorking() const { return isWorking_; }
    bool isRefreshing() const { return isRefreshing_; }
    bool showRemovalInstructions() const { return showRemovalInstructions_; }

    // Returns a token for unobserve().
    std::uint64_t observe(Observer observer);
    void unobserve(std::uint64_t token);

    // Each begins its work and returns; the outcome is published when it comes. The
    // published state changes in the same order as if the service manager answered at once.
    void install();
    void uninstall();
    void refreshSnapshot();
    void refreshStatus();

    PluginManager(MainActor& mainActor, std::unique_ptr<AgentService> service, Fetch fetch);

  private:
    // Tells the observers, then assigns.
    template <typename T> void publish(Property property, T& field, T value);
    // Wraps `apply(manager, outcome...)` as a completion callable on any thread.
    template <typename Apply> auto onMainActor(Apply apply);
    // Reads the status and applies it, then runs `then`.
    void readStatus(std::function<void(PluginManager&)> then);
    void applyFetch(FetchResult result, ContinuousInstant earliestEnd);

    MainActor& mainActor_;
    Fetch fetch_;
    std::map<std::uint64_t, Observer> observers_;
    std::uint64_t nextObserver_ = 1;

    // The seven fields, in this order.
    ServiceStatus status_ = ServiceStatus::notRegistered;
    std::optional<SensorSnapshot> snapshot_;
    std::optional<std::string> message_;
    bool isWorking_ = false;
    bool isRefreshing_ = false;
    bool showRemovalInstructions_ = false;
    const std::unique_ptr<AgentService> service_;
};
