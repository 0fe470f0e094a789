#include "support/WindowScenes.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;
using enum ServiceStatus;

namespace {

// The four sentences, shown below as "message0" to "message3".
const std::string messages[] = {
    "The background service couldn’t be installed. Check System Settings → General → Login "
    "Items, then try again.",
    "The background service couldn’t be removed. Quit Corvane and try again.",
    "Allow Corvane Plugin in System Settings → General → Login Items.",
    "Corvane Plugin couldn’t communicate with its background service. Uninstall and install the "
    "service again."};

SensorSnapshot reading(const std::string& name) {
    SensorSnapshot snapshot;
    snapshot.processorName = name;
    return snapshot;
}

// The manager as the window sees it, with the number of fetches started so far.
std::string state(const Scene& scene) {
    const PluginManager& m = *scene.manager;
    const char* statuses[] = {"notRegistered", "enabled", "requiresApproval", "notFound"};
    auto message = std::find(std::begin(messages), std::end(messages), m.message().value_or(""));
    return statuses[int(m.status())] +
           (" " + m.snapshot().value_or(reading("none")).processorName.value()) +
           (m.message() ? " message" + std::to_string(message - messages) : " none") +
           (m.isWorking() ? " working" : "") + (m.isRefreshing() ? " refreshing" : "") +
           (m.showRemovalInstructions() ? " removal" : "") +
           " fetches=" + std::to_string(scene.fetches.size());
}

} // namespace

// Observers hear of every assignment before it; a fast reply still refreshes for 0.2 s. The
// service manager's answer comes on a later turn of the main actor, never within the call.
TEST(PluginManager, RefreshesFromInstallToRelease) {
    Scene s(notRegistered);
    std::vector<std::string> heard;
    s.manager->observe([&](PluginManager::Property) { heard.push_back(state(s)); });
    s.manager->install();
    EXPECT_EQ(state(s), "notRegistered none none working fetches=0");
    s.actor.advance();
    ASSERT_EQ(heard.size(), 6u); // working, message, removal (both unchanged), status, ...
    EXPECT_EQ(heard[0], "notRegistered none none fetches=0");
    EXPECT_EQ(heard[4], "enabled none none working fetches=0");
    s.manager->refreshSnapshot();
    EXPECT_EQ(state(s), "enabled none none refreshing fetches=1");
    EXPECT_EQ(s.timeout, 5s);
    s.actor.advance(10ms);
    s.answer(reading("A"), 0ms);
    EXPECT_EQ(state(s), "enabled A none refreshing fetches=1");
    s.actor.advance(189ms);
    EXPECT_EQ(state(s), "enabled A none refreshing fetches=1");
    s.actor.advance(1ms);
    EXPECT_EQ(state(s), "enabled A none fetches=1");
    s.manager->refreshSnapshot();
    s.actor.advance(5s);
    s.answer(ClientError::timedOut, 0ms);
    EXPECT_EQ(state(s), "enabled A message3 fetches=2");
    s.manager->refreshSnapshot();
    s.answer(reading("B"));
    EXPECT_EQ(state(s), "enabled B none fetches=3");
    // A manager released during a fetch is gone, and its result dropped.
    s.manager->refreshSnapshot();
    std::weak_ptr<PluginManager> held = std::exchange(s.manager, nullptr);
    EXPECT_TRUE(held.expired());
    s.answer(reading("C"));
}

// The refresh after a failed install goes by the status read last, not the platform's.
TEST(PluginManager, InstallAndUninstallFailingOrAwaitingApproval) {
    Scene s(notRegistered);
    s.registersAs.reset();
    s.status = enabled;
    s.manager->install();
    s.actor.advance();
    s.manager->refreshSnapshot();
    EXPECT_EQ(state(s), "notRegistered none message0 fetches=0");
    s.registersAs = enabled;
    s.manager->install();
    s.actor.advance();
    s.answer(reading("A"));
    s.manager->uninstall();
    EXPECT_EQ(state(s), "enabled A none working fetches=1");
    s.remove(false, enabled);
    EXPECT_EQ(state(s), "enabled A message1 fetches=1");
    s.manager->uninstall();
    s.remove(true, notRegistered);
    EXPECT_EQ(state(s), "notRegistered none none removal fetches=1");
    s.registersAs = requiresApproval;
    s.manager->install();
    s.actor.advance();
    EXPECT_EQ(state(s), "requiresApproval none message2 fetches=1");
}
