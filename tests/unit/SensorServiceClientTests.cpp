#include "App/SensorServiceClient.h"
#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <limits>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using Log = std::vector<std::string>;

namespace {

const SensorSnapshot ordinary = [] {
    SensorSnapshot snapshot;
    snapshot.processorName = "Apple M1";
    return snapshot;
}();

std::string describe(const FetchResult& result) {
    if (auto* snapshot = std::get_if<SensorSnapshot>(&result))
        return *snapshot == ordinary ? "the snapshot" : "another snapshot";
    if (auto* error = std::get_if<ConnectionError>(&result))
        return std::to_string(error->code) + " " + error->description;
    return std::string(description(std::get<ClientError>(result)));
}
std::string said(ClientError error) {
    return std::string(description(error));
}

// The ways a fetch may end, in the order FetchWorld::events() gives them.
enum Event : std::size_t { interruption, invalidation, proxyError, reply, expiry };

// Everything around one fetch: the far side of its connection, which keeps the handlers
// the client gives it and plays agent and transport; its time-out queue; its caller.
// Handlers run outside the lock, as on a real connection, from any thread.
struct FetchWorld final : DelayedWorkQueue, SensorServiceProxy {
    std::mutex mutex;
    Log delivered;
    int invalidations = 0;
    bool offersProxy = true;
    std::function<void()> onInterruption, onInvalidation, timeOut;
    std::function<void(const ConnectionError&)> onProxyError;
    std::function<void(ReplyBytes)> replyTo;
    std::chrono::nanoseconds delay{};

    template <typename T> T copy(const T& field) {
        std::lock_guard held(mutex);
        return field;
    }
    template <typename T> void keep(T& field, T value) {
        std::lock_guard held(mutex);
        field = std::move(value);
    }
    void runAfter(std::chrono::nanoseconds after, std::function<void()> work) override {
        keep(delay, after);
        keep(timeOut, std::move(work));
    }
    void fetchSnapshotWithReply(std::function<void(ReplyBytes)> reply) override {
        keep(replyTo, std::move(reply));
    }
    // Runs the time-out once, as the queue would, and lets it go.
    void expire() {
        std::unique_lock held(mutex);
        auto due = std::exchange(timeOut, nullptr);
        held.unlock();
        if (due)
            due();
    }
    // Every way the fetch may end, taken now: a real connection may already be running
    // any of them when another event ends the fetch.
    std::vector<std::function<void()>> events(ReplyBytes data = encodeCompact(ordinary)) {
        std::lock_guard held(mutex);
        return {[f = onInterruption] { f(); }, [f = onInvalidation] { f(); },
                [f = onProxyError] {
                    f({54, "Connection reset by peer"});
                },
                [f = replyTo, data] { f(data); }, [this] { expire(); }};
    }
    // Whether the client let go of everything it gave the connection.
    bool isReleased() {
        std::lock_guard held(mutex);
        return !onInterruption && !onInvalidation && !onProxyError && !replyTo && !timeOut;
    }
};

struct FakeConnection final : ServiceConnection {
    explicit FakeConnection(FetchWorld& world) : w(world) {}
    void setCodeSigningRequirement(std::string) override {}
    void setInterruptionHandler(std::function<void()> handler) override {
        w.keep(w.onInterruption, std::move(handler));
    }
    void setInvalidationHandler(std::function<void()> handler) override {
        w.keep(w.onInvalidation, std::move(handler));
    }
    void resume() override {}
    std::shared_ptr<SensorServiceProxy>
    remoteObjectProxy(std::function<void(const ConnectionError&)> errorHandler) override {
        w.keep(w.onProxyError, std::move(errorHandler));
        return w.offersProxy ? std::shared_ptr<SensorServiceProxy>(&w, [](auto*) {}) : nullptr;
    }
    // Like a real connection: outstanding calls are dropped, then the invalidation
    // handler, if one is still set, is told.
    void invalidate() override {
        std::unique_lock held(w.mutex);
        ++w.invalidations;
        w.onProxyError = nullptr;
        w.replyTo = nullptr;
        auto handler = w.onInvalidation;
        held.unlock();
        if (handler)
            handler();
    }
    FetchWorld& w;
};

void fetch(FetchWorld& world, std::chrono::duration<double> timeout = 5s) {
    SensorServiceClient::fetchSnapshot(
        timeout,
        [&world](FetchResult result) {
            std::lock_guard held(world.mutex);
            world.delivered.push_back(describe(result));
        },
        [&world](std::string_view) -> std::unique_ptr<ServiceConnection> {
            return std::make_unique<FakeConnection>(world);
        },
        world);
}

} // namespace

TEST(Fetch, FirstEventDecidesAndLaterOnesDeliverNothing) {
    const std::tuple<Event, ReplyBytes, std::string> cases[] = {
        {interruption, "", said(ClientError::unavailable)},
        {invalidation, "", said(ClientError::unavailable)},
        {proxyError, "", "54 Connection reset by peer"},
        {reply, encodeCompact(ordinary), "the snapshot"},
        {reply, "", said(ClientError::invalidResponse)},
        {reply, std::nullopt, said(ClientError::responseTooLarge)}, // refused unread
        {expiry, "", said(ClientError::timedOut)},
    };
    for (const auto& [first, data, expected] : cases) {
        FetchWorld world;
        fetch(world);
        auto events = world.events(data);
        events[first]();
        EXPECT_EQ(world.copy(world.delivered), Log{expected}) << first;
        for (auto& event : events)
            event();
        EXPECT_EQ(world.copy(world.delivered).size(), 1u) << first;
        EXPECT_EQ(world.copy(world.invalidations), 1) << first;
    }
}

TEST(Fetch, UnusableProxyFailsBeforeTheCallReturns) {
    FetchWorld world;
    world.offersProxy = false;
    fetch(world);
    EXPECT_EQ(world.copy(world.delivered), Log{said(ClientError::unavailable)});
    world.expire();
    EXPECT_EQ(world.copy(world.delivered).size(), 1u);
}

TEST(Fetch, TimeOutIsTheOneAskedForButNeverBelowATenthOfASecond) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    // Far beyond any use, and still a deadline the clock can hold.
    const std::chrono::nanoseconds century = std::chrono::hours(24 * 365 * 100);
    const std::pair<double, std::chrono::nanoseconds> cases[] = {
        {5, 5s},      {0.25, 250ms},      {0.05, 100ms},       {0, 100ms},       {-3, 100ms},
        {nan, 100ms}, {-infinity, 100ms}, {infinity, century}, {1e300, century},
    };
    for (auto [timeout, effective] : cases) {
        FetchWorld world;
        fetch(world, std::chrono::duration<double>(timeout));
        EXPECT_EQ(world.copy(world.delay), effective) << timeout;
    }
}

TEST(Fetch, ExactlyOneResultWhicheverEventWinsOnRealThreads) {
    for (std::size_t round = 0; round < 400; ++round) {
        FetchWorld world;
        fetch(world);
        {
            auto events = world.events();
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
        ASSERT_EQ(world.copy(world.delivered).size(), 1u) << "round " << round;
        EXPECT_EQ(world.copy(world.invalidations), 1) << "round " << round;
        // Handlers cleared, calls dropped: nothing keeps the call's state alive.
        EXPECT_TRUE(world.isReleased()) << "round " << round;
    }
}
