#pragma once

#include "ServiceHarness.h"

#include <memory>

// A systemd user manager with its own home, runtime folder (this process's XDG_RUNTIME_DIR),
// configuration (XDG_CONFIG_HOME) and cgroup: needs root where systemd did not boot.
class PrivateUserManager {
  public:
    // The manager, answering; or nothing, with the reason in `failure`.
    static std::unique_ptr<PrivateUserManager> start(std::string& failure);
    // Stops the manager, which stops its units first.
    ~PrivateUserManager();

    ChildResult systemctl(std::vector<std::string> arguments);
    pid_t pid() const { return manager_->pid(); }
    std::filesystem::path unitFolder() const { return home_ / "config/systemd/user"; }

  private:
    PrivateUserManager() = default;

    RuntimeDirectory runtime_;
    std::filesystem::path home_;
    std::optional<BackgroundProcess> manager_;
};
