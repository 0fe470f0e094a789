#pragma once

#include "App/PluginManager.h"

#include <map>
#include <memory>

// The main actor played by hand, on virtual time: nothing runs until the test lets it.
struct ManualMainActor final : MainActor {
    void post(std::function<void()> work) override { postAt(clock, std::move(work)); }
    void postAt(ContinuousInstant deadline, std::function<void()> work) override {
        due.emplace(deadline, std::move(work)); // after any with the same deadline
    }
    ContinuousInstant now() const override { return clock; }
    void advance(std::chrono::nanoseconds step = {});

    ContinuousInstant clock{};
    std::multimap<ContinuousInstant, std::function<void()>> due;
};

// A real manager on a scripted platform, its first status read applied: registering sets
// `status` to `registersAs` (or fails); removals and fetches wait until the test completes
// them.
struct Scene {
    explicit Scene(ServiceStatus initial);
    // Answers the next fetch, then lets `then` pass (by default, the refresh).
    void answer(FetchResult result, std::chrono::nanoseconds then = std::chrono::milliseconds(200));
    // Completes the removal under way; the service manager reports `after` from then on.
    void remove(bool succeeded, ServiceStatus after);

    ServiceStatus status;
    std::optional<ServiceStatus> registersAs = ServiceStatus::enabled;
    int registrations = 0; // asked for so far
    std::function<void(bool)> removal;
    ManualMainActor actor;
    std::vector<SensorServiceClient::Completion> fetches; // started so far
    std::size_t answered = 0;
    std::chrono::duration<double> timeout{};
    std::shared_ptr<PluginManager> manager;
};

// A state reached through the manager's own operations: "not-installed", "requires-approval",
// "installed", "all-absent", "refreshing", "uninstalling" or "removed-with-failure".
std::unique_ptr<Scene> makeScene(const std::string& name);
