// The client end of the connection against a service this test plays by hand, with the
// plugin app's identity, which it requires of the service too.
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

void sendBytes(const FileDescriptor& peer, const std::string& bytes) {
    send(peer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// Greets as the named service, with our credentials.
void greet(const FileDescriptor& peer, std::string_view name = contract::sensorMachServiceName) {
    EXPECT_TRUE(sendWithCredentials(peer.get(), *frames::encodeFrame(name)));
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
    std::unique_ptr<ServiceConnection> connect(int calls = 1) {
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
    auto connection = connect(5);
    FileDescriptor peer = accepted();
    greet(peer);
    std::string largest(contract::largestReplyBytes, 'x');
    sendBytes(peer, *frames::encodeFrame("one") + *frames::encodeFrame("") +
                        *frames::encodeFrame(largest) + frameHeader(largest.size() + 1));
    EXPECT_EQ(waitFor(5), (Log{"reply one", "reply ", "reply 65536", "too large",
                               "error " + std::to_string(EMSGSIZE)}));
    call(*connection);
    peer = accepted();
    greet(peer);
    connection->invalidate();
    sendBytes(peer, *frames::encodeFrame("too late"));
    EXPECT_EQ(waitFor(1, 300ms), Log{"invalidated"});
}

TEST_F(ClientConnection, RefusedOrAbsentServiceIsNeverHeardAndInvalidates) {
    // Closing before its greeting, greeting as another service, not listening at all.
    for (std::string_view greeting : {"", "another.service", "none"}) {
        if (greeting == "none")
            listening.reset();
        auto connection = connect();
        if (FileDescriptor peer = listening ? accepted() : FileDescriptor();
            peer && !greeting.empty()) {
            greet(peer, greeting);
            sendBytes(peer, *frames::encodeFrame("sensor data"));
        }
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
