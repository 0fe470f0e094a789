#pragma once

#include "../system/Result.h"

#include <chrono>
#include <memory>
#include <string>

struct sd_bus;

// Where the user's systemd manager answers: its bus, and its own socket for when no bus
// daemon runs. Both empty when the environment names neither.
struct SystemdManagerAddress {
    std::string userBus;
    std::string privateSocket;
};

// From DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR, read now.
SystemdManagerAddress systemdManagerAddress();

// One conversation with the user's systemd manager over D-Bus. Every call on it ends by
// one deadline, so a manager that never answers holds no one (ETIMEDOUT); an error reply
// is a failure with its error number.
class SystemdManagerBus {
  public:
    using Clock = std::chrono::steady_clock;

    // The user bus, or where that cannot be reached the manager's private socket.
    static Result<SystemdManagerBus> connect(const SystemdManagerAddress& address,
                                             Clock::time_point deadline);

    // The unit's file state ("enabled", "masked", ...).
    Result<std::string> unitFileState(const std::string& unit);
    Result<void> reload();
    Result<void> enableUnitFile(const std::string& unit);
    Result<void> disableUnitFile(const std::string& unit);
    // Each succeeds once its job has ended as done.
    Result<void> startUnit(const std::string& unit);
    Result<void> stopUnit(const std::string& unit);

  private:
    struct Closer {
        void operator()(sd_bus* bus) const;
    };

    SystemdManagerBus(sd_bus* bus, Clock::time_point deadline) : bus_(bus), deadline_(deadline) {}
    Result<void> runJob(const char* method, const std::string& unit);

    std::unique_ptr<sd_bus, Closer> bus_;
    Clock::time_point deadline_;
    bool subscribed_ = false;
};
