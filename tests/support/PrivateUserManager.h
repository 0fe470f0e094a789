#pragma once

#include "ServiceHarness.h"

#include <memory>

// A systemd user manager of our own, with its own home, configuration, runtime folder
// and cgroup, so that it touches neither a person's session nor another test's manager.
// Its runtime folder and configuration become this process's XDG_RUNTIME_DIR and
// XDG_CONFIG_HOME. Needs root where the machine did not boot with systemd.
class PrivateUserManager {
  public:
    // The manager, answering, with no units of ours; nothing, with the reason in
    // `failure`, when a step fails.
    static std::unique_ptr<PrivateUserManager> start(std::string& failure);
    // The manager stops its units, the agent included, before it ends.
    ~PrivateUserManager();

    ChildResult systemctl(std::vector<std::string> arguments);
    std::string property(const std::string& unit, const std::string& name);
    std::filesystem::path unitFolder() const { return home_ / "config/systemd/user"; }

  private:
    PrivateUserManager() = default;

    RuntimeDirectory runtime_;
    std::filesystem::path home_;
    std::optional<BackgroundProcess> manager_;
};
