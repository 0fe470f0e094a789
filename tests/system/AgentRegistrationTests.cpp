#include "Platform/linux/registration/LaunchAgentUnits.h"
#include "Platform/linux/registration/SystemdAgentService.h"
#include "Shared/ServiceContract.h"
#include "Shared/SnapshotJSON.h"
#include "support/AgentServiceCalls.h"
#include "support/FakeHwmon.h"
#include "support/PrivateUserManager.h"

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using enum ServiceStatus;

namespace {

constexpr std::string_view plistName = "com.quillmarsh.CorvanePlugin.Agent.plist";
const SystemdUnits units = asOptional(systemdUnitsForBundle(APP_BUNDLE, plistName)).value();

// The agent's unit rates this exposure or better; a sanitizer build's agent may also use
// ptrace and change its personality, as its own checks need.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr const char* exposureAtMost = "--threshold=61";
#else
constexpr const char* exposureAtMost = "--threshold=59";
#endif

bool fetched() {
    ChildResult result = runChild(FETCH_CLIENT_PATH, {FETCH_CLIENT_PATH});
    return result.exitStatus == 0 && decodeSnapshot(result.out);
}

} // namespace

TEST(AgentRegistration, InstallsServesEndsWhenIdleAndUninstallsOrAwaitsApprovalWhenMasked) {
    std::string failure;
    auto manager = PrivateUserManager::start(failure);
    ASSERT_TRUE(manager) << failure;
    auto agent = [&](const char* property) {
        return manager->systemctl({"show", "-p", property, "--value", units.serviceUnitName}).out;
    };
    // Through the user bus the manager has started, then, with none, the manager's socket.
    for (const char* bus : {"", "unix:path=/nonexistent"}) {
        SCOPED_TRACE(bus);
        setenv("DBUS_SESSION_BUS_ADDRESS", bus, 1);
        auto service = makeAgentService(APP_BUNDLE, plistName);
        EXPECT_EQ(statusNow(*service), notRegistered);
        ASSERT_TRUE(registered(*service));
        EXPECT_EQ(statusNow(*service), enabled);
        EXPECT_EQ(agent("ActiveState"), "inactive\n");
        auto beforeReply = Clock::now();
        ASSERT_TRUE(fetched());
        if (*bus == '\0') {
            auto afterReply = Clock::now();
            std::string first = agent("MainPID");
            while (agent("ActiveState") != "inactive\n") {
                ASSERT_LT(Clock::now() - afterReply, 45s) << "the agent did not end";
                std::this_thread::sleep_for(100ms);
            }
            EXPECT_GE(Clock::now() - beforeReply, 30s);
            EXPECT_LE(Clock::now() - afterReply, 32s); // give or take the polling
            EXPECT_EQ(agent("Result"), "success\n");
            // The socket stays: the next connection starts a new agent.
            EXPECT_TRUE(fetched());
            EXPECT_NE(agent("MainPID"), first);
        }
        EXPECT_TRUE(unregistered(*service));
        EXPECT_EQ(statusNow(*service), notRegistered);
        for (const std::string& unit : {units.socketUnitName, units.serviceUnitName})
            EXPECT_FALSE(fs::exists(manager->unitFolder() / unit)) << unit;
        EXPECT_FALSE(fs::exists(fs::path(std::getenv("XDG_RUNTIME_DIR")) /
                                std::string(contract::sensorMachServiceName)));
        EXPECT_NE(agent("ActiveState"), "active\n");
        EXPECT_FALSE(fetched());
    }
    fs::create_directories(manager->unitFolder());
    fs::create_symlink("/dev/null", manager->unitFolder() / units.socketUnitName);
    auto service = makeAgentService(APP_BUNDLE, plistName);
    EXPECT_EQ(statusNow(*service), requiresApproval);
    EXPECT_TRUE(registered(*service));
    EXPECT_EQ(statusNow(*service), requiresApproval);
    EXPECT_EQ(fs::read_symlink(manager->unitFolder() / units.socketUnitName), "/dev/null");
}

// Fenced in by its unit, the agent still checks its peers and proves itself to them, and
// reads every source: hwmon and DRM (a tree of our own bound over /sys by a drop-in) and
// NVIDIA's library (the fake, two devices). The unit scores as a sandboxed one.
TEST(AgentRegistration, TheSandboxedAgentStillChecksItsPeersAndReadsEverySource) {
    std::string failure;
    auto manager = PrivateUserManager::start(failure);
    ASSERT_TRUE(manager) << failure;
    auto service = makeAgentService(APP_BUNDLE, plistName);
    ASSERT_TRUE(registered(*service));
    ChildResult analysis =
        runChild("/usr/bin/systemd-analyze",
                 {"systemd-analyze", "security", "--offline=true", "--user", exposureAtMost,
                  (manager->unitFolder() / units.serviceUnitName).string()});
    EXPECT_EQ(analysis.exitStatus, 0) << analysis.out << analysis.err;

    FakeHwmon tree;
    tree.addChip(0, "pci0000:00/0000:00:18.3",
                 {"name=k10temp", "temp1_label=Tctl", "temp1_input=65000", "temp2_label=Tdie",
                  "temp2_input=45000", "fan1_input=1200"});
    fs::create_directories(tree.root / "class/drm/card0/device");
    writeFile(tree.root / "class/drm/card0/device/gpu_busy_percent", "37\n");
    // Each time from a fresh agent, so that it runs with the drop-in of the moment.
    auto fetchWith = [&](const std::string& settings) {
        fs::path dropIn = manager->unitFolder() / (units.serviceUnitName + ".d");
        fs::create_directories(dropIn);
        writeFile(dropIn / "sources.conf",
                  "[Service]\nBindReadOnlyPaths=" + tree.root.string() + ":/sys\n" + settings);
        manager->systemctl({"stop", units.serviceUnitName});
        EXPECT_EQ(manager->systemctl({"daemon-reload"}).exitStatus, 0);
        ChildResult fetch = runChild(FETCH_CLIENT_PATH, {FETCH_CLIENT_PATH});
        auto snapshot = decodeSnapshot(fetch.out);
        EXPECT_TRUE(snapshot) << fetch.err;
        return snapshot.value_or(SensorSnapshot{});
    };
    SensorSnapshot board = fetchWith("");
    EXPECT_EQ(board.fanCount, 1);
    EXPECT_EQ(board.gpu.value_or(GPUReading{}).utilizationPercent, 37);
    SensorSnapshot nvidia = fetchWith("Environment=LD_LIBRARY_PATH=" FAKE_NVML_DIR "\n");
    EXPECT_EQ(nvidia.fanCount, 3); // the board's, then each NVIDIA device's
    EXPECT_EQ(nvidia.gpu.value_or(GPUReading{}).utilizationPercent, 100);
    bool intelLists = board.processorName && !board.processorName->starts_with("Apple ");
    if (intelLists) {
        EXPECT_EQ(std::tuple(board.cpuTemperatureCelsius, nvidia.gpuTemperatureCelsius),
                  std::tuple(std::optional(45.0), std::optional(64.0)));
    }
    EXPECT_TRUE(unregistered(*service));
}

TEST(AgentRegistration, WithoutAManagerEveryOperationFailsAtOnce) {
    RuntimeDirectory runtime;
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_CONFIG_HOME", runtime.path().c_str(), 1);
    auto service = makeAgentService(APP_BUNDLE, plistName);
    auto start = Clock::now();
    EXPECT_FALSE(registered(*service));
    EXPECT_EQ(statusNow(*service), notRegistered);
    EXPECT_FALSE(unregistered(*service));
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_FALSE(fs::exists(runtime.path() / "systemd/user" / units.socketUnitName));
    EXPECT_EQ(statusNow(*makeAgentService(runtime.path(), plistName)), notFound); // no agent there
}

// A manager that does not answer holds no caller: each operation returns at once and ends
// once the manager answers again, or at its deadline.
TEST(AgentRegistration, AStoppedManagerHoldsNoCaller) {
    std::string failure;
    auto manager = PrivateUserManager::start(failure);
    ASSERT_TRUE(manager) << failure;
    auto service = makeAgentService(APP_BUNDLE, plistName);
    ASSERT_EQ(kill(manager->pid(), SIGSTOP), 0);
    std::promise<bool> registration;
    std::promise<ServiceStatus> status;
    auto start = Clock::now();
    service->registerService([&](bool succeeded) { registration.set_value(succeeded); });
    service->status([&](ServiceStatus now) { status.set_value(now); });
    EXPECT_LT(Clock::now() - start, 50ms);
    auto registered = registration.get_future();
    EXPECT_EQ(registered.wait_for(1s), std::future_status::timeout);
    ASSERT_EQ(kill(manager->pid(), SIGCONT), 0);
    EXPECT_TRUE(registered.get());
    EXPECT_EQ(status.get_future().get(), enabled);
    ASSERT_EQ(kill(manager->pid(), SIGSTOP), 0);
    start = Clock::now();
    EXPECT_FALSE(unregistered(*service));
    EXPECT_GE(Clock::now() - start, 9s);
    EXPECT_LT(Clock::now() - start, 12s);
    ASSERT_EQ(kill(manager->pid(), SIGCONT), 0);
}
