#include "App/SensorServiceClient.h"
#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace std::chrono_literals;

namespace {

std::string describe(const FetchResult& result) {
    if (auto* snapshot = std::get_if<SensorSnapshot>(&result))
        return "snapshot of " + snapshot->processorName.value_or("?");
    if (auto* error = std::get_if<ConnectionError>(&result))
        return std::to_string(error->code) + " " + error->description;
    return std::string(description(std::get<ClientError>(result)));
}

// Everything around one fetch: the far side of its connection, which keeps the handlers
// the client gives it and plays agent and transport; its time-out queue; its caller.
struct FetchWorld final : DelayedWorkQueue, SensorServiceProxy {
    std::vector<std::string> delivered;
    int invalidations = 0;
    std::function<void()> onInterruption, onInvalidation, timeOut;
    std::function<void(const ConnectionError&)> onProxyError;
    std::function<void(ReplyBytes)> replyTo;
    std::chrono::nanoseconds delay{};

    void runAfter(std::chrono::nanoseconds after, std::function<void()> work) override {
        delay = after;
        timeOut = std::move(work);
    }
    void fetchSnapshotWithReply(std::function<void(ReplyBytes)> reply) override {
        replyTo = std::move(reply);
    }
};

struct FakeConnection final : ServiceConnection {
    explicit FakeConnection(FetchWorld& world) : w(world) {}
    void setCodeSigningRequirement(std::string) override {}
    void setInterruptionHandler(std::function<void()> handler) override {
        w.onInterruption = std::move(handler);
    }
    void setInvalidationHandler(std::function<void()> handler) override {
        w.onInvalidation = std::move(handler);
    }
    void resume() override {}
    std::shared_ptr<SensorServiceProxy>
    remoteObjectProxy(std::function<void(const ConnectionError&)> errorHandler) override {
        w.onProxyError = std::move(errorHandler);
        return std::shared_ptr<SensorServiceProxy>(&w, [](auto*) {});
    }
    // Like a real connection: outstanding calls are dropped, then the invalidation
    // handler, if one is still set, is told.
    void invalidate() override {
        ++w.invalidations;
        w.onProxyError = nullptr;
        w.replyTo = nullptr;
        if (auto handler = w.onInvalidation)
            handler();
    }
    FetchWorld& w;
};

void fetch(FetchWorld& world) {
    SensorServiceClient::fetchSnapshot(
        50ms, [&world](FetchResult result) { world.delivered.push_back(describe(result)); },
        [&world](std::string_view) { return std::make_unique<FakeConnection>(world); }, world);
}

ReplyBytes encoded(std::int64_t protocolVersion) {
    SensorSnapshot snapshot;
    snapshot.protocolVersion = protocolVersion;
    snapshot.processorName = "Apple M1";
    return encodeCompact(snapshot);
}

} // namespace

// Also the one place that pins the client's error sentences.
TEST(Fetch, FirstEventDecidesAndLaterOnesDeliverNothing) {
    enum Event { interruption, invalidation, proxyError, reply, expiry };
    const std::string unavailable = "The sensor service is unavailable.";
    const std::tuple<Event, ReplyBytes, std::string> cases[] = {
        {interruption, "", unavailable},
        {invalidation, "", unavailable},
        {proxyError, "", "54 Connection reset by peer"},
        {reply, encoded(1), "snapshot of Apple M1"},
        {reply, "", "The sensor service returned invalid data."},
        {reply, std::nullopt, "The sensor service returned too much data."}, // refused unread
        {reply, encoded(2), "Corvane and its plugin are not compatible. Update both apps."},
        {expiry, "", "The sensor service did not respond."},
    };
    for (const auto& [first, data, expected] : cases) {
        FetchWorld w;
        fetch(w);
        // Every way the fetch may end, taken now: a real connection may already be
        // running any of them when another event ends the fetch.
        const std::function<void()> events[] = {w.onInterruption, w.onInvalidation,
                                                [f = w.onProxyError] {
                                                    f({54, "Connection reset by peer"});
                                                },
                                                [f = w.replyTo, data] { f(data); }, w.timeOut};
        events[first]();
        EXPECT_EQ(w.delivered, std::vector{expected}) << first;
        for (auto& event : events)
            event();
        EXPECT_EQ(w.delivered.size(), 1u) << first;
        EXPECT_EQ(w.invalidations, 1) << first;
        EXPECT_EQ(w.delay, 100ms) << first; // never below a tenth of a second
        // Cleared, so the connection no longer holds the call that holds it.
        EXPECT_FALSE(w.onInterruption || w.onInvalidation) << first;
    }
}

TEST(Fetch, TimeOutIsTheOneAskedForButNeverBelowATenthOfASecond) {
    // The longest is far beyond any use, and still a deadline the clock can hold.
    const std::pair<double, std::chrono::nanoseconds> cases[] = {
        {0.25, 250ms}, {-3, 100ms}, {std::nan(""), 100ms}, {1e300, 24h * 365 * 100}};
    for (auto [asked, effective] : cases)
        EXPECT_EQ(SensorServiceClient::effectiveTimeout(std::chrono::duration<double>(asked)),
                  effective);
}
