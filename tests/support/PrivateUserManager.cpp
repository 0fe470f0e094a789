#include "PrivateUserManager.h"

#include "Platform/linux/LaunchAgentUnits.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path cgroupMount = "/sys/fs/cgroup";

std::optional<std::string> firstExecutable(std::initializer_list<const char*> paths) {
    for (const char* path : paths)
        if (access(path, X_OK) == 0)
            return path;
    return std::nullopt;
}

bool isCgroup2(const fs::path& path) {
    struct statfs info {};
    return statfs(path.c_str(), &info) == 0 && info.f_type == CGROUP2_SUPER_MAGIC;
}

// The hierarchy systemd keeps track of its units in, found as systemd finds it, and
// this process's group there (relative to the hierarchy's root).
std::optional<std::pair<fs::path, fs::path>> trackingCgroup() {
    bool unified = isCgroup2(cgroupMount) || isCgroup2(cgroupMount / "unified");
    fs::path hierarchy = isCgroup2(cgroupMount) ? cgroupMount
                         : unified              ? cgroupMount / "unified"
                                                : cgroupMount / "systemd";
    std::string key = unified ? "0::" : ":name=systemd:";
    std::ifstream file("/proc/self/cgroup");
    for (std::string line; std::getline(file, line);) {
        auto at = line.find(key);
        if (at != std::string::npos && (!unified || at == 0))
            return std::pair(hierarchy, fs::path(line.substr(at + key.size())).relative_path());
    }
    return std::nullopt;
}

// Where systemd may have made groups for the manager's units.
std::vector<fs::path> cgroupHierarchies() {
    if (isCgroup2(cgroupMount))
        return {cgroupMount};
    std::vector<fs::path> hierarchies;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(cgroupMount, error))
        if (!entry.is_symlink(error))
            hierarchies.push_back(entry.path());
    return hierarchies;
}

// A group goes with rmdir alone, and only once no process is left in it.
void removeCgroupTree(const fs::path& group) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(group, error))
        if (entry.is_directory(error) && !entry.is_symlink(error))
            removeCgroupTree(entry.path());
    rmdir(group.c_str());
}

bool writeText(const fs::path& path, const std::string& text) {
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    return close(fd) == 0 && written;
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
    // The user manager runs on a machine that did not boot with systemd once this
    // folder exists.
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

    // Managers of one user name their units' groups alike under their own group. Two
    // in one group, as two tests at once would be, share the agent's group, and one
    // stopping its agent kills the other's, so each gets a group of its own, as a
    // real user manager has.
    auto tracking = trackingCgroup();
    if (!tracking || !fs::create_directory(
                         tracking->first / tracking->second / manager->home_.filename(), error)) {
        failure = "cannot make a cgroup for the user manager";
        return nullptr;
    }
    manager->cgroup_ = tracking->second / manager->home_.filename();

    // systemctl must find our manager, never a session bus of the person running us.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "HOME=" + manager->home_.string(),
                                            "XDG_RUNTIME_DIR=" + manager->runtime_.path().string(),
                                            "XDG_CONFIG_HOME=" +
                                                (manager->home_ / "config").string()};
    std::vector<char*> env;
    for (std::string& entry : environment)
        env.push_back(entry.data());
    env.push_back(nullptr);
    // The child waits to be moved into the group: systemd reads its group as it starts.
    // It only makes system calls, so this may be a threaded process.
    int moved[2];
    if (pipe2(moved, O_CLOEXEC) != 0) {
        failure = "cannot make a pipe";
        return nullptr;
    }
    std::string program = *systemd;
    manager->manager_.emplace(BackgroundProcess::fork([&] {
        close(moved[1]);
        char go = 0;
        if (read(moved[0], &go, 1) != 1)
            return 126;
        execle(program.c_str(), program.c_str(), "--user", nullptr, env.data());
        return 127;
    }));
    close(moved[0]);
    bool inGroup = writeText(tracking->first / manager->cgroup_ / "cgroup.procs",
                             std::to_string(manager->manager_->pid())) &&
                   write(moved[1], "1", 1) == 1;
    close(moved[1]);
    if (!inGroup) {
        failure = "cannot move the user manager into its cgroup";
        return nullptr;
    }

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
    if (!cgroup_.empty())
        for (const fs::path& hierarchy : cgroupHierarchies())
            removeCgroupTree(hierarchy / cgroup_);
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
