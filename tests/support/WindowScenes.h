#pragma once

#include "App/PluginManager.h"
#include "ManualMainActor.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

// A real manager on a scripted platform: the registration reads `statuses` in turn (the
// last one repeating), unregistering reports `unregisters` (or never answers), and every
// fetch waits until the scene answers it.
class Scene {
  public:
    explicit Scene(std::vector<ServiceStatus> statuses, std::optional<bool> unregisters = true);
    // Answers the oldest waiting fetch, then lets the minimum refresh time pass.
    void answer(FetchResult result);

    ManualMainActor actor;
    std::deque<SensorServiceClient::Completion> waitingFetches;
    int fetches = 0;
    std::shared_ptr<PluginManager> manager;
};

// Plausible readings, rounding included: 42.4% GPU, 57.5 and 49.6 °C, fans at 1199.5
// and 1350.2 RPM.
SensorSnapshot typicalSnapshot();

// A state of the window, reached through the manager's own operations: "not-installed",
// "requires-approval", "installed", "all-absent", "refreshing", "uninstalling" or
// "removed-with-failure".
std::unique_ptr<Scene> makeScene(const std::string& name);
