#include "App/SensorServiceClient.h"
#include "Shared/SnapshotJSON.h"
#include "support/FakeServiceConnection.h"
#include "support/FetchResults.h"
#include "support/ManualQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::string kindOf(const FetchResult& result) {
    if (std::holds_alternative<SensorSnapshot>(result))
        return "reply";
    if (std::holds_alternative<ConnectionError>(result))
        return "proxy error";
    return std::string(description(std::get<ClientError>(result)));
}

// Runs every event at once, each on its own thread, released together.
void race(const std::vector<std::function<void()>>& events) {
    std::atomic<int> ready = 0;
    std::vector<std::thread> threads;
    for (const auto& event : events)
        threads.emplace_back([&] {
            ready.fetch_add(1);
            while (ready.load() < int(events.size()))
                std::this_thread::yield();
            event();
        });
    for (auto& thread : threads)
        thread.join();
}

} // namespace

TEST(FetchRace, ExactlyOneResultWhicheverEventWins) {
    const std::string reply = encodeCompact(SensorSnapshot{}).value();
    std::map<std::string, int> winners;
    for (int round = 0; round < 400; ++round) {
        ManualQueue queue;
        auto line = std::make_shared<FakeLine>();
        FetchResults results;
        SensorServiceClient::fetchSnapshot(1s, results.completion(), fakeConnections(line), queue);
        {
            // Taken before the race: a real connection may already be running any of them
            // when another event closes the call.
            auto interruption = line->interruptionHandler();
            auto invalidation = line->invalidationHandler();
            auto proxyError = line->proxyErrorHandler();
            auto replyTo = line->pendingReply();
            std::vector<std::function<void()>> events{
                [&] { replyTo(reply); },    [&] { interruption(); },
                [&] { invalidation(); },    [&] { proxyError(ConnectionError{32, "Broken pipe"}); },
                [&] { queue.advance(1s); },
            };
            // The thread started last tends to win; give each event that place in turn.
            std::rotate(events.begin(), events.begin() + round % events.size(), events.end());
            race(events);
        }
        auto all = results.all();
        ASSERT_EQ(all.size(), 1u) << "round " << round;
        ++winners[kindOf(all[0])];
        EXPECT_EQ(line->invalidations(), 1);
        EXPECT_FALSE(line->connectionExists()) << "round " << round;
    }
    for (const auto& [winner, rounds] : winners)
        std::cout << winner << ": " << rounds << " rounds\n";
}
