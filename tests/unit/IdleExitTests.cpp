// The service's queue and its idle exit, on virtual time.
#include "Agent/SensorXPCService.h"
#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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

struct FakeConnection final : IncomingConnection {
    void setExportedObject(SensorServiceProtocol&) override {}
    void resume() override {}
};

} // namespace

TEST(IdleExit, EndsThirtySecondsAfterTheLastAcceptanceOrReply) {
    const struct {
        const char* name;
        Times accepts, requests;
        QueueTime collection;
        bool encodable;
        Times replies;      // when each reply left
        QueueTime exit;     // the first exit
        std::size_t served; // replies sent before it
    } cases[] = {
        // Nothing is armed before the first connection; a later one moves the end.
        {"silent connections", {100s, 120s}, {}, 0s, true, {}, 150s, 0},
        {"from the reply, not the request", {0s}, {10s}, 4s, true, {14s}, 44s, 1},
        {"every 20 s keeps it", {0s}, {20s, 40s, 60s}, 0s, true, {20s, 40s, 60s}, 90s, 3},
        {"two at once, served in turn", {0s, 0s}, {10s, 10s}, 1s, true, {11s, 12s}, 42s, 2},
        {"unencodable: empty reply, still re-armed", {0s}, {20s}, 0s, false, {20s}, 50s, 1},
        // The deadline passes mid-collection: that reply still leaves first.
        {"deadline during a collection", {0s}, {28s}, 5s, true, {33s}, 33s, 1},
    };
    for (const auto& c : cases) {
        QueueTime now{};
        Times replies;
        std::optional<std::pair<QueueTime, std::size_t>> ended; // the first, and replies before it
        SnapshotSources sources;
        sources.gpuUtilization = [&] {
            now += c.collection;
            return std::optional<GPUReading>({c.encodable ? 50.0 : NAN, {}, {}});
        };
        SensorXPCService service(
            sources, [&] { return now; },
            [&](int status) {
                EXPECT_EQ(status, 0) << c.name;
                ended = ended.value_or(std::pair(now, replies.size()));
            });
        for (QueueTime at : c.accepts) {
            runUntil(service.queue(), now, at);
            FakeConnection connection;
            EXPECT_TRUE(service.shouldAcceptNewConnection(connection)) << c.name;
        }
        for (QueueTime at : c.requests) {
            runUntil(service.queue(), now, at);
            service.fetchSnapshotWithReply([&](std::string data) {
                replies.push_back(now);
                EXPECT_EQ(decodeSnapshot(data).has_value(), c.encodable) << c.name;
                EXPECT_TRUE(c.encodable || data.empty()) << c.name;
            });
        }
        runUntil(service.queue(), now, 1000s);
        EXPECT_EQ(replies, c.replies) << c.name;
        EXPECT_EQ(ended, std::pair(c.exit, c.served)) << c.name;
    }
}
