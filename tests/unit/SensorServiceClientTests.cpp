#include "App/SensorServiceClient.h"
#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <latch>
#include <limits>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

SensorSnapshot ordinarySnapshot() {
    SensorSnapshot snapshot;
    snapshot.processorName = "Apple M1";
    return snapshot;
}
const std::string ordinaryReply = encodeCompact(ordinarySnapshot()).value();

std::string describe(const FetchResult& result) {
    if (auto* snapshot = std::get_if<SensorSnapshot>(&result))
        return *snapshot == ordinarySnapshot() ? "the snapshot" : "another snapshot";
    if (auto* error = std::get_if<ConnectionError>(&result))
        return std::to_string(error->code) + " " + error->description;
    return std::string(description(std::get<ClientError>(result)));
}
const std::string unavailable(description(ClientError::unavailable));
const std::string timedOut(description(ClientError::timedOut));

// The ways a fetch may end, in the order FetchWorld::events() gives them.
enum Event : std::size_t { interruption, invalidation, proxyError, reply, expiry };

// Everything around one fetch: the far side of its connection, which records what the
// client does and plays agent and transport; its time-out queue on virtual time; its
// caller. Handlers run outside the lock, as on a real connection, from any thread.
struct FetchWorld final : DelayedWorkQueue, SensorServiceProxy {
    std::mutex mutex;
    std::vector<std::string> journal, delivered;
    int invalidations = 0;
    bool offersProxy = true;
    std::function<void()> onInterruption, onInvalidation, timeOut;
    std::function<void(const ConnectionError&)> onProxyError;
    std::function<void(ReplyBytes)> replyTo;
    std::chrono::nanoseconds now{0}, timeOutAt{0};

    template <typename T> T copy(const T& field) {
        std::lock_guard held(mutex);
        return field;
    }
    void note(std::string entry) {
        std::lock_guard held(mutex);
        journal.push_back(std::move(entry));
    }
    // By reference: the entry's text may still look at `value` before it moves.
    template <typename T> void keep(std::string entry, T& field, T&& value) {
        std::lock_guard held(mutex);
        journal.push_back(std::move(entry));
        field = std::move(value);
    }

    void runAfter(std::chrono::nanoseconds delay, std::function<void()> work) override {
        note("time-out " + std::to_string(delay.count()) + " ns");
        std::lock_guard held(mutex);
        timeOut = std::move(work);
        timeOutAt = now + delay;
    }
    void advance(std::chrono::nanoseconds step) {
        std::unique_lock held(mutex);
        now += step;
        auto due = timeOutAt <= now ? std::exchange(timeOut, nullptr) : nullptr;
        held.unlock();
        if (due)
            due();
    }
    void fetchSnapshotWithReply(std::function<void(ReplyBytes)> reply) override {
        keep("fetch", replyTo, std::move(reply));
    }
    SensorServiceClient::Completion completion() {
        return [this](FetchResult result) {
            std::lock_guard held(mutex);
            delivered.push_back(describe(result));
        };
    }

    // Copies of every way the fetch may end, taken now: a real connection may already be
    // running any of them when another event ends the fetch.
    std::vector<std::function<void()>> events(const std::string& data = ordinaryReply) {
        std::lock_guard held(mutex);
        return {[f = onInterruption] { f(); }, [f = onInvalidation] { f(); },
                [f = onProxyError] {
                    f({54, "Connection reset by peer"});
                },
                [f = replyTo, data] { f(data); }, [this] { advance(5s); }};
    }
};

class FakeConnection final : public ServiceConnection {
  public:
    explicit FakeConnection(std::shared_ptr<FetchWorld> world) : world(std::move(world)) {}

    void setCodeSigningRequirement(std::string requirement) override {
        world->note("requirement " + requirement);
    }
    void setInterruptionHandler(std::function<void()> handler) override {
        world->keep(handler ? "interruption handler" : "interruption handler cleared",
                    world->onInterruption, std::move(handler));
    }
    void setInvalidationHandler(std::function<void()> handler) override {
        world->keep(handler ? "invalidation handler" : "invalidation handler cleared",
                    world->onInvalidation, std::move(handler));
    }
    void resume() override { world->note("resume"); }
    std::shared_ptr<SensorServiceProxy>
    remoteObjectProxy(std::function<void(const ConnectionError&)> errorHandler) override {
        world->keep("proxy", world->onProxyError, std::move(errorHandler));
        return world->offersProxy ? std::shared_ptr<SensorServiceProxy>(world, world.get())
                                  : nullptr;
    }
    // Like a real connection: outstanding calls are dropped, then the invalidation
    // handler, if one is still set, is told.
    void invalidate() override {
        world->note("invalidate");
        std::unique_lock held(world->mutex);
        ++world->invalidations;
        world->onProxyError = nullptr;
        world->replyTo = nullptr;
        auto handler = world->onInvalidation;
        held.unlock();
        if (handler)
            handler();
    }

  private:
    std::shared_ptr<FetchWorld> world;
};

void fetch(const std::shared_ptr<FetchWorld>& world, std::chrono::duration<double> timeout = 5s,
           SensorServiceClient::Completion completion = nullptr) {
    auto connect = [world](std::string_view name) -> std::unique_ptr<ServiceConnection> {
        world->note("connect " + std::string(name));
        return std::make_unique<FakeConnection>(world);
    };
    SensorServiceClient::fetchSnapshot(timeout, completion ? completion : world->completion(),
                                       connect, *world);
}

} // namespace

TEST(Fetch, SetsUpStepByStepAndClosesTheConnectionBeforeCompletingOutsideTheGate) {
    auto world = std::make_shared<FetchWorld>();
    bool racingTimeOutGotPast = false;
    std::future<void> racer; // outlives the completion, so a stuck racer cannot block it
    fetch(world, 5s, [&](FetchResult result) {
        world->note("completion");
        // Were the gate's lock still held, a time-out on another thread could not get past.
        racer = std::async(std::launch::async, [&] { world->advance(5s); });
        racingTimeOutGotPast = racer.wait_for(2s) == std::future_status::ready;
        world->completion()(std::move(result));
    });
    world->copy(world->replyTo)(ordinaryReply);
    EXPECT_EQ(world->copy(world->journal),
              (std::vector<std::string>{
                  "connect R8QZK2MX4T.group.com.quillmarsh.Vendrel.sensors",
                  "requirement anchor apple generic and certificate leaf[subject.OU] = "
                  "\"R8QZK2MX4T\" and (identifier \"CorvanePluginAgent\")",
                  "interruption handler", "invalidation handler", "resume",
                  "time-out 5000000000 ns", "proxy", "fetch",
                  // Cleared first, so invalidating does not come back into the client.
                  "interruption handler cleared", "invalidation handler cleared", "invalidate",
                  "completion"}));
    EXPECT_TRUE(racingTimeOutGotPast);
    EXPECT_EQ(world->copy(world->delivered), std::vector<std::string>{"the snapshot"});
}

TEST(Fetch, FirstEventDecidesAndLaterOnesDeliverNothing) {
    const std::tuple<Event, std::string, std::string> cases[] = {
        {interruption, ordinaryReply, unavailable},
        {invalidation, ordinaryReply, unavailable},
        {proxyError, ordinaryReply, "54 Connection reset by peer"},
        {reply, ordinaryReply, "the snapshot"},
        {reply, "", std::string(description(ClientError::invalidResponse))},
        {expiry, ordinaryReply, timedOut},
    };
    for (const auto& [first, data, expected] : cases) {
        auto world = std::make_shared<FetchWorld>();
        fetch(world);
        auto events = world->events(data);
        events[first]();
        EXPECT_EQ(world->copy(world->delivered), std::vector<std::string>{expected}) << first;
        for (auto& event : events)
            event();
        EXPECT_EQ(world->copy(world->delivered).size(), 1u) << first;
        EXPECT_EQ(world->copy(world->invalidations), 1) << first;
    }
}

TEST(Fetch, UnusableProxyFailsBeforeTheCallReturns) {
    auto world = std::make_shared<FetchWorld>();
    world->offersProxy = false;
    fetch(world);
    EXPECT_EQ(world->copy(world->delivered), std::vector<std::string>{unavailable});
    EXPECT_EQ(world->copy(world->invalidations), 1);
    world->advance(5s);
    EXPECT_EQ(world->copy(world->delivered).size(), 1u);
}

TEST(Fetch, TimesOutAfterTheTimeOutButNeverBelowATenthOfASecond) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    // Far beyond any use, and still a deadline the clock can hold.
    const std::chrono::nanoseconds century = std::chrono::hours(24 * 365 * 100);
    const std::pair<double, std::chrono::nanoseconds> cases[] = {
        {5, 5s},      {0.25, 250ms},      {0.05, 100ms},       {0, 100ms},       {-3, 100ms},
        {nan, 100ms}, {-infinity, 100ms}, {infinity, century}, {1e300, century},
    };
    for (auto [timeout, effective] : cases) {
        auto world = std::make_shared<FetchWorld>();
        fetch(world, std::chrono::duration<double>(timeout));
        world->advance(effective - 1ns);
        EXPECT_TRUE(world->copy(world->delivered).empty()) << timeout;
        world->advance(1ns);
        EXPECT_EQ(world->copy(world->delivered), std::vector<std::string>{timedOut}) << timeout;
    }
}

TEST(Fetch, ExactlyOneResultWhicheverEventWinsOnRealThreads) {
    for (std::size_t round = 0; round < 400; ++round) {
        auto world = std::make_shared<FetchWorld>();
        fetch(world);
        {
            auto events = world->events();
            // Started in another order each round, so that each event gets to win.
            std::rotate(events.begin(), events.begin() + round % events.size(), events.end());
            std::latch start(std::ptrdiff_t(events.size()));
            std::vector<std::jthread> threads;
            for (const auto& event : events)
                threads.emplace_back([&] {
                    start.arrive_and_wait();
                    event();
                });
        }
        ASSERT_EQ(world->copy(world->delivered).size(), 1u) << "round " << round;
        EXPECT_EQ(world->copy(world->invalidations), 1) << "round " << round;
        // Nothing holds the world now: no connection, proxy or handler kept alive.
        EXPECT_EQ(world.use_count(), 1) << "round " << round;
    }
}
