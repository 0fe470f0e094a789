// The sensor service client against the real agent and stand-ins, each a process of its
// own on a real socket. This program carries the plugin app's identity, so agents admit
// it; FakeAgent carries the agent's identity, FakeAgentOtherAnchor the same under another
// anchor.
#include "App/SensorServiceClient.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::string describe(const FetchResult& result) {
    if (auto* snapshot = std::get_if<SensorSnapshot>(&result))
        return "snapshot of " + snapshot->pluginVersion.value_or("?") + " build " +
               std::to_string(snapshot->pluginBuild.value_or(0));
    if (auto* error = std::get_if<ClientError>(&result))
        return std::string(description(*error));
    return "connection error " + std::get<ConnectionError>(result).description;
}

// What one fetch delivered, and after how long; shared, so a late delivery finds it.
struct Deliveries {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<std::string, Clock::duration>> results;

    // Those delivered once `count` have come or `limit` has passed.
    auto awaited(std::size_t count, Clock::duration limit) {
        std::unique_lock held(mutex);
        changed.wait_for(held, limit, [&] { return results.size() >= count; });
        return results;
    }
};

std::shared_ptr<Deliveries> fetch(std::chrono::duration<double> timeout) {
    auto deliveries = std::make_shared<Deliveries>();
    SensorServiceClient::fetchSnapshot(
        timeout, [deliveries, start = Clock::now()](FetchResult result) {
            std::lock_guard held(deliveries->mutex);
            deliveries->results.emplace_back(describe(result), Clock::now() - start);
            deliveries->changed.notify_all();
        });
    return deliveries;
}

} // namespace

TEST(ClientAgainstAgents, EachAgentEndsTheFetchAsItBehaves) {
    struct Case {
        std::string program;
        std::vector<std::string> arguments;
        std::string result;
        double timeout = 5;
    };
    const std::string fake = "snapshot of 0.0.1 build 7";
    auto error = [](ClientError error) { return std::string(description(error)); };
    const Case cases[] = {
        {AGENT_PATH, {}, "snapshot of " PLUGIN_VERSION " build " + std::to_string(PLUGIN_BUILD)},
        {FAKE_AGENT_PATH, {"padded", "65536"}, fake},
        {FAKE_AGENT_PATH, {"padded", "65537"}, error(ClientError::responseTooLarge)},
        // Beyond what the transport carries.
        {FAKE_AGENT_PATH, {"padded", "1048577"}, error(ClientError::unavailable)},
        {FAKE_AGENT_PATH, {"garbage"}, error(ClientError::invalidResponse)},
        {FAKE_AGENT_PATH, {"version", "2"}, error(ClientError::incompatibleVersion)},
        {FAKE_AGENT_PATH, {"dies"}, error(ClientError::unavailable)},
        // Its reply would be taken, were it ever decoded.
        {FAKE_AGENT_OTHER_ANCHOR_PATH, {"snapshot"}, error(ClientError::unavailable)},
        {FAKE_AGENT_PATH, {"slow", "1500"}, error(ClientError::timedOut), 0.3},
    };
    RuntimeDirectory runtime;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + " " + testing::PrintToString(c.arguments));
        auto agent = BackgroundProcess::spawn(c.program, c.arguments);
        ASSERT_TRUE(waitForListener(runtime.socketPath(), 5s));
        auto deliveries = fetch(std::chrono::duration<double>(c.timeout));
        auto results = deliveries->awaited(1, 10s);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].first, c.result);
        EXPECT_LT(results[0].second, 2s); // failures come well before the time-out
        if (c.arguments == std::vector<std::string>{"dies"}) {
            EXPECT_EQ(agent.waitForExit(5s), 0);
        }
        if (c.result == error(ClientError::timedOut)) {
            EXPECT_GE(results[0].second, std::chrono::duration<double>(c.timeout));
            EXPECT_EQ(deliveries->awaited(2, 2s).size(), 1u); // the late reply is ignored
        }
    }
}
