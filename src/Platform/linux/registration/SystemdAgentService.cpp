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

bool isMasked(const std::optional<std::string>& state) {
    return state == "masked" || state == "masked-runtime";
}

// Whether the file holds exactly `text`; one byte more than it is read at most.
bool holdsExactly(const fs::path& path, const std::string& text) {
    return readFileStart(path, text.size() + 1) == text;
}

// What one registration needs, copied whole so that an operation under way on the
// registration thread shares nothing with the window that began it.
struct Registration {
    fs::path bundle;
    std::string plistName;
    fs::path unitFolder;
    SystemdManagerAddress address;

    std::optional<SystemdManagerBus> connect() const {
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
    auto state = bus ? bus->unitFileState(units->socketUnitName) : std::nullopt;
    if (isMasked(state))
        return ServiceStatus::requiresApproval;
    const fs::path& folder = registration.unitFolder;
    bool ours = holdsExactly(folder / units->socketUnitName, units->socketUnit) &&
                holdsExactly(folder / units->serviceUnitName, units->serviceUnit);
    return state == "enabled" && ours ? ServiceStatus::enabled : ServiceStatus::notRegistered;
}

bool registerUnits(const Registration& registration) {
    auto units = systemdUnitsForBundle(registration.bundle, registration.plistName);
    auto bus = units && !registration.unitFolder.empty() ? registration.connect() : std::nullopt;
    if (!bus)
        return false;
    // The user has blocked the agent: the block stands, and the status asks for approval.
    if (isMasked(bus->unitFileState(units->socketUnitName)))
        return true;
    std::error_code error;
    fs::create_directories(registration.unitFolder, error);
    return !error && writeSystemdUnits(*units, registration.unitFolder) && bus->reload() &&
           bus->enableUnitFile(units->socketUnitName) && bus->startUnit(units->socketUnitName);
}

bool unregisterUnits(const Registration& registration) {
    auto units = systemdUnitsForBundle(registration.bundle, registration.plistName);
    auto bus = units ? registration.connect() : std::nullopt;
    if (!bus || !bus->stopUnit(units->socketUnitName) || !bus->stopUnit(units->serviceUnitName) ||
        !bus->disableUnitFile(units->socketUnitName))
        return false;
    std::error_code socketError, serviceError;
    fs::remove(registration.unitFolder / units->socketUnitName, socketError);
    fs::remove(registration.unitFolder / units->serviceUnitName, serviceError);
    return !socketError && !serviceError && bus->reload();
}

// Runs `operation` on the registration thread, on a copy of the registration that the
// service's going cannot take away; where no thread can be had, `failed` is the answer.
template <typename Result>
void runOperation(const Registration& registration, Result (*operation)(const Registration&),
                  bool changesRegistration, Result failed,
                  const std::function<void(Result)>& completion) {
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
        runOperation(registration_, &registerUnits, true, false, completion);
    }
    void unregisterService(std::function<void(bool succeeded)> completion) override {
        runOperation(registration_, &unregisterUnits, true, false, completion);
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
