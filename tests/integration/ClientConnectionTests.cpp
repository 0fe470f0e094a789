// The client end of the connection against a service this test plays by hand, with the
// plugin app's identity, which it requires of the service too; and the sensor service
// client against the agent and the same agent signed under another anchor.
#include "App/SensorServiceClient.h"
#include "Platform/ServiceConnection.h"
#include "Platform/linux/transport/UnixSocket.h"
#include "Shared/ServiceContract.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <future>
#include <mutex>
#include <sys/resource.h>
#include <thread>

using namespace std::chrono_literals;
using Log = std::vector<std::string>;

namespace {

class ClientConnection : public testing::Test {
  protected:
    void SetUp() override {
        sockaddr_un address = *unixAddress(runtime.socketPath());
        ASSERT_EQ(bind(listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listening.get(), 8), 0);
    }
    // The client's next connection, as the service sees it, greeted as `name` with our
    // credentials, then sent `bytes`; closed at once when no name is given.
    FileDescriptor accepted(std::string_view name, const std::string& bytes) {
        FileDescriptor peer(accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!name.empty()) {
            std::string greeting = *frames::encodeFrame(name);
            EXPECT_EQ(send(peer.get(), greeting.data(), greeting.size(), MSG_NOSIGNAL),
                      ssize_t(greeting.size()));
            send(peer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
        return peer;
    }
    // Connects and makes `calls` calls.
    std::unique_ptr<ServiceConnection> connect(int calls) {
        auto connection = makeServiceConnection(contract::sensorMachServiceName);
        connection->setCodeSigningRequirement(R"(identifier "com.quillmarsh.CorvanePlugin")");
        connection->setInterruptionHandler([this] { add("interrupted"); });
        connection->setInvalidationHandler([this] { add("invalidated"); });
        connection->resume();
        while (calls-- > 0)
            call(*connection);
        return connection;
    }
    void call(ServiceConnection& connection) {
        auto proxy = connection.remoteObjectProxy(
            [this](const ConnectionError& error) { add("error " + std::to_string(error.code)); });
        ASSERT_NE(proxy, nullptr);
        proxy->fetchSnapshotWithReply([this](ReplyBytes data) {
            add(!data ? "too large"
                      : "reply " + (data->size() > 16 ? std::to_string(data->size()) : *data));
        });
    }
    void add(std::string event) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
        onCallersThread = onCallersThread || std::this_thread::get_id() == caller;
        changed.notify_all();
    }
    // The events once there are `count`, with any that follow within `settle`.
    Log waitFor(std::size_t count, std::chrono::milliseconds settle = 100ms) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 5s, [&] { return events.size() >= count; });
        changed.wait_for(lock, settle, [&] { return events.size() > count; });
        return std::exchange(events, {});
    }

    RuntimeDirectory runtime;
    FileDescriptor listening{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    std::mutex mutex;
    std::condition_variable changed;
    Log events;
    const std::thread::id caller = std::this_thread::get_id();
    bool onCallersThread = false;
};

} // namespace

// A reply longer than a client takes is refused from its header; the stream cannot be
// followed past it, so the calls after it fail. Nothing comes after invalidation.
TEST_F(ClientConnection, RepliesComeInCallOrderUntilOneIsTooLargeOrTheConnectionInvalid) {
    auto connection = connect(5);
    std::string largest(contract::largestReplyBytes, 'x');
    FileDescriptor peer = accepted(contract::sensorMachServiceName,
                                   *frames::encodeFrame("one") + *frames::encodeFrame("") +
                                       *frames::encodeFrame(largest) +
                                       frameHeader(std::uint32_t(largest.size() + 1)));
    EXPECT_EQ(waitFor(5), (Log{"reply one", "reply ", "reply 65536", "too large",
                               "error " + std::to_string(EMSGSIZE)}));
    call(*connection);
    peer = accepted(contract::sensorMachServiceName, "");
    connection->invalidate();
    send(peer.get(), "\4\0\0\0late", 8, MSG_NOSIGNAL);
    EXPECT_EQ(waitFor(1, 300ms), Log{"invalidated"});
}

// Closing before its greeting, greeting as another service, not listening at all.
TEST_F(ClientConnection, RefusedOrAbsentServiceIsNeverHeardAndInvalidates) {
    for (std::string_view greeting : {"", "another.service", "none"}) {
        if (greeting == "none")
            listening.reset();
        auto connection = connect(1);
        if (listening)
            accepted(greeting, *frames::encodeFrame("sensor data"));
        EXPECT_EQ(waitFor(1), Log{"invalidated"}) << greeting;
    }
    EXPECT_FALSE(onCallersThread);
}

// A call never taken by the connection's thread may hold the last reference to whatever
// owns the connection; it is dropped without the connection's lock held.
TEST_F(ClientConnection, CallDroppedUnsentMayReleaseItsConnection) {
    for (int round = 0; round < 20; ++round) {
        std::promise<void> released;
        std::shared_ptr<ServiceConnection> connection(
            makeServiceConnection(contract::sensorMachServiceName).release(),
            [&](ServiceConnection* gone) {
                delete gone;
                released.set_value();
            });
        connection->resume();
        std::this_thread::sleep_for(5ms); // its thread now waits for calls
        ServiceConnection& owned = *connection;
        owned.remoteObjectProxy(nullptr)->fetchSnapshotWithReply(
            [owner = std::move(connection)](ReplyBytes) {});
        owned.invalidate(); // most often before the thread has taken the call
        ASSERT_EQ(released.get_future().wait_for(2s), std::future_status::ready) << round;
    }
}

// Out of descriptors before its first connection, the process's connection thread has no
// epoll set to wait on: each connection ends as if its service were absent, and the thread
// then sleeps rather than spin. Run in a process of its own, which has no thread yet.
TEST(ClientWithoutDescriptors, ConnectionsEndAndItsThreadSleeps) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own checks open descriptors, and report failures of theirs";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeDirectory runtime;
            int lowestFree = dup(STDIN_FILENO);
            close(lowestFree);
            rlimit limit{};
            getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = rlim_t(lowestFree);
            setrlimit(RLIMIT_NOFILE, &limit);
            std::promise<void> invalidated;
            auto connection = makeServiceConnection(contract::sensorMachServiceName);
            connection->setInvalidationHandler([&] { invalidated.set_value(); });
            connection->resume();
            connection->remoteObjectProxy(nullptr)->fetchSnapshotWithReply([](ReplyBytes) {});
            if (invalidated.get_future().wait_for(2s) != std::future_status::ready)
                std::_Exit(2);
            auto processorTime = [] {
                timespec now{};
                clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
                return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
            };
            auto before = processorTime();
            std::this_thread::sleep_for(500ms);
            std::_Exit(processorTime() - before < 50ms ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}

// Only the team's agent is heard. One that never answers runs into the time-out, which the
// utility queue ends in time even while its thread sleeps until the earlier, longer ones.
TEST(ClientAgainstAgents, OnlyTheTeamsAgentIsHeardInTime) {
    const std::tuple<const char*, bool, std::string> cases[] = {
        // stopped after listening?
        {AGENT_PATH, false, PLUGIN_VERSION},
        // Its reply would be taken, were it ever decoded.
        {AGENT_OF_OTHER_ANCHOR_PATH, false, std::string(description(ClientError::unavailable))},
        {AGENT_PATH, true, std::string(description(ClientError::timedOut))},
    };
    RuntimeDirectory runtime;
    for (const auto& [program, stopped, expected] : cases) {
        auto agent = BackgroundProcess::spawn(program);
        ASSERT_TRUE(waitForListener(runtime.socketPath(), 5s)) << program;
        if (stopped)
            kill(agent.pid(), SIGSTOP);
        const std::chrono::duration<double> timeout = stopped ? 0.3s : 5s;
        auto delivered = std::make_shared<std::promise<std::string>>();
        const auto start = std::chrono::steady_clock::now();
        SensorServiceClient::fetchSnapshot(timeout, [delivered](FetchResult result) {
            auto* snapshot = std::get_if<SensorSnapshot>(&result);
            auto* error = std::get_if<ClientError>(&result);
            delivered->set_value(snapshot ? snapshot->pluginVersion.value_or("?")
                                 : error  ? std::string(description(*error))
                                          : "connection error");
        });
        auto result = delivered->get_future();
        ASSERT_EQ(result.wait_for(2s), std::future_status::ready) << program;
        EXPECT_EQ(result.get(), expected) << program;
        EXPECT_GE(std::chrono::steady_clock::now() - start, stopped ? timeout : 0s);
    }
}
