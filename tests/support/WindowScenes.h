#pragma once

#include "App/PluginManager.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The main actor run by hand, on virtual time.
class ManualMainActor final : public MainActor {
  public:
    void post(std::function<void()> work) override { ready_.push_back(std::move(work)); }
    void postAt(ContinuousInstant deadline, std::function<void()> work) override {
        timed_.emplace(deadline, std::move(work));
    }
    ContinuousInstant now() const override { return now_; }
    // Moves the clock on by `elapsed`, running all work due meanwhile.
    void run(ContinuousInstant elapsed = {});

  private:
    ContinuousInstant now_{};
    std::deque<std::function<void()>> ready_;
    std::multimap<ContinuousInstant, std::function<void()>> timed_;
};

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

// The window's states worth showing, by name, each reached through the manager's own
// operations.
const std::vector<std::string>& sceneNames();
std::unique_ptr<Scene> makeScene(const std::string& name);
