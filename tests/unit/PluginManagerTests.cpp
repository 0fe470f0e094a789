#include "App/PluginManager.h"
#include "support/ManualMainActor.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Property = PluginManager::Property;

namespace {

// The four sentences, each under a short name for the expectations below.
const std::map<std::string, std::string> messageNames = {
    {"The background service couldn’t be installed. Check System Settings → General → Login "
     "Items, then try again.",
     "install-failed"},
    {"The background service couldn’t be removed. Quit Corvane and try again.", "removal-failed"},
    {"Allow Corvane Plugin in System Settings → General → Login Items.", "allow"},
    {"Corvane Plugin couldn’t communicate with its background service. Uninstall and install the "
     "service again.",
     "no-contact"}};

SensorSnapshot reading(const std::string& name) {
    SensorSnapshot snapshot;
    snapshot.processorName = name;
    return snapshot;
}

// What the registration and the agent will do, played by the test.
struct Script {
    ServiceStatus status = ServiceStatus::notRegistered;
    bool registers = true;
    ServiceStatus registeredAs = ServiceStatus::enabled;
    std::function<void(bool)> unregistering;
    std::vector<SensorServiceClient::Completion> fetches;
    std::vector<double> timeouts;
};

struct ScriptedService final : AgentService {
    explicit ScriptedService(Script& script) : script(script) {}
    ServiceStatus status() override { return script.status; }
    bool registerService() override {
        if (script.registers)
            script.status = script.registeredAs;
        return script.registers;
    }
    void unregisterService(std::function<void(bool)> completion) override {
        script.unregistering = std::move(completion);
    }
    Script& script;
};

struct World {
    explicit World(ServiceStatus initial) {
        script.status = initial;
        manager = PluginManager::create(
            mainActor, std::make_unique<ScriptedService>(script),
            [this](std::chrono::duration<double> timeout, SensorServiceClient::Completion done) {
                script.timeouts.push_back(timeout.count());
                script.fetches.push_back(std::move(done));
            });
    }
    // The agent answers the latest fetch, from its own side.
    void answer(FetchResult result) { script.fetches.back()(std::move(result)); }
    void unregistered(bool succeeded) {
        mainActor.advance();
        script.unregistering(succeeded);
        mainActor.advance();
    }
    // The manager as the window sees it, with the number of fetches started so far.
    void check() {
        if (!manager) {
            seen.push_back("released");
            return;
        }
        const char* statuses[] = {"notRegistered", "enabled", "requiresApproval", "notFound"};
        auto message = manager->message();
        std::string line = statuses[int(manager->status())];
        line += " " + (manager->snapshot() ? *manager->snapshot()->processorName : "none");
        line += " " + (message ? messageNames.count(*message) ? messageNames.at(*message) : *message
                               : "none");
        for (auto [flag, name] : {std::pair{manager->isWorking(), " working"},
                                  {manager->isRefreshing(), " refreshing"},
                                  {manager->showRemovalInstructions(), " removal"}})
            if (flag)
                line += name;
        seen.push_back(line + " fetches=" + std::to_string(script.fetches.size()));
    }

    ManualMainActor mainActor;
    Script script;
    std::shared_ptr<PluginManager> manager;
    std::vector<std::string> seen;
};

struct Case {
    const char* name;
    ServiceStatus initial;
    std::function<void(World&)> play; // calls check() where the expectations look
    std::vector<std::string> expected;
};

const Case cases[] = {
    {"FastReplyShowsAtOnceAndRefreshingLastsTwoTenths",
     ServiceStatus::enabled,
     [](World& w) {
         w.mainActor.advance(10ms);
         w.answer(reading("A"));
         w.mainActor.advance();
         w.check();
         w.mainActor.advance(189ms);
         w.check();
         w.mainActor.advance(1ms);
         w.check();
     },
     {"enabled A none refreshing fetches=1", "enabled A none refreshing fetches=1",
      "enabled A none fetches=1"}},
    {"TimeOutKeepsTheSnapshotAndEndsAtOnceThenASuccessClearsTheMessage",
     ServiceStatus::enabled,
     [](World& w) {
         w.answer(reading("A"));
         w.mainActor.advance(1s);
         w.manager->refreshSnapshot();
         w.mainActor.advance(5s);
         w.answer(ClientError::timedOut);
         w.mainActor.advance();
         w.check();
         w.manager->refreshSnapshot();
         w.answer(reading("B"));
         w.mainActor.advance();
         w.check();
     },
     {"enabled A no-contact fetches=2", "enabled B none refreshing fetches=3"}},
    {"InstallAwaitingApprovalAsksForItAndFetchesNothing",
     ServiceStatus::notRegistered,
     [](World& w) {
         w.script.registeredAs = ServiceStatus::requiresApproval;
         w.manager->install();
         w.check();
     },
     {"requiresApproval none allow fetches=0"}},
    {"InstallEnablingStartsOneFetchAndASecondRefreshNone",
     ServiceStatus::notRegistered,
     [](World& w) {
         w.manager->install();
         w.check();
         w.manager->refreshSnapshot();
         w.check();
     },
     {"enabled none none refreshing fetches=1", "enabled none none refreshing fetches=1"}},
    // The refresh after it goes by the status read last, not by the platform.
    {"FailedInstallDoesNotReadTheStatus",
     ServiceStatus::notRegistered,
     [](World& w) {
         w.script.registers = false;
         w.script.status = ServiceStatus::enabled;
         w.manager->install();
         w.check();
         w.manager->refreshSnapshot();
         w.check();
     },
     {"notRegistered none install-failed fetches=0",
      "notRegistered none install-failed fetches=0"}},
    {"UninstallClearsTheSnapshotAndALaterInstallTheRemovalNotice",
     ServiceStatus::enabled,
     [](World& w) {
         w.answer(reading("A"));
         w.mainActor.advance(1s);
         w.manager->uninstall();
         w.check();
         w.script.status = ServiceStatus::notRegistered;
         w.unregistered(true);
         w.check();
         w.script.registeredAs = ServiceStatus::requiresApproval;
         w.manager->install();
         w.check();
     },
     {"enabled A none working fetches=1", "notRegistered none none removal fetches=1",
      "requiresApproval none allow fetches=1"}},
    {"FailedUninstallKeepsTheSnapshot",
     ServiceStatus::enabled,
     [](World& w) {
         w.answer(reading("A"));
         w.mainActor.advance(1s);
         w.manager->uninstall();
         w.unregistered(false);
         w.check();
     },
     {"enabled A removal-failed fetches=1"}},
    {"ReleasedManagerDropsTheResult",
     ServiceStatus::enabled,
     [](World& w) {
         std::weak_ptr<PluginManager> held = w.manager;
         w.manager.reset();
         w.check();
         EXPECT_TRUE(held.expired());
         w.answer(reading("A"));
         w.mainActor.advance(1s);
     },
     {"released"}},
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class PluginManagerCase : public testing::TestWithParam<Case> {};

TEST_P(PluginManagerCase, EndsAsExpected) {
    World world(GetParam().initial);
    GetParam().play(world);
    EXPECT_EQ(world.seen, GetParam().expected);
    for (double timeout : world.script.timeouts)
        EXPECT_EQ(timeout, 5.0);
}

INSTANTIATE_TEST_SUITE_P(Table, PluginManagerCase, testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

// Observers hear of each assignment before it happens, also of one that changes nothing.
TEST(PluginManager, TellsObserversBeforeEachAssignment) {
    World world(ServiceStatus::notRegistered);
    std::vector<std::string> heard;
    world.manager->observe([&](Property property) {
        const auto& m = *world.manager;
        const std::map<Property, std::string> before = {
            {Property::status, "status=" + std::to_string(int(m.status()))},
            {Property::snapshot, m.snapshot() ? "snapshot" : "no snapshot"},
            {Property::message, m.message() ? "message" : "no message"},
            {Property::isWorking, "working=" + std::to_string(m.isWorking())},
            {Property::isRefreshing, "refreshing=" + std::to_string(m.isRefreshing())},
            {Property::showRemovalInstructions,
             "removal=" + std::to_string(m.showRemovalInstructions())}};
        heard.push_back(before.at(property));
    });
    world.manager->install();
    world.answer(reading("A"));
    world.mainActor.advance(1s);
    EXPECT_EQ(heard, (std::vector<std::string>{"working=0", "no message", "removal=0", "status=0",
                                               "refreshing=0", "working=1", "no snapshot",
                                               "no message", "refreshing=1"}));
}

} // namespace
