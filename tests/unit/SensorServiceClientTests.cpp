#include "App/ReplyDecoding.h"
#include "App/SensorServiceClient.h"
#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>

using namespace std::chrono_literals;
using nlohmann::json;
using enum ClientError;

namespace {

std::string describe(const FetchResult& result) {
    if (auto* snapshot = std::get_if<SensorSnapshot>(&result))
        return "snapshot of " + snapshot->processorName.value_or("?");
    if (auto* error = std::get_if<ConnectionError>(&result))
        return std::to_string(error->code) + " " + error->description;
    return std::string(description(std::get<ClientError>(result)));
}

// One fetch's surroundings: the far side of its connection, its time-out queue, its caller.
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
    // As a real one: drops the calls outstanding, then tells the invalidation handler.
    void invalidate() override {
        ++w.invalidations;
        w.onProxyError = nullptr;
        w.replyTo = nullptr;
        if (auto handler = w.onInvalidation)
            handler();
    }
    FetchWorld& w;
};

// A plausible reply, every optional reading present, with a JSON merge patch applied.
json replyWith(const std::string& patch) {
    json reply = json::parse(R"({"protocolVersion":1,"timestamp":0,"processorName":"Apple M2",
        "gpu":{"utilizationPercent":40,"rendererPercent":30,"tilerPercent":20},"fanCount":2,
        "cpuTemperatureCelsius":55,"gpuTemperatureCelsius":50,"pluginVersion":"1","pluginBuild":4,
        "fans":[{"id":0,"currentRPM":1800,"minimumRPM":1200,"maximumRPM":5600},
                {"id":1,"currentRPM":1750,"minimumRPM":1200,"maximumRPM":5600}]})");
    reply.merge_patch(json::parse(patch));
    return reply;
}

bool plausible(const json& reply) {
    return std::holds_alternative<SensorSnapshot>(decodeReply(reply.dump()));
}

} // namespace

// Also pins the client's error sentences, and the reply's checks in their order.
TEST(Fetch, FirstEventDecidesAndLaterOnesDeliverNothing) {
    enum Event { interruption, invalidation, proxyError, reply, expiry };
    const std::string unavailable = "The sensor service is unavailable.",
                      invalid = "The sensor service returned invalid data.",
                      tooLarge = "The sensor service returned too much data.",
                      fine = replyWith("{}").dump();
    const std::tuple<Event, ReplyBytes, std::string> cases[] = {
        {interruption, "", unavailable},
        {invalidation, "", unavailable},
        {proxyError, "", "54 reset"},
        {reply, fine + std::string(65536 - fine.size(), ' '), "snapshot of Apple M2"},
        {reply, fine + std::string(65537 - fine.size(), ' '), tooLarge},
        {reply, std::nullopt, tooLarge}, // refused unread
        {reply, R"({"protocolVersion":2,"timestamp":0})", invalid},
        {reply, replyWith(R"({"protocolVersion":0,"cpuTemperatureCelsius":150})").dump(),
         "Corvane and its plugin are not compatible. Update both apps."},
        {reply, replyWith(R"({"cpuTemperatureCelsius":150})").dump(), invalid},
        {expiry, "", "The sensor service did not respond."},
    };
    for (const auto& [first, data, expected] : cases) {
        FetchWorld w;
        SensorServiceClient::fetchSnapshot(
            50ms, [&w](FetchResult result) { w.delivered.push_back(describe(result)); },
            [&w](std::string_view) { return std::make_unique<FakeConnection>(w); }, w);
        // Every way it may end, taken now: a connection may be running one as another wins.
        auto failure = [f = w.onProxyError] { f({54, "reset"}); };
        auto answer = [f = w.replyTo, reply = data] { f(reply); };
        const std::function<void()> events[] = {w.onInterruption, w.onInvalidation, failure, answer,
                                                w.timeOut};
        events[first]();
        EXPECT_EQ(w.delivered, std::vector{expected}) << first;
        for (auto& event : events)
            event();
        EXPECT_EQ(w.delivered.size(), 1u) << first;
        EXPECT_EQ(w.invalidations, 1) << first;
        EXPECT_EQ(w.delay, 100ms) << first; // never below a tenth of a second
        EXPECT_FALSE(w.onInterruption || w.onInvalidation) << first; // else a cycle
    }
}

// Texts by user-perceived characters, builds, fans and readings at their limits.
TEST(ReplyDecoding, PlausibleAtTheLimitsAndNotBeyond) {
    std::string name; // 256 characters of two code points each
    for (int count = 0; count < 256; ++count)
        name += "e\xCC\x81";
    const std::pair<std::string, bool> cases[] = {
        {R"({"gpu":null,"cpuTemperatureCelsius":null,"fanCount":null,"fans":[]})", true},
        {R"({"processorName":")" + name + R"("})", true},
        {R"({"processorName":")" + name + R"(a"})", false},
        {R"({"pluginVersion":""})", false},
        {R"({"pluginVersion":")" + name.substr(0, std::size_t{64} * 3) + R"("})", true},
        {R"({"pluginVersion":")" + std::string(65, '9') + R"("})", false},
        {R"({"pluginBuild":0})", false},
        {R"({"pluginBuild":2147483647})", true},
        {R"({"pluginBuild":2147483648})", false},
        {R"({"fanCount":9,"fans":[]})", false},
        {R"({"fanCount":8,"fans":[{"id":7,"currentRPM":0}]})", true},
        {R"({"fanCount":null,"fans":[{"id":8,"currentRPM":0}]})", false},
        {R"({"fanCount":null,"fans":[{"id":-1,"currentRPM":0}]})", false},
        {R"({"fans":[{"id":2,"currentRPM":0}]})", false}, // not below the count
        {R"({"fans":[{"id":1,"currentRPM":0},{"id":1,"currentRPM":0}]})", false},
    };
    for (const auto& [patch, valid] : cases)
        EXPECT_EQ(plausible(replyWith(patch)), valid) << patch.substr(0, 80);
    const std::tuple<const char*, double, double> ranges[] = {
        {"/gpu/utilizationPercent", 0, 100}, {"/gpu/tilerPercent", 0, 100},
        {"/cpuTemperatureCelsius", 10, 120}, {"/gpuTemperatureCelsius", 10, 120},
        {"/fans/1/currentRPM", 0, 100000},   {"/fans/1/maximumRPM", 0, 100000},
    };
    for (auto [pointer, lowest, highest] : ranges)
        for (double value :
             {lowest, highest, std::nextafter(lowest, -1e9), std::nextafter(highest, 1e9)}) {
            json reply = replyWith("{}");
            reply[json::json_pointer(pointer)] = value;
            EXPECT_EQ(plausible(reply), value == lowest || value == highest)
                << pointer << " " << value;
        }
}
