// The agent under a private systemd user manager, installed from the bundle's launch
// agent: started by the socket on the first connection, gone 30 s after its last reply,
// started again by the next connection. Needs root where /run/systemd/system is missing.
#include "Platform/linux/LaunchAgentUnits.h"
#include "Shared/SnapshotJSON.h"
#include "support/ChildProcess.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const launchAgentPlist = "com.quillmarsh.CorvanePlugin.Agent.plist";

std::optional<std::string> firstExisting(std::initializer_list<const char*> paths) {
    for (const char* path : paths)
        if (access(path, X_OK) == 0)
            return path;
    return std::nullopt;
}

ChildResult fetch() {
    return runChild(FETCH_CLIENT_PATH, {FETCH_CLIENT_PATH});
}

class PrivateUserManager : public testing::Test {
  protected:
    void SetUp() override {
        auto systemd = firstExisting({"/lib/systemd/systemd", "/usr/lib/systemd/systemd"});
        auto control = firstExisting({"/usr/bin/systemctl", "/bin/systemctl"});
        ASSERT_TRUE(systemd && control) << "systemd is not installed";
        systemctl_ = *control;
        // The user manager runs on a machine that did not boot with systemd once this
        // folder exists.
        std::error_code error;
        fs::create_directories("/run/systemd/system", error);
        ASSERT_TRUE(fs::is_directory("/run/systemd/system"))
            << "cannot create /run/systemd/system (needs root)";

        std::string pattern = "/tmp/corvane-home-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        fs::path unitFolder = home_ / "config" / "systemd" / "user";
        fs::create_directories(unitFolder);
        auto units = systemdUnitsForBundle(APP_BUNDLE, launchAgentPlist);
        ASSERT_TRUE(units);
        ASSERT_TRUE(writeSystemdUnits(*units, unitFolder));
        socketUnit_ = units->socketUnitName;
        serviceUnit_ = units->serviceUnitName;

        // systemctl must find our manager, never a session bus of the person running us.
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "HOME=" + home_.string(),
                                                "XDG_RUNTIME_DIR=" + runtime_.path().string(),
                                                "XDG_CONFIG_HOME=" + (home_ / "config").string()};
        std::string program = *systemd;
        manager_.emplace(BackgroundProcess::fork([&] {
            std::vector<char*> env;
            for (std::string& entry : environment)
                env.push_back(entry.data());
            env.push_back(nullptr);
            execle(program.c_str(), program.c_str(), "--user", nullptr, env.data());
            return 127;
        }));
        auto deadline = std::chrono::steady_clock::now() + 15s;
        while (systemctl({"show", "-p", "Version"}).exitStatus != 0) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline)
                << "the user manager did not start";
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_EQ(systemctl({"start", socketUnit_}).exitStatus, 0);
    }

    void TearDown() override {
        // The manager stops its units, the agent included, before it ends.
        if (manager_)
            manager_->terminate(15s);
        std::error_code error;
        fs::remove_all(home_, error);
    }

    ChildResult systemctl(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {systemctl_, "--user"});
        return runChild(systemctl_, arguments);
    }

    std::string property(const std::string& unit, const std::string& name) {
        std::string value = systemctl({"show", "-p", name, "--value", unit}).out;
        while (!value.empty() && value.back() == '\n')
            value.pop_back();
        return value;
    }

    RuntimeDirectory runtime_;
    fs::path home_;
    std::string systemctl_;
    std::string socketUnit_;
    std::string serviceUnit_;
    std::optional<BackgroundProcess> manager_;
};

} // namespace

TEST_F(PrivateUserManager, SocketStartsTheAgentWhichEndsThirtySecondsAfterItsLastReply) {
    EXPECT_EQ(property(socketUnit_, "ActiveState"), "active");
    EXPECT_EQ(property(serviceUnit_, "ActiveState"), "inactive");

    ChildResult first = fetch();
    ASSERT_EQ(first.exitStatus, 0) << first.err;
    EXPECT_TRUE(decodeSnapshot(first.out));
    std::string agent = property(serviceUnit_, "MainPID");
    ASSERT_NE(agent, "0");
    EXPECT_EQ(fs::read_symlink("/proc/" + agent + "/exe"), fs::path(AGENT_PATH));

    // A second use a little later moves the end; the same agent serves it.
    std::this_thread::sleep_for(5s);
    ChildResult second = fetch();
    auto lastReply = std::chrono::steady_clock::now();
    ASSERT_EQ(second.exitStatus, 0) << second.err;
    EXPECT_EQ(property(serviceUnit_, "MainPID"), agent);

    auto deadline = lastReply + 45s;
    while (property(serviceUnit_, "ActiveState") != "inactive") {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the agent did not end";
        std::this_thread::sleep_for(100ms);
    }
    double idle =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - lastReply).count();
    EXPECT_GE(idle, 29.0);
    EXPECT_LE(idle, 32.0);
    EXPECT_EQ(property(serviceUnit_, "Result"), "success");
    EXPECT_EQ(property(serviceUnit_, "ExecMainStatus"), "0");
    EXPECT_EQ(property(socketUnit_, "ActiveState"), "active");

    // Nothing is lost: the next connection starts a new agent.
    ChildResult third = fetch();
    ASSERT_EQ(third.exitStatus, 0) << third.err;
    EXPECT_TRUE(decodeSnapshot(third.out));
    std::string next = property(serviceUnit_, "MainPID");
    EXPECT_NE(next, "0");
    EXPECT_NE(next, agent);
}
