// The service's queue and its idle exit, on virtual time.
#include "Agent/SensorXPCService.h"
#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

using namespace std::chrono_literals;
using Times = std::vector<QueueTime>;

namespace {

// Runs the queue on virtual time, `now`, up to `until`: every delayed item runs with the
// clock at its deadline, and work may itself move the clock on (a slow collection).
void runUntil(SerialQueue& queue, QueueTime& now, QueueTime until) {
    queue.runReady();
    for (auto next = queue.nextDeadline(); next && *next <= until; next = queue.nextDeadline()) {
        now = std::max(now, *next);
        queue.runReady();
    }
    now = std::max(now, until);
    queue.runReady();
}

struct Case {
    const char* name;
    Times accepts, requests;
    QueueTime collection;
    bool encodable;
    Times replies;      // when each reply left
    QueueTime exit;     // the first exit
    std::size_t served; // replies sent before it
};

struct FakeConnection final : IncomingConnection {
    SensorServiceProtocol* exported = nullptr;
    bool resumed = false;
    void setExportedObject(SensorServiceProtocol& object) override { exported = &object; }
    void resume() override { resumed = true; }
};

const Times every20s = [] {
    Times times;
    for (QueueTime at = 20s; at <= 400s; at += 20s)
        times.push_back(at);
    return times;
}();

} // namespace

TEST(IdleExit, EndsThirtySecondsAfterTheLastAcceptanceOrReply) {
    const Case cases[] = {
        // Nothing is armed before the first connection; a later one moves the end.
        {"silent connections", {100s, 120s}, {}, 0s, true, {}, 150s, 0},
        {"from the reply, not the request", {0s}, {10s}, 4s, true, {14s}, 44s, 1},
        {"every 20 s keeps it", {0s}, every20s, 0s, true, every20s, 430s, 20},
        {"every 40 s ends between", {0s}, {40s}, 0s, true, {40s}, 30s, 0},
        {"two at once, served in turn", {0s, 0s}, {10s, 10s}, 1s, true, {11s, 12s}, 42s, 2},
        {"unencodable: empty reply, still re-armed", {0s}, {20s}, 0s, false, {20s}, 50s, 1},
        // The deadline passes mid-collection: that reply still leaves first.
        {"deadline during a collection", {0s}, {28s}, 5s, true, {33s}, 33s, 1},
    };
    for (const Case& c : cases) {
        QueueTime now{};
        int collections = 0;
        Times exits, replies;
        std::vector<std::size_t> served;
        SnapshotSources sources;
        sources.gpuUtilization = [&] {
            ++collections;
            now += c.collection;
            double busy = c.encodable ? 50.0 : std::numeric_limits<double>::quiet_NaN();
            return std::optional<GPUReading>(GPUReading{busy, std::nullopt, std::nullopt});
        };
        SensorXPCService service(
            sources, [&] { return now; },
            [&](int status) {
                EXPECT_EQ(status, 0) << c.name;
                exits.push_back(now);
                served.push_back(replies.size());
            });

        for (QueueTime at : c.accepts) {
            runUntil(service.queue(), now, at);
            FakeConnection connection;
            EXPECT_TRUE(service.shouldAcceptNewConnection(connection)) << c.name;
            EXPECT_TRUE(connection.exported == &service && connection.resumed) << c.name;
        }
        for (QueueTime at : c.requests) {
            runUntil(service.queue(), now, at);
            service.fetchSnapshotWithReply([&](std::string data) {
                replies.push_back(now);
                EXPECT_EQ(decodeSnapshot(data).has_value(), c.encodable) << c.name;
                EXPECT_TRUE(c.encodable || data.empty()) << c.name;
            });
            EXPECT_EQ(collections, int(replies.size())) << c.name << ": not on the queue";
        }
        runUntil(service.queue(), now, 1000s);

        EXPECT_EQ(replies, c.replies) << c.name;
        EXPECT_EQ(collections, int(c.replies.size())) << c.name;
        ASSERT_FALSE(exits.empty()) << c.name;
        EXPECT_EQ(exits.front(), c.exit) << c.name;
        EXPECT_EQ(served.front(), c.served) << c.name;
    }
}
