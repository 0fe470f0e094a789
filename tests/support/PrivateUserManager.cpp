#include "PrivateUserManager.h"

#include "Platform/linux/LaunchAgentUnits.h"

#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::optional<std::string> firstExecutable(std::initializer_list<const char*> paths) {
    for (const char* path : paths)
        if (access(path, X_OK) == 0)
            return path;
    return std::nullopt;
}

} // namespace

std::unique_ptr<PrivateUserManager> PrivateUserManager::start(const fs::path& bundle,
                                                              std::string_view plistName,
                                                              std::string& failure) {
    auto systemd = firstExecutable({"/lib/systemd/systemd", "/usr/lib/systemd/systemd"});
    auto control = firstExecutable({"/usr/bin/systemctl", "/bin/systemctl"});
    if (!systemd || !control) {
        failure = "systemd is not installed";
        return nullptr;
    }
    std::error_code error;
    fs::create_directories("/run/systemd/system", error);
    if (!fs::is_directory("/run/systemd/system")) {
        failure = "cannot create /run/systemd/system (needs root)";
        return nullptr;
    }

    std::unique_ptr<PrivateUserManager> manager(new PrivateUserManager());
    manager->systemctl_ = *control;
    std::string pattern = "/tmp/corvane-home-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        failure = "cannot make a home folder";
        return nullptr;
    }
    manager->home_ = pattern;
    fs::path unitFolder = manager->home_ / "config" / "systemd" / "user";
    fs::create_directories(unitFolder, error);
    auto units = systemdUnitsForBundle(bundle, plistName);
    if (!units || !writeSystemdUnits(*units, unitFolder)) {
        failure = "cannot install the units of " + bundle.string();
        return nullptr;
    }
    manager->socketUnit_ = units->socketUnitName;
    manager->serviceUnit_ = units->serviceUnitName;

    // systemctl must find our manager, never a session bus of the person running us.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "HOME=" + manager->home_.string(),
                                            "XDG_RUNTIME_DIR=" + manager->runtime_.path().string(),
                                            "XDG_CONFIG_HOME=" +
                                                (manager->home_ / "config").string()};
    std::string program = *systemd;
    manager->manager_.emplace(BackgroundProcess::fork([&] {
        std::vector<char*> env;
        for (std::string& entry : environment)
            env.push_back(entry.data());
        env.push_back(nullptr);
        execle(program.c_str(), program.c_str(), "--user", nullptr, env.data());
        return 127;
    }));
    auto deadline = std::chrono::steady_clock::now() + 15s;
    while (manager->systemctl({"show", "-p", "Version"}).exitStatus != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            failure = "the user manager did not start";
            return nullptr;
        }
        std::this_thread::sleep_for(50ms);
    }
    if (manager->systemctl({"start", manager->socketUnit_}).exitStatus != 0) {
        failure = "the socket unit did not start";
        return nullptr;
    }
    return manager;
}

PrivateUserManager::~PrivateUserManager() {
    if (manager_)
        manager_->terminate(15s);
    std::error_code error;
    fs::remove_all(home_, error);
}

bool PrivateUserManager::allowUnlimitedStarts() {
    fs::path units = home_ / "config" / "systemd" / "user";
    std::error_code error;
    fs::create_directories(units / (serviceUnit_ + ".d"), error);
    fs::create_directories(units / (socketUnit_ + ".d"), error);
    std::ofstream(units / (serviceUnit_ + ".d") / "unlimited-starts.conf")
        << "[Unit]\nStartLimitIntervalSec=0\n";
    std::ofstream(units / (socketUnit_ + ".d") / "unlimited-starts.conf")
        << "[Socket]\nTriggerLimitIntervalSec=0\n";
    return systemctl({"daemon-reload"}).exitStatus == 0;
}

ChildResult PrivateUserManager::systemctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {systemctl_, "--user"});
    return runChild(systemctl_, arguments);
}

std::string PrivateUserManager::property(const std::string& unit, const std::string& name) {
    std::string value = systemctl({"show", "-p", name, "--value", unit}).out;
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}
