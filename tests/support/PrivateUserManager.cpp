#include "PrivateUserManager.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Where the Debian package puts them, which a merged /usr keeps too.
const std::string systemdPath = "/lib/systemd/systemd", systemctlPath = "/bin/systemctl";
const fs::path hierarchies[] = {"/sys/fs/cgroup", "/sys/fs/cgroup/unified",
                                "/sys/fs/cgroup/systemd"};

// A group goes with rmdir alone, and only once no process is left in it.
void removeCgroupTree(const fs::path& group) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(group, error))
        if (entry.is_directory(error) && !entry.is_symlink(error))
            removeCgroupTree(entry.path());
    rmdir(group.c_str());
}

} // namespace

std::unique_ptr<PrivateUserManager> PrivateUserManager::start(std::string& failure) {
    // A user manager runs on a machine that did not boot with systemd once this exists.
    std::error_code error;
    fs::create_directories("/run/systemd/system", error);
    std::unique_ptr<PrivateUserManager> manager(new PrivateUserManager());
    std::string home = "/tmp/corvane-home-XXXXXX";
    failure = "needs systemd, and root to create /run/systemd/system";
    if (!fs::is_directory("/run/systemd/system") || !mkdtemp(home.data()))
        return nullptr;
    manager->home_ = home;

    // Units' groups go below their manager's: managers sharing one (tests and benchmarks
    // at once) would share the agent's, and one stopping its agent would kill the others'.
    std::vector<std::string> groups;
    for (const fs::path& hierarchy : hierarchies)
        if (fs::exists(hierarchy / "cgroup.procs") &&
            fs::create_directory(hierarchy / manager->home_.filename(), error))
            groups.push_back(hierarchy / manager->home_.filename() / "cgroup.procs");
    failure = "cannot make a cgroup for the user manager";
    if (groups.empty())
        return nullptr;

    // systemctl must find our manager, never a session bus of the person running us.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    std::string environment[] = {"PATH=/usr/bin:/bin", "HOME=" + home,
                                 "XDG_RUNTIME_DIR=" + manager->runtime_.path().string(),
                                 "XDG_CONFIG_HOME=" + home + "/config"};
    char* env[] = {environment[0].data(), environment[1].data(), environment[2].data(),
                   environment[3].data(), nullptr};
    // Only system calls in the child, as this process may have threads.
    manager->manager_.emplace(BackgroundProcess::fork([&] {
        for (const std::string& group : groups) {
            int procs = open(group.c_str(), O_WRONLY | O_CLOEXEC);
            if (procs < 0 || write(procs, "0", 1) != 1)
                return 126;
            close(procs);
        }
        execle(systemdPath.c_str(), systemdPath.c_str(), "--user", nullptr, env);
        return 127;
    }));
    failure = "the user manager did not answer";
    if (!waitForListener(manager->runtime_.path() / "systemd/private", 15s))
        return nullptr;
    return manager;
}

PrivateUserManager::~PrivateUserManager() {
    if (manager_)
        manager_->terminate(15s);
    std::error_code error;
    for (const fs::path& hierarchy : hierarchies)
        if (!home_.empty())
            removeCgroupTree(hierarchy / home_.filename());
    fs::remove_all(home_, error);
}

ChildResult PrivateUserManager::systemctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {systemctlPath, "--user"});
    return runChild(systemctlPath, arguments);
}
