// The agent registered through the app's own registration with a private systemd user
// manager: installed, started by its socket, ending 30 s after its last reply, removed.
#include "Platform/linux/LaunchAgentUnits.h"
#include "Platform/linux/SystemdAgentService.h"
#include "Shared/SnapshotJSON.h"
#include "support/PrivateUserManager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::string_view plistName = "com.quillmarsh.CorvanePlugin.Agent.plist";
const SystemdUnits units = systemdUnitsForBundle(APP_BUNDLE, plistName).value();

ChildResult fetch() {
    return runChild(FETCH_CLIENT_PATH, {FETCH_CLIENT_PATH});
}

bool unregister(AgentService& service) {
    std::promise<bool> outcome;
    service.unregisterService([&](bool succeeded) { outcome.set_value(succeeded); });
    return outcome.get_future().get();
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A copy of the app elsewhere: its launch agent alone.
fs::path otherCopy(const fs::path& folder) {
    fs::path agents = folder / "Other.app/Contents/Library/LaunchAgents";
    fs::create_directories(agents);
    fs::copy_file(fs::path(APP_BUNDLE) / "Contents/Library/LaunchAgents" / plistName,
                  agents / plistName, fs::copy_options::overwrite_existing);
    return folder / "Other.app";
}

} // namespace

TEST(AgentRegistration, InstallsServesAndUninstalls) {
    std::string failure;
    auto manager = PrivateUserManager::start(failure);
    ASSERT_TRUE(manager) << failure;
    // The user bus (where the manager has started a bus daemon), then, with no bus to be
    // found, the manager's own socket.
    for (const char* bus : {"", "unix:path=/nonexistent"}) {
        SCOPED_TRACE(bus);
        setenv("DBUS_SESSION_BUS_ADDRESS", bus, 1);
        auto service = makeAgentService(APP_BUNDLE, plistName);
        EXPECT_EQ(service->status(), ServiceStatus::notRegistered);
        ASSERT_TRUE(service->registerService());
        EXPECT_EQ(service->status(), ServiceStatus::enabled);
        EXPECT_EQ(manager->property(units.socketUnitName, "ActiveState"), "active");

        // Installing one copy of the app unseats another.
        auto other = makeAgentService(otherCopy(manager->home()), plistName);
        EXPECT_EQ(other->status(), ServiceStatus::notRegistered);
        ASSERT_TRUE(other->registerService());
        EXPECT_EQ(other->status(), ServiceStatus::enabled);
        EXPECT_EQ(service->status(), ServiceStatus::notRegistered);
        ASSERT_TRUE(service->registerService());

        ChildResult served = fetch();
        ASSERT_EQ(served.exitStatus, 0) << served.err;
        EXPECT_TRUE(decodeSnapshot(served.out));
        std::string agent = manager->property(units.serviceUnitName, "MainPID");
        EXPECT_EQ(fs::read_symlink("/proc/" + agent + "/exe"), fs::path(AGENT_PATH));

        EXPECT_TRUE(unregister(*service));
        EXPECT_EQ(service->status(), ServiceStatus::notRegistered);
        EXPECT_FALSE(fs::exists(manager->unitFolder() / units.socketUnitName));
        EXPECT_FALSE(fs::exists(manager->unitFolder() / units.serviceUnitName));
        EXPECT_NE(manager->property(units.serviceUnitName, "ActiveState"), "active");
        EXPECT_NE(fetch().exitStatus, 0);
    }
}

TEST(AgentRegistration, MaskedSocketAwaitsApprovalThroughInstall) {
    std::string failure;
    auto manager = PrivateUserManager::start(failure);
    ASSERT_TRUE(manager) << failure;
    fs::create_directories(manager->unitFolder());
    fs::create_symlink("/dev/null", manager->unitFolder() / units.socketUnitName);
    auto service = makeAgentService(APP_BUNDLE, plistName);
    EXPECT_EQ(service->status(), ServiceStatus::requiresApproval);
    EXPECT_TRUE(service->registerService());
    EXPECT_EQ(service->status(), ServiceStatus::requiresApproval);
    EXPECT_EQ(fs::read_symlink(manager->unitFolder() / units.socketUnitName), "/dev/null");
}

TEST(AgentRegistration, WithoutAManagerEveryOperationFailsAtOnce) {
    RuntimeDirectory runtime;
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_CONFIG_HOME", runtime.path().c_str(), 1);
    auto service = makeAgentService(APP_BUNDLE, plistName);
    auto start = Clock::now();
    EXPECT_FALSE(service->registerService());
    EXPECT_EQ(service->status(), ServiceStatus::notRegistered);
    EXPECT_FALSE(unregister(*service));
    EXPECT_LT(secondsSince(start), 1.0);
    EXPECT_FALSE(fs::exists(runtime.path() / "systemd/user" / units.socketUnitName));
    // A bundle without the launch agent.
    EXPECT_EQ(makeAgentService(runtime.path(), plistName)->status(), ServiceStatus::notFound);
}

TEST(AgentRegistration, SocketStartsTheAgentWhichEndsThirtySecondsAfterItsLastReply) {
    std::string failure;
    auto manager = PrivateUserManager::start(failure);
    ASSERT_TRUE(manager) << failure;
    ASSERT_TRUE(makeAgentService(APP_BUNDLE, plistName)->registerService());
    const std::string& socket = units.socketUnitName;
    const std::string& service = units.serviceUnitName;
    EXPECT_EQ(manager->property(service, "ActiveState"), "inactive");

    ChildResult first = fetch();
    ASSERT_EQ(first.exitStatus, 0) << first.err;
    std::string agent = manager->property(service, "MainPID");
    ASSERT_NE(agent, "0");

    // A second use a little later moves the end; the same agent serves it.
    std::this_thread::sleep_for(5s);
    auto beforeLast = Clock::now();
    ChildResult second = fetch();
    auto afterLast = Clock::now();
    ASSERT_EQ(second.exitStatus, 0) << second.err;
    EXPECT_EQ(manager->property(service, "MainPID"), agent);

    while (manager->property(service, "ActiveState") != "inactive") {
        ASSERT_LT(secondsSince(afterLast), 45.0) << "the agent did not end";
        std::this_thread::sleep_for(100ms);
    }
    // The last reply left between the two marks: not sooner than 30 s after the first,
    // and, give or take the polling, 30 s after the second.
    EXPECT_GE(secondsSince(beforeLast), 30.0);
    EXPECT_LE(secondsSince(afterLast), 32.0);
    EXPECT_EQ(manager->property(service, "Result"), "success");
    EXPECT_EQ(manager->property(service, "ExecMainStatus"), "0");
    EXPECT_EQ(manager->property(socket, "ActiveState"), "active");

    // Nothing is lost: the next connection starts a new agent.
    ChildResult third = fetch();
    ASSERT_EQ(third.exitStatus, 0) << third.err;
    EXPECT_TRUE(decodeSnapshot(third.out));
    std::string next = manager->property(service, "MainPID");
    EXPECT_NE(next, "0");
    EXPECT_NE(next, agent);
}
