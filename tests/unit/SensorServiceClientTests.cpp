#include "App/SensorServiceClient.h"
#include "Shared/SnapshotJSON.h"
#include "support/FakeServiceConnection.h"
#include "support/FetchResults.h"
#include "support/ManualQueue.h"

#include <gtest/gtest.h>

#include <future>
#include <limits>
#include <thread>

using namespace std::chrono_literals;

namespace {

SensorSnapshot ordinarySnapshot() {
    SensorSnapshot snapshot;
    snapshot.timestamp = 786000000.5;
    snapshot.processorName = "Apple M1";
    snapshot.cpuTemperatureCelsius = 48;
    snapshot.fanCount = 1;
    snapshot.fans = {FanReading{0, 1500, std::nullopt, std::nullopt}};
    return snapshot;
}

std::string ordinaryReply() {
    return encodeCompact(ordinarySnapshot()).value();
}

std::optional<ClientError> clientError(const FetchResult& result) {
    if (auto error = std::get_if<ClientError>(&result))
        return *error;
    return std::nullopt;
}

const std::string serviceName = "R8QZK2MX4T.group.com.quillmarsh.Vendrel.sensors";
const std::string agentRequirement = "anchor apple generic and certificate leaf[subject.OU] = "
                                     "\"R8QZK2MX4T\" and (identifier \"CorvanePluginAgent\")";

// Notes each time-out armed in the line's journal, then queues it on virtual time.
class JournalingQueue final : public DelayedWorkQueue {
  public:
    JournalingQueue(FakeLine& line, ManualQueue& queue) : line(line), queue(queue) {}
    void runAfter(std::chrono::nanoseconds delay, std::function<void()> work) override {
        line.note("time-out " + std::to_string(delay.count()) + " ns");
        queue.runAfter(delay, std::move(work));
    }

  private:
    FakeLine& line;
    ManualQueue& queue;
};

class FetchOverFakeConnection : public ::testing::Test {
  protected:
    // Every call ends by its time-out at the latest; an open one would hold itself.
    void TearDown() override { queue.advance(1h); }

    void fetch(std::chrono::duration<double> timeout = 5s) {
        SensorServiceClient::fetchSnapshot(timeout, results.completion(), fakeConnections(line),
                                           queue);
    }

    std::optional<ClientError> onlyError() const {
        auto all = results.all();
        if (all.size() != 1)
            ADD_FAILURE() << all.size() << " results delivered";
        return all.empty() ? std::nullopt : clientError(all.front());
    }

    ManualQueue queue;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    FetchResults results;
};

} // namespace

TEST_F(FetchOverFakeConnection, SetsUpAFreshConnectionStepByStep) {
    JournalingQueue journaling(*line, queue);
    SensorServiceClient::fetchSnapshot(5s, results.completion(), fakeConnections(line), journaling);
    EXPECT_EQ(line->journal(), (std::vector<std::string>{
                                   "connect " + serviceName,
                                   "requirement " + agentRequirement,
                                   "interruption handler",
                                   "invalidation handler",
                                   "resume",
                                   "time-out 5000000000 ns",
                                   "proxy",
                                   "fetch",
                               }));
    EXPECT_TRUE(results.all().empty());
}

TEST_F(FetchOverFakeConnection, EachFetchHasItsOwnConnectionAndResult) {
    auto first = std::make_shared<FakeLine>();
    auto second = std::make_shared<FakeLine>();
    std::vector<std::shared_ptr<FakeLine>> lines{first, second};
    std::size_t made = 0;
    auto factory = [&](std::string_view name) { return fakeConnections(lines.at(made++))(name); };
    FetchResults firstResults, secondResults;
    SensorServiceClient::fetchSnapshot(5s, firstResults.completion(), factory, queue);
    SensorServiceClient::fetchSnapshot(5s, secondResults.completion(), factory, queue);
    EXPECT_EQ(made, 2u);

    second->reply(ordinaryReply());
    first->interrupt();
    ASSERT_EQ(secondResults.all().size(), 1u);
    EXPECT_EQ(std::get<SensorSnapshot>(secondResults.all()[0]), ordinarySnapshot());
    ASSERT_EQ(firstResults.all().size(), 1u);
    EXPECT_EQ(clientError(firstResults.all()[0]), ClientError::unavailable);
}

TEST_F(FetchOverFakeConnection, GoodReplyGivesTheSnapshotAfterTheConnectionIsClosed) {
    int invalidationsSeenByCompletion = -1;
    SensorServiceClient::fetchSnapshot(
        5s,
        [&](FetchResult result) {
            invalidationsSeenByCompletion = line->invalidations();
            results.completion()(std::move(result));
        },
        fakeConnections(line), queue);
    line->reply(ordinaryReply());

    ASSERT_EQ(results.all().size(), 1u);
    EXPECT_EQ(std::get<SensorSnapshot>(results.all()[0]), ordinarySnapshot());
    EXPECT_EQ(invalidationsSeenByCompletion, 1);
    auto journal = line->journal();
    EXPECT_EQ(std::vector<std::string>(journal.end() - 3, journal.end()),
              (std::vector<std::string>{"interruption handler cleared",
                                        "invalidation handler cleared", "invalidate"}));
    EXPECT_FALSE(line->handlerSetAtInvalidation());
}

TEST_F(FetchOverFakeConnection, RepliesAreCheckedBeforeDelivery) {
    SensorSnapshot wrongVersion = ordinarySnapshot();
    wrongVersion.protocolVersion = 2;
    const std::pair<std::string, ClientError> replies[] = {
        {std::string(65537, ' '), ClientError::responseTooLarge},
        {"", ClientError::invalidResponse},
        {"{\"protocolVersion\":2}", ClientError::invalidResponse},
        {encodeCompact(wrongVersion).value(), ClientError::incompatibleVersion},
    };
    for (const auto& [reply, expected] : replies) {
        auto line = std::make_shared<FakeLine>();
        FetchResults results;
        SensorServiceClient::fetchSnapshot(5s, results.completion(), fakeConnections(line), queue);
        line->reply(reply);
        ASSERT_EQ(results.all().size(), 1u);
        EXPECT_EQ(clientError(results.all()[0]), expected) << reply.substr(0, 40);
        EXPECT_EQ(line->invalidations(), 1);
    }
}

TEST_F(FetchOverFakeConnection, InterruptionMeansUnavailable) {
    fetch();
    line->interrupt();
    EXPECT_EQ(onlyError(), ClientError::unavailable);
    EXPECT_EQ(line->invalidations(), 1);
}

TEST_F(FetchOverFakeConnection, InvalidationMeansUnavailable) {
    fetch();
    line->invalidateFromPeer();
    EXPECT_EQ(onlyError(), ClientError::unavailable);
    EXPECT_EQ(line->invalidations(), 1);
}

TEST_F(FetchOverFakeConnection, ProxyErrorIsPassedOnUnchanged) {
    fetch();
    line->failProxy(ConnectionError{54, "Connection reset by peer"});
    auto all = results.all();
    ASSERT_EQ(all.size(), 1u);
    auto* error = std::get_if<ConnectionError>(&all[0]);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, 54);
    EXPECT_EQ(error->description, "Connection reset by peer");
    EXPECT_EQ(line->invalidations(), 1);
}

TEST_F(FetchOverFakeConnection, UnusableProxyFailsOnTheCallingThreadBeforeReturning) {
    line->offersProxy = false;
    std::thread::id completedOn;
    SensorServiceClient::fetchSnapshot(
        5s,
        [&](FetchResult result) {
            completedOn = std::this_thread::get_id();
            results.completion()(std::move(result));
        },
        fakeConnections(line), queue);

    EXPECT_EQ(onlyError(), ClientError::unavailable);
    EXPECT_EQ(completedOn, std::this_thread::get_id());
    auto journal = line->journal();
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "fetch"), 0);
    EXPECT_EQ(line->invalidations(), 1);
    queue.advance(5s);
    EXPECT_EQ(results.all().size(), 1u);
}

TEST_F(FetchOverFakeConnection, TimesOutAfterTheTimeOutButNeverBelowATenthOfASecond) {
    const std::pair<double, std::chrono::nanoseconds> cases[] = {
        {5, 5s},
        {0.25, 250ms},
        {0.1, 100ms},
        {0.05, 100ms},
        {0, 100ms},
        {-0.0, 100ms},
        {-3, 100ms},
        {-std::numeric_limits<double>::infinity(), 100ms},
        {std::numeric_limits<double>::quiet_NaN(), 100ms},
    };
    for (auto [timeout, effective] : cases) {
        ManualQueue queue;
        auto line = std::make_shared<FakeLine>();
        FetchResults results;
        SensorServiceClient::fetchSnapshot(std::chrono::duration<double>(timeout),
                                           results.completion(), fakeConnections(line), queue);
        queue.advance(effective - 1ns);
        EXPECT_TRUE(results.all().empty()) << timeout;
        queue.advance(1ns);
        ASSERT_EQ(results.all().size(), 1u) << timeout;
        EXPECT_EQ(clientError(results.all()[0]), ClientError::timedOut) << timeout;
        EXPECT_EQ(line->invalidations(), 1);
    }
}

TEST(EffectiveTimeout, HugeTimeOutsStayRepresentable) {
    using SensorServiceClient::effectiveTimeout;
    const auto century = std::chrono::nanoseconds(std::chrono::hours(24 * 365 * 100));
    EXPECT_EQ(effectiveTimeout(std::chrono::duration<double>(1e300)), century);
    EXPECT_EQ(
        effectiveTimeout(std::chrono::duration<double>(std::numeric_limits<double>::infinity())),
        century);
    EXPECT_EQ(effectiveTimeout(std::chrono::hours(1)), std::chrono::hours(1));
}

TEST_F(FetchOverFakeConnection, ReplyAfterTheTimeOutIsIgnored) {
    fetch(2s);
    auto replyInFlight = line->pendingReply();
    queue.advance(2s);
    replyInFlight(ordinaryReply());
    EXPECT_EQ(onlyError(), ClientError::timedOut);
    EXPECT_EQ(line->invalidations(), 1);
}

TEST_F(FetchOverFakeConnection, LaterEventsAfterSuccessDeliverNothing) {
    fetch();
    auto interruption = line->interruptionHandler();
    auto invalidation = line->invalidationHandler();
    auto proxyError = line->proxyErrorHandler();
    line->reply(ordinaryReply());
    interruption();
    invalidation();
    proxyError(ConnectionError{1, "late"});
    queue.advance(5s);
    auto all = results.all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<SensorSnapshot>(all[0]));
    EXPECT_EQ(line->invalidations(), 1);
}

TEST_F(FetchOverFakeConnection, CompletionRunsWithTheGateOpenToOthers) {
    // The completion waits for a racing time-out on another thread; were the gate's
    // lock still held, that thread could not get past it.
    bool racerFinished = false;
    std::future<void> racer; // outlives the completion, so a stuck racer cannot block it
    SensorServiceClient::fetchSnapshot(
        5s,
        [&](FetchResult result) {
            racer = std::async(std::launch::async, [&] { queue.advance(5s); });
            racerFinished = racer.wait_for(2s) == std::future_status::ready;
            results.completion()(std::move(result));
        },
        fakeConnections(line), queue);
    line->reply(ordinaryReply());
    EXPECT_TRUE(racerFinished);
    EXPECT_EQ(results.all().size(), 1u);
}

TEST_F(FetchOverFakeConnection, NothingIsKeptOnceTheTimeOutHasRun) {
    auto tracker = std::make_shared<int>(0);
    std::weak_ptr<int> completionCapture = tracker;
    SensorServiceClient::fetchSnapshot(
        5s, [tracker = std::move(tracker)](FetchResult) {}, fakeConnections(line), queue);
    line->interrupt();
    queue.advance(5s);
    EXPECT_FALSE(line->connectionExists());
    EXPECT_TRUE(completionCapture.expired());
    EXPECT_EQ(queue.pendingCount(), 0u);
}
