#include "WindowScenes.h"

#include <algorithm>

using enum ServiceStatus;

void ManualMainActor::advance(std::chrono::nanoseconds step) {
    const ContinuousInstant end = now_ + step;
    while (!due_.empty() && due_.begin()->first <= end) {
        now_ = std::max(now_, due_.begin()->first);
        auto work = std::move(due_.begin()->second);
        due_.erase(due_.begin());
        work();
    }
    now_ = end;
}

namespace {

struct ScriptedService final : AgentService {
    explicit ScriptedService(Scene& scene) : scene(scene) {}
    ServiceStatus status() override { return scene.status; }
    bool registerService() override {
        scene.status = scene.registersAs.value_or(scene.status);
        return scene.registersAs.has_value();
    }
    void unregisterService(std::function<void(bool)> completion) override {
        scene.removal = std::move(completion);
    }
    Scene& scene;
};

} // namespace

Scene::Scene(ServiceStatus initial)
    : status(initial),
      manager(PluginManager::create(
          actor, std::make_unique<ScriptedService>(*this),
          [this](std::chrono::duration<double> asked, SensorServiceClient::Completion completion) {
              ++fetches;
              timeout = asked;
              waitingFetches.push_back(std::move(completion));
          })) {}

void Scene::answer(FetchResult result, std::chrono::nanoseconds then) {
    auto completion = std::move(waitingFetches.front());
    waitingFetches.pop_front();
    completion(std::move(result));
    actor.advance(then);
}

void Scene::remove(bool succeeded, ServiceStatus after) {
    actor.advance();
    status = after;
    removal(succeeded);
    actor.advance();
}

std::unique_ptr<Scene> makeScene(const std::string& name) {
    auto scene = std::make_unique<Scene>(name == "not-installed"       ? notRegistered
                                         : name == "requires-approval" ? requiresApproval
                                                                       : enabled);
    if (scene->status != enabled)
        return scene;
    SensorSnapshot typical{.processorName = "Apple M2 Pro",
                           .gpu = GPUReading{42.4, 30, 20},
                           .cpuTemperatureCelsius = 57.5,
                           .gpuTemperatureCelsius = 49.6,
                           .fanCount = 2,
                           .fans = {{0, 1199.5, 1200, 5600}, {1, 1350.2, 1200, 5600}},
                           .pluginVersion = {},
                           .pluginBuild = {}};
    scene->answer(name == "all-absent" ? SensorSnapshot{} : typical);
    if (name == "refreshing")
        scene->manager->refreshSnapshot();
    if (name == "uninstalling" || name == "removed-with-failure")
        scene->manager->uninstall();
    // Removed, yet the service manager still reports the agent, which no longer answers.
    if (name == "removed-with-failure") {
        scene->remove(true, enabled);
        scene->answer(ClientError::unavailable);
    }
    scene->actor.advance();
    return scene;
}
