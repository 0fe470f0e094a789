#include "WindowScenes.h"

#include <stdexcept>

using namespace std::chrono_literals;

namespace {

class ScriptedAgentService final : public AgentService {
  public:
    ScriptedAgentService(std::vector<ServiceStatus> statuses, std::optional<bool> unregisters)
        : statuses_(std::move(statuses)), unregisters_(unregisters) {}

    ServiceStatus status() override {
        ServiceStatus status = statuses_.front();
        if (statuses_.size() > 1)
            statuses_.erase(statuses_.begin());
        return status;
    }
    bool registerService() override { return true; }
    void unregisterService(std::function<void(bool)> completion) override {
        if (unregisters_)
            completion(*unregisters_);
    }

  private:
    std::vector<ServiceStatus> statuses_;
    std::optional<bool> unregisters_;
};

} // namespace

Scene::Scene(std::vector<ServiceStatus> statuses, std::optional<bool> unregisters)
    : manager(PluginManager::create(
          actor, std::make_unique<ScriptedAgentService>(std::move(statuses), unregisters),
          [this](std::chrono::duration<double>, SensorServiceClient::Completion completion) {
              ++fetches;
              waitingFetches.push_back(std::move(completion));
          })) {}

void Scene::answer(FetchResult result) {
    auto completion = std::move(waitingFetches.front());
    waitingFetches.pop_front();
    completion(std::move(result));
    actor.advance(200ms);
}

SensorSnapshot typicalSnapshot() {
    SensorSnapshot snapshot;
    snapshot.processorName = "Apple M2 Pro";
    snapshot.gpu = GPUReading{42.4, 30, 20};
    snapshot.cpuTemperatureCelsius = 57.5;
    snapshot.gpuTemperatureCelsius = 49.6;
    snapshot.fanCount = 2;
    snapshot.fans = {FanReading{0, 1199.5, 1200, 5600}, FanReading{1, 1350.2, 1200, 5600}};
    return snapshot;
}

using enum ServiceStatus;

namespace {

// Enabled, with one fetch answered; unregistering, when it answers, leaves `afterwards`.
std::unique_ptr<Scene> installed(SensorSnapshot snapshot, std::optional<bool> unregisters = true,
                                 ServiceStatus afterwards = notRegistered) {
    auto scene = std::make_unique<Scene>(std::vector{enabled, afterwards}, unregisters);
    scene->answer(std::move(snapshot));
    return scene;
}

} // namespace

std::unique_ptr<Scene> makeScene(const std::string& name) {
    if (name == "not-installed")
        return std::make_unique<Scene>(std::vector{notRegistered});
    if (name == "requires-approval")
        return std::make_unique<Scene>(std::vector{requiresApproval});
    if (name == "installed")
        return installed(typicalSnapshot());
    if (name == "all-absent")
        return installed(SensorSnapshot{});
    if (name == "refreshing") {
        auto scene = installed(typicalSnapshot());
        scene->manager->refreshSnapshot();
        return scene;
    }
    if (name == "uninstalling") {
        auto scene = installed(typicalSnapshot(), std::nullopt);
        scene->manager->uninstall();
        scene->actor.advance();
        return scene;
    }
    // Removed, yet the service manager still reports the agent, which no longer answers.
    if (name == "removed-with-failure") {
        auto scene = installed(typicalSnapshot(), true, enabled);
        scene->manager->uninstall();
        scene->actor.advance();
        scene->answer(ClientError::unavailable);
        return scene;
    }
    throw std::invalid_argument("no scene " + name);
}
