#include "WindowScenes.h"

#include <algorithm>

using enum ServiceStatus;

void ManualMainActor::advance(std::chrono::nanoseconds step) {
    const ContinuousInstant end = clock + step;
    while (!due.empty() && due.begin()->first <= end) {
        clock = std::max(clock, due.begin()->first);
        auto work = std::move(due.begin()->second);
        due.erase(due.begin());
        work();
    }
    clock = end;
}

namespace {

// Answers reads and registrations at once; the manager hears of them on its next turn.
struct ScriptedService final : AgentService {
    explicit ScriptedService(Scene& played) : scene(played) {}
    void status(std::function<void(ServiceStatus)> completion) override {
        completion(scene.status);
    }
    void registerService(std::function<void(bool)> completion) override {
        ++scene.registrations;
        scene.status = scene.registersAs.value_or(scene.status);
        completion(scene.registersAs.has_value());
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
              timeout = asked;
              fetches.push_back(std::move(completion));
          })) {
    actor.advance();
}

void Scene::answer(FetchResult result, std::chrono::nanoseconds then) {
    fetches.at(answered++)(std::move(result));
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
    SensorSnapshot typical;
    typical.gpu = GPUReading{42.4, 30, 20};
    typical.cpuTemperatureCelsius = 57.5;
    typical.gpuTemperatureCelsius = 49.6;
    typical.fans = {{0, 1199.5, 1200, 5600}, {1, 1350.2, 1200, 5600}};
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
