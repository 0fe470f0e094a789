#include "SystemdAgentService.h"

#include "../../Bundle.h"
#include "../system/SmallFile.h"
#include "LaunchAgentUnits.h"
#include "RegistrationThread.h"
#include "SystemdManagerBus.h"

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The longest one operation may wait on the manager, however many calls it makes.
constexpr auto operationLimit = 10s;

fs::path userUnitFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return fs::path(config) / "systemd/user";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return fs::path(home) / ".config/systemd/user";
    return {};
}

[[nodiscard]] bool isMasked(const Result<std::string>& state) {
    return state && (*state == "masked" || *state == "masked-runtime");
}

// Whether the file holds exactly `text`; one byte more than it is read at most.
[[nodiscard]] bool holdsExactly(const fs::path& path, const std::string& text) {
    auto held = readFileStart(path, text.size() + 1);
    return held && *held == text;
}

// What one registration needs, copied whole so that an operation under way on the
// registration thread shares nothing with the window that began it.
struct Registration {
    fs::path bundle;
    std::string plistName;
    fs::path unitFolder;
    SystemdManagerAddress address;

    Result<SystemdManagerBus> connect() const {
        return SystemdManagerBus::connect(address,
                                          SystemdManagerBus::Clock::now() + operationLimit);
    }
};

// Units installed by another copy of the app, or by an older build, start another agent
// than this bundle's: they read as not registered, so that installing rewrites them.
ServiceStatus statusOf(const Registration& registration) {
    auto units = systemdUnitsForBundle(registration.bundle, registration.plistName);
    if (!units)
        return ServiceStatus::notFound;
    auto bus = registration.connect();
    auto state = bus ? bus->unitFileState(units->socketUnitName) : bus.failure();
    if (isMasked(state))
        return ServiceStatus::requiresApproval;
    const fs::path& folder = registration.unitFolder;
    bool ours = holdsExactly(folder / units->socketUnitName, units->socketUnit) &&
                holdsExactly(folder / units->serviceUnitName, units->serviceUnit);
    return state && *state == "enabled" && ours ? ServiceStatus::enabled
                                                : ServiceStatus::notRegistered;
}

// The steps of an operation, in order; the first that fails ends it.
template <typename... Steps> Result<void> inTurn(Steps&&... steps) {
    Result<void> outcome;
    ((outcome = outcome ? steps() : outcome), ...);
    return outcome;
}

Result<void> registerUnits(const Registration& registration) {
    auto units = systemdUnitsForBundle(registration.bundle, registration.plistName);
    if (!units)
        return units.failure();
    if (registration.unitFolder.empty())
        return Failure{ENOENT};
    auto bus = registration.connect();
    if (!bus)
        return bus.failure();
    // The user has blocked the agent: the block stands, and the status asks for approval.
    if (isMasked(bus->unitFileState(units->socketUnitName)))
        return {};
    std::error_code error;
    fs::create_directories(registration.unitFolder, error);
    if (error)
        return Failure{error.value()};
    return inTurn([&] { return writeSystemdUnits(*units, registration.unitFolder); },
                  [&] { return bus->reload(); },
                  [&] { return bus->enableUnitFile(units->socketUnitName); },
                  [&] { return bus->startUnit(units->socketUnitName); });
}

Result<void> unregisterUnits(const Registration& registration) {
    auto units = systemdUnitsForBundle(registration.bundle, registration.plistName);
    if (!units)
        return units.failure();
    auto bus = registration.connect();
    if (!bus)
        return bus.failure();
    auto removed = [&]() -> Result<void> {
        std::error_code socketError, serviceError;
        fs::remove(registration.unitFolder / units->socketUnitName, socketError);
        fs::remove(registration.unitFolder / units->serviceUnitName, serviceError);
        if (socketError || serviceError)
            return Failure{(socketError ? socketError : serviceError).value()};
        return {};
    };
    return inTurn([&] { return bus->stopUnit(units->socketUnitName); },
                  [&] { return bus->stopUnit(units->serviceUnitName); },
                  [&] { return bus->disableUnitFile(units->socketUnitName); }, removed,
                  [&] { return bus->reload(); });
}

// The window learns only whether it succeeded.
[[nodiscard]] bool registered(const Registration& registration) {
    return bool(registerUnits(registration));
}
[[nodiscard]] bool unregistered(const Registration& registration) {
    return bool(unregisterUnits(registration));
}

// Runs `operation` on the registration thread, on a copy of the registration that the
// service's going cannot take away; where no thread can be had, `failed` is the answer.
template <typename Answer>
void runOperation(const Registration& registration, Answer (*operation)(const Registration&),
                  bool changesRegistration, Answer failed,
                  const std::function<void(Answer)>& completion) {
    if (!queueRegistrationWork(
            [registration, operation, completion] { completion(operation(registration)); },
            changesRegistration))
        completion(failed);
}

class SystemdAgentService final : public AgentService {
  public:
    explicit SystemdAgentService(Registration registration)
        : registration_(std::move(registration)) {}

    void status(std::function<void(ServiceStatus)> completion) override {
        runOperation(registration_, &statusOf, false, ServiceStatus::notRegistered, completion);
    }
    void registerService(std::function<void(bool succeeded)> completion) override {
        runOperation(registration_, &registered, true, false, completion);
    }
    void unregisterService(std::function<void(bool succeeded)> completion) override {
        runOperation(registration_, &unregistered, true, false, completion);
    }

  private:
    const Registration registration_;
};

} // namespace

std::unique_ptr<AgentService> makeAgentService(const fs::path& bundle, std::string_view plistName) {
    return std::make_unique<SystemdAgentService>(
        Registration{bundle, std::string(plistName), userUnitFolder(), systemdManagerAddress()});
}

std::unique_ptr<AgentService> makeAgentService(std::string_view plistName) {
    auto bundle = mainBundle();
    return makeAgentService(bundle ? bundle->path : fs::path(), plistName);
}

void finishAgentServiceWork() {
    finishRegistrationWork();
}
