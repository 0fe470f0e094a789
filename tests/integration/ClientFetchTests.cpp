// The sensor service client against the real agent and stand-in agents, each a process
// of its own on a real socket. This test program carries the plugin app's identity, so
// agents admit it; the stand-ins carry the agent's identity unless a test says otherwise.
#include "App/SensorServiceClient.h"
#include "support/FakeAgentSnapshot.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// What one fetch delivered, and when; shared, so a late delivery finds it still there.
class Delivery {
  public:
    static std::shared_ptr<Delivery> fetch(std::chrono::duration<double> timeout) {
        auto delivery = std::make_shared<Delivery>();
        SensorServiceClient::fetchSnapshot(timeout, [delivery](FetchResult result) {
            std::lock_guard held(delivery->mutex);
            delivery->results.push_back(std::move(result));
            delivery->firstAt = delivery->firstAt.value_or(Clock::now());
            delivery->changed.notify_all();
        });
        return delivery;
    }

    // The first result, once delivered within `limit`.
    std::optional<FetchResult> first(std::chrono::milliseconds limit = 10s) {
        std::unique_lock held(mutex);
        if (!changed.wait_for(held, limit, [&] { return !results.empty(); }))
            return std::nullopt;
        return results.front();
    }

    // Whether anything beyond the first arrives within `limit`.
    bool anotherWithin(std::chrono::milliseconds limit) {
        std::unique_lock held(mutex);
        return changed.wait_for(held, limit, [&] { return results.size() > 1; });
    }

    Clock::duration took() {
        std::lock_guard held(mutex);
        return firstAt.value_or(Clock::time_point::max()) - startedAt;
    }

  private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<FetchResult> results;
    const Clock::time_point startedAt = Clock::now();
    std::optional<Clock::time_point> firstAt;
};

std::optional<ClientError> clientError(const std::optional<FetchResult>& result) {
    if (!result)
        return std::nullopt;
    if (auto error = std::get_if<ClientError>(&*result))
        return *error;
    return std::nullopt;
}

class ClientAgainstAgent : public testing::Test {
  protected:
    // Starts `program` with `arguments` and waits until it listens.
    void start(const std::string& program, std::vector<std::string> arguments = {}) {
        agent.emplace(BackgroundProcess::spawn(program, std::move(arguments)));
        ASSERT_TRUE(waitForListener(runtime.socketPath(), 5s)) << program;
    }
    void startFake(std::vector<std::string> arguments) { start(FAKE_AGENT_PATH, arguments); }

    RuntimeDirectory runtime;
    std::optional<BackgroundProcess> agent;
};

} // namespace

TEST_F(ClientAgainstAgent, RealAgentGivesAFreshSnapshotPerFetch) {
    start(AGENT_PATH);
    auto first = Delivery::fetch(5s)->first();
    auto second = Delivery::fetch(5s)->first();
    ASSERT_TRUE(first && std::holds_alternative<SensorSnapshot>(*first));
    ASSERT_TRUE(second && std::holds_alternative<SensorSnapshot>(*second));
    const auto& snapshot = std::get<SensorSnapshot>(*first);
    EXPECT_EQ(snapshot.protocolVersion, 1);
    EXPECT_EQ(snapshot.pluginVersion, PLUGIN_VERSION);
    EXPECT_EQ(snapshot.pluginBuild, PLUGIN_BUILD);
    EXPECT_LT(snapshot.timestamp, std::get<SensorSnapshot>(*second).timestamp);
}

TEST_F(ClientAgainstAgent, NoAgentIsUnavailableAtOnce) {
    auto delivery = Delivery::fetch(5s);
    EXPECT_EQ(clientError(delivery->first()), ClientError::unavailable);
    EXPECT_LT(delivery->took(), 2s);
}

TEST_F(ClientAgainstAgent, AgentOfAnotherIdentityIsUnavailableAndItsReplyUnused) {
    start(FAKE_AGENT_OTHER_APP_PATH, {"snapshot"});
    auto delivery = Delivery::fetch(5s);
    EXPECT_EQ(clientError(delivery->first()), ClientError::unavailable);
    EXPECT_LT(delivery->took(), 2s);
}

TEST_F(ClientAgainstAgent, StandInWithTheAgentsIdentityIsServed) {
    startFake({"snapshot"});
    auto result = Delivery::fetch(5s)->first();
    ASSERT_TRUE(result && std::holds_alternative<SensorSnapshot>(*result));
    EXPECT_EQ(std::get<SensorSnapshot>(*result), fakeAgentSnapshot());
}

TEST_F(ClientAgainstAgent, SlowAgentTimesOutAndItsLateReplyIsIgnored) {
    startFake({"slow", "1500"});
    auto delivery = Delivery::fetch(0.3s);
    EXPECT_EQ(clientError(delivery->first()), ClientError::timedOut);
    EXPECT_GE(delivery->took(), 300ms);
    EXPECT_LT(delivery->took(), 1500ms);
    EXPECT_FALSE(delivery->anotherWithin(2s));
}

TEST_F(ClientAgainstAgent, TimeOutOfZeroWaitsATenthOfASecond) {
    startFake({"slow", "1500"});
    for (double timeout : {0.0, -1.0}) {
        auto delivery = Delivery::fetch(std::chrono::duration<double>(timeout));
        EXPECT_EQ(clientError(delivery->first()), ClientError::timedOut) << timeout;
        EXPECT_GE(delivery->took(), 100ms) << timeout;
        EXPECT_LT(delivery->took(), 1500ms) << timeout;
    }
}

TEST_F(ClientAgainstAgent, AgentDyingMidRequestIsUnavailableLongBeforeTheTimeOut) {
    startFake({"dies"});
    auto delivery = Delivery::fetch(5s);
    EXPECT_EQ(clientError(delivery->first()), ClientError::unavailable);
    EXPECT_LT(delivery->took(), 2s);
    EXPECT_EQ(agent->waitForExit(5s), 0);
}

TEST_F(ClientAgainstAgent, ReplyOf65536BytesIsTaken) {
    startFake({"padded", "65536"});
    auto result = Delivery::fetch(5s)->first();
    ASSERT_TRUE(result && std::holds_alternative<SensorSnapshot>(*result));
    EXPECT_EQ(std::get<SensorSnapshot>(*result), fakeAgentSnapshot());
}

TEST_F(ClientAgainstAgent, ReplyOf65537BytesIsTooLarge) {
    startFake({"padded", "65537"});
    EXPECT_EQ(clientError(Delivery::fetch(5s)->first()), ClientError::responseTooLarge);
}

TEST_F(ClientAgainstAgent, ReplyBeyondWhatTheTransportCarriesIsUnavailable) {
    startFake({"padded", "1048577"});
    auto delivery = Delivery::fetch(5s);
    EXPECT_EQ(clientError(delivery->first()), ClientError::unavailable);
    EXPECT_LT(delivery->took(), 2s);
}

TEST_F(ClientAgainstAgent, GarbageIsInvalid) {
    startFake({"garbage"});
    EXPECT_EQ(clientError(Delivery::fetch(5s)->first()), ClientError::invalidResponse);
}

TEST_F(ClientAgainstAgent, AnotherProtocolVersionIsIncompatible) {
    startFake({"version", "2"});
    EXPECT_EQ(clientError(Delivery::fetch(5s)->first()), ClientError::incompatibleVersion);
}
