#pragma once

#include "ServiceHarness.h"

#include <memory>

// A systemd user manager of our own, with its own home, configuration, runtime folder
// (which becomes this process's XDG_RUNTIME_DIR) and cgroup, so that it touches neither
// a person's session nor another test's manager. Needs root where the machine did not
// boot with systemd.
class PrivateUserManager {
  public:
    // The manager with the units made from the bundle's launch agent installed and the
    // socket started; nothing, with the reason in `failure`, when a step fails.
    static std::unique_ptr<PrivateUserManager>
    start(const std::filesystem::path& bundle, std::string_view plistName, std::string& failure);
    // The manager stops its units, the agent included, before it ends.
    ~PrivateUserManager();

    ChildResult systemctl(std::vector<std::string> arguments);
    std::string property(const std::string& unit, const std::string& name);
    const std::string& socketUnit() const { return socketUnit_; }
    const std::string& serviceUnit() const { return serviceUnit_; }
    std::filesystem::path unitFolder() const { return home_ / "config/systemd/user"; }

  private:
    PrivateUserManager() = default;

    RuntimeDirectory runtime_;
    std::filesystem::path home_;
    std::string socketUnit_, serviceUnit_;
    std::optional<BackgroundProcess> manager_;
};
