#include "Agent/SensorXPCService.h"
#include "Shared/SnapshotJSON.h"
#include "support/VirtualTime.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct FakeConnection final : IncomingConnection {
    SensorServiceProtocol* exported = nullptr;
    bool resumed = false;
    void setExportedObject(SensorServiceProtocol& object) override { exported = &object; }
    void resume() override { resumed = true; }
};

struct Reply {
    QueueTime at;
    std::string data;
};

class IdleExit : public testing::Test {
  protected:
    VirtualClock clock;
    QueueTime collectionTime{0};
    bool encodable = true;
    int collections = 0;
    std::vector<QueueTime> exits;
    std::vector<std::size_t> repliesBeforeExit;
    std::vector<Reply> replies;

    SnapshotSources sources() {
        return SnapshotSources{
            [this] {
                ++collections;
                clock.now += collectionTime;
                return std::optional<std::string>("Test CPU");
            },
            [this] {
                double busy = encodable ? 50.0 : std::numeric_limits<double>::quiet_NaN();
                return std::optional<GPUReading>(GPUReading{busy, std::nullopt, std::nullopt});
            },
            [this] { return std::chrono::duration<double>(clock.now).count(); },
        };
    }

    SensorXPCService service{sources(), clock.reader(), [this](int status) {
                                 EXPECT_EQ(status, 0);
                                 exits.push_back(clock.now);
                                 repliesBeforeExit.push_back(replies.size());
                             }};

    void runUntil(QueueTime until) { ::runUntil(service.queue(), clock, until); }

    void acceptAt(QueueTime at) {
        runUntil(at);
        FakeConnection connection;
        EXPECT_TRUE(service.shouldAcceptNewConnection(connection));
        EXPECT_EQ(connection.exported, &service);
        EXPECT_TRUE(connection.resumed);
    }

    void requestAt(QueueTime at) {
        runUntil(at);
        service.fetchSnapshotWithReply([this](std::string data) {
            replies.push_back({clock.now, std::move(data)});
        });
    }
};

} // namespace

TEST_F(IdleExit, WorkRunsOnTheNamedQueueNotOnTheCaller) {
    EXPECT_EQ(service.queue().label(), "com.quillmarsh.CorvanePlugin.sensors");
    service.fetchSnapshotWithReply([this](std::string data) { replies.push_back({0s, data}); });
    EXPECT_EQ(collections, 0);
    service.queue().runReady();
    EXPECT_EQ(collections, 1);
    ASSERT_EQ(replies.size(), 1u);
}

TEST_F(IdleExit, NothingIsArmedBeforeTheFirstConnection) {
    runUntil(3600s);
    EXPECT_TRUE(exits.empty());
    EXPECT_FALSE(service.queue().hasWork());
}

TEST_F(IdleExit, SilentConnectionEndsTheAgentThirtySecondsAfterAcceptance) {
    acceptAt(5s);
    runUntil(34999ms);
    EXPECT_TRUE(exits.empty());
    runUntil(100s);
    EXPECT_EQ(exits, std::vector<QueueTime>{35s});
}

TEST_F(IdleExit, DeadlineCountsFromTheReplyNotFromTheRequest) {
    collectionTime = 4s;
    acceptAt(0s);
    requestAt(10s); // replied at 14 s
    runUntil(43999ms);
    EXPECT_TRUE(exits.empty());
    runUntil(100s);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].at, 14s);
    EXPECT_EQ(exits, std::vector<QueueTime>{44s});
}

TEST_F(IdleExit, LaterConnectionMovesTheDeadline) {
    acceptAt(0s);
    acceptAt(20s);
    runUntil(100s);
    EXPECT_EQ(exits, std::vector<QueueTime>{50s});
}

TEST_F(IdleExit, RequestEveryTwentySecondsKeepsTheAgentRunning) {
    acceptAt(0s);
    for (auto at = 20s; at <= 400s; at += 20s)
        requestAt(at);
    runUntil(429s);
    EXPECT_TRUE(exits.empty());
    EXPECT_EQ(replies.size(), 20u);
    runUntil(500s);
    EXPECT_EQ(exits, std::vector<QueueTime>{430s});
}

TEST_F(IdleExit, RequestEveryFortySecondsFindsTheAgentGoneEachTime) {
    acceptAt(0s);
    requestAt(40s);
    // The agent ended at 30 s, before the request; a new one would serve it.
    EXPECT_EQ(exits, std::vector<QueueTime>{30s});
}

TEST_F(IdleExit, TwoSimultaneousRequestsAreServedOneAfterTheOther) {
    collectionTime = 1s;
    acceptAt(0s);
    acceptAt(0s);
    runUntil(10s);
    service.fetchSnapshotWithReply([this](std::string d) { replies.push_back({clock.now, d}); });
    service.fetchSnapshotWithReply([this](std::string d) { replies.push_back({clock.now, d}); });
    runUntil(100s);
    EXPECT_EQ(collections, 2);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].at, 11s);
    EXPECT_EQ(replies[1].at, 12s);
    auto first = decodeSnapshot(replies[0].data);
    auto second = decodeSnapshot(replies[1].data);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->timestamp, 11.0); // each its own collection
    EXPECT_EQ(second->timestamp, 12.0);
    EXPECT_EQ(exits, std::vector<QueueTime>{42s});
}

TEST_F(IdleExit, UnencodableSnapshotRepliesEmptyAndStillReArms) {
    encodable = false;
    acceptAt(0s);
    requestAt(20s);
    runUntil(49s);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].data, "");
    EXPECT_TRUE(exits.empty());
    runUntil(100s);
    EXPECT_EQ(exits, std::vector<QueueTime>{50s});
}

// The exit item joins the queue when its deadline passes mid-collection, ahead of the
// re-arming that follows the reply: the agent ends right after that reply.
TEST_F(IdleExit, DeadlinePassingDuringACollectionEndsRightAfterTheReply) {
    collectionTime = 5s;
    acceptAt(0s);
    requestAt(28s); // reply at 33 s
    runUntil(100s);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].at, 33s);
    ASSERT_FALSE(exits.empty());
    EXPECT_EQ(exits.front(), 33s);
    EXPECT_EQ(repliesBeforeExit.front(), 1u);
}
