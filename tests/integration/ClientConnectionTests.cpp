// The client end of the connection against a service this test plays by hand. This test
// program carries the plugin app's identity; each test picks the requirement it puts on
// the service, so the same process can pass or fail it.
#include "Platform/ServiceConnection.h"
#include "Platform/linux/UnixSocket.h"
#include "Shared/ServiceContract.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <poll.h>
#include <thread>

using namespace std::chrono_literals;
using Log = std::vector<std::string>;

namespace {

const std::string ourOwnRequirement = R"(identifier "com.quillmarsh.CorvanePlugin")";

void sendBytes(const FileDescriptor& peer, const std::string& bytes) {
    send(peer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// Greets as the named service, with our credentials, and takes `calls` calls.
void greet(const FileDescriptor& peer, int calls = 1,
           std::string_view name = contract::sensorMachServiceName) {
    EXPECT_TRUE(sendWithCredentials(peer.get(), *frames::encodeFrame(name)));
    std::string expected, got;
    while (calls-- > 0)
        expected += *frames::encodeFrame(frames::fetchSnapshotMethod);
    got.resize(expected.size());
    EXPECT_EQ(recv(peer.get(), got.data(), got.size(), MSG_WAITALL), ssize_t(got.size()));
    EXPECT_EQ(got, expected);
}

class ClientConnection : public testing::Test {
  protected:
    void SetUp() override {
        sockaddr_un address = *unixAddress(runtime.socketPath());
        ASSERT_EQ(bind(listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listening.get(), 8), 0);
    }
    // The client's next connection, as the service sees it.
    FileDescriptor accepted() {
        pollfd ready{listening.get(), POLLIN, 0};
        EXPECT_EQ(poll(&ready, 1, 5000), 1);
        return FileDescriptor(accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }
    // Connects and makes `calls` calls.
    std::unique_ptr<ServiceConnection> connect(const std::string& requirement, int calls = 1) {
        auto connection = makeServiceConnection(contract::sensorMachServiceName);
        connection->setCodeSigningRequirement(requirement);
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
            add(!data               ? "too large"
                : data->size() > 16 ? std::to_string(data->size()) + " bytes"
                                    : "reply " + *data);
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
    FileDescriptor listening{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    std::mutex mutex;
    std::condition_variable changed;
    Log events;
    const std::thread::id caller = std::this_thread::get_id();
    bool onCallersThread = false;
};

} // namespace

// A reply longer than a client takes is refused from its header; the stream cannot be
// followed past it, so the calls after it fail.
TEST_F(ClientConnection, RepliesComeInCallOrderUntilOneIsTooLargeOrTheConnectionInvalid) {
    auto connection = connect(ourOwnRequirement, 5);
    FileDescriptor peer = accepted();
    greet(peer, 5);
    std::string largest(contract::largestReplyBytes, 'x');
    sendBytes(peer, *frames::encodeFrame("one") + *frames::encodeFrame("") +
                        *frames::encodeFrame(largest) + frameHeader(largest.size() + 1));
    EXPECT_EQ(waitFor(5), (Log{"reply one", "reply ", "65536 bytes", "too large",
                               "error " + std::to_string(EMSGSIZE)}));
    call(*connection);
    peer = accepted();
    greet(peer);
    connection->invalidate();
    sendBytes(peer, *frames::encodeFrame("too late"));
    EXPECT_EQ(waitFor(1, 300ms), Log{"invalidated"});
}

TEST_F(ClientConnection, RefusedOrAbsentServiceIsNeverHeardAndInvalidates) {
    const std::tuple<const char*, std::string, std::string_view> refusals[] = {
        {"failing the requirement", contract::clientRequirement(), contract::sensorMachServiceName},
        {"closing before its greeting", ourOwnRequirement, ""},
        {"greeting as another service", ourOwnRequirement, "another.service"},
        {"not listening", ourOwnRequirement, ""},
    };
    for (const auto& [name, requirement, greeting] : refusals) {
        if (name == std::string("not listening"))
            listening.reset();
        auto connection = connect(requirement);
        FileDescriptor peer = listening ? accepted() : FileDescriptor();
        if (!greeting.empty()) {
            greet(peer, 1, greeting);
            sendBytes(peer, *frames::encodeFrame("sensor data"));
        }
        peer.reset();
        EXPECT_EQ(waitFor(1), Log{"invalidated"}) << name;
    }
    EXPECT_FALSE(onCallersThread);
}

TEST_F(ClientConnection, ServiceWithAFullBacklogIsWaitedFor) {
    sockaddr_un address = *unixAddress(runtime.socketPath());
    std::vector<FileDescriptor> waiting;
    do
        waiting.emplace_back(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    while (::connect(waiting.back().get(), reinterpret_cast<sockaddr*>(&address), sizeof address) ==
           0);
    waiting.pop_back(); // the one that found no room
    auto connection = connect(ourOwnRequirement);
    std::this_thread::sleep_for(300ms);
    while (!waiting.empty()) {
        waiting.pop_back();
        accepted();
    }
    FileDescriptor peer = accepted();
    greet(peer);
    sendBytes(peer, *frames::encodeFrame("one"));
    EXPECT_EQ(waitFor(1), Log{"reply one"});
}

TEST_F(ClientConnection, EndingWithACallOutstandingInterruptsAndALaterCallReconnects) {
    auto connection = connect(ourOwnRequirement);
    for (const char* reply : {"first", "", "again"}) {
        FileDescriptor peer = accepted();
        greet(peer);
        if (*reply)
            sendBytes(peer, *frames::encodeFrame(reply));
        peer.reset();
        EXPECT_EQ(waitFor(1), Log{*reply ? "reply " + std::string(reply) : "interrupted"});
        std::this_thread::sleep_for(100ms); // gone while idle by now: no interruption
        call(*connection);
    }
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
