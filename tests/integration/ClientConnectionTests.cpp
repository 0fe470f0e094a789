// The client end of the connection against scripted services in this process. This test
// program carries the plugin app's identity; each test picks the requirement it puts on
// the service, so the same process can pass or fail it.
#include "Platform/ServiceConnection.h"
#include "Platform/linux/UnixSocket.h"
#include "Shared/ServiceContract.h"
#include "Shared/ServiceFrames.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const std::string ourOwnRequirement = R"(identifier "com.quillmarsh.CorvanePlugin")";
const std::string agentOnlyRequirement = contract::clientRequirement();

// What reached the client's handlers and replies, in order, and on which threads.
class Events {
  public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }
    // The events once there are `count`, or all there are after `limit`.
    std::vector<std::string> waitFor(std::size_t count, std::chrono::milliseconds limit = 5s) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
        return events_;
    }
    bool anyOnThread(std::thread::id thread) {
        std::lock_guard lock(mutex_);
        return std::find(threads_.begin(), threads_.end(), thread) != threads_.end();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<std::thread::id> threads_;
};

// A service that serves each accepted connection with a script, on a thread of its own.
class ScriptedService {
  public:
    using Script = std::function<void(int fd)>;
    ScriptedService(const std::string& path, std::vector<Script> scripts) {
        listening_.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address = *unixAddress(path);
        bind(listening_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listening_.get(), 8);
        thread_ = std::thread([this, scripts = std::move(scripts)] {
            for (const Script& script : scripts) {
                pollfd ready{listening_.get(), POLLIN, 0};
                if (poll(&ready, 1, 5000) != 1)
                    return;
                FileDescriptor connection(
                    accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
                script(connection.get());
            }
        });
    }
    ~ScriptedService() { thread_.join(); }

  private:
    FileDescriptor listening_;
    std::thread thread_;
};

void greet(int fd, std::string_view name = contract::sensorMachServiceName) {
    sendWithCredentials(fd, *frames::encodeFrame(name));
}

void reply(int fd, std::string_view data) {
    std::string frame = *frames::encodeFrame(data);
    send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
}

// Reads one whole call; false when the client closed first.
bool readCall(int fd) {
    std::string expected = *frames::encodeFrame(frames::fetchSnapshotMethod);
    std::string got(expected.size(), '\0');
    return recv(fd, got.data(), got.size(), MSG_WAITALL) == ssize_t(got.size()) && got == expected;
}

// Waits until the client closes its end.
void waitForClientToClose(int fd) {
    pollfd ready{fd, POLLIN, 0};
    char byte;
    while (poll(&ready, 1, 5000) == 1 && recv(fd, &byte, 1, 0) > 0) {
    }
}

class ClientConnection : public testing::Test {
  protected:
    std::unique_ptr<ServiceConnection> connect(const std::string& requirement) {
        auto connection = makeServiceConnection(contract::sensorMachServiceName);
        connection->setCodeSigningRequirement(requirement);
        connection->setInterruptionHandler([this] { events.add("interrupted"); });
        connection->setInvalidationHandler([this] { events.add("invalidated"); });
        connection->resume();
        return connection;
    }
    void call(ServiceConnection& connection) {
        auto proxy = connection.remoteObjectProxy([this](const ConnectionError& error) {
            events.add("error " + std::to_string(error.code));
        });
        ASSERT_NE(proxy, nullptr);
        proxy->fetchSnapshotWithReply([this](std::string data) { events.add("reply " + data); });
    }

    RuntimeDirectory runtime;
    Events events;
};

using Log = std::vector<std::string>;

} // namespace

TEST_F(ClientConnection, NoServiceIsInvalidationOnTheConnectionsOwnThread) {
    auto connection = connect(ourOwnRequirement);
    call(*connection);
    EXPECT_EQ(events.waitFor(1), Log{"invalidated"});
    EXPECT_FALSE(events.anyOnThread(std::this_thread::get_id()));
    EXPECT_EQ(events.waitFor(2, 100ms), Log{"invalidated"});
}

TEST_F(ClientConnection, RepliesArriveInCallOrder) {
    ScriptedService service(runtime.socketPath(), {[](int fd) {
                                greet(fd);
                                ASSERT_TRUE(readCall(fd) && readCall(fd));
                                reply(fd, "one");
                                reply(fd, "");
                                waitForClientToClose(fd);
                            }});
    auto connection = connect(ourOwnRequirement);
    call(*connection);
    call(*connection);
    EXPECT_EQ(events.waitFor(2), (Log{"reply one", "reply "}));
    connection->invalidate();
    EXPECT_EQ(events.waitFor(3), (Log{"reply one", "reply ", "invalidated"}));
    EXPECT_EQ(events.waitFor(4, 100ms).size(), 3u);
}

TEST_F(ClientConnection, ServiceFailingTheRequirementIsNeverHeard) {
    ScriptedService service(runtime.socketPath(), {[](int fd) {
                                greet(fd);
                                reply(fd, "sensor data");
                                waitForClientToClose(fd);
                            }});
    auto connection = connect(agentOnlyRequirement);
    call(*connection);
    EXPECT_EQ(events.waitFor(1), Log{"invalidated"});
    EXPECT_EQ(events.waitFor(2, 100ms), Log{"invalidated"});
}

TEST_F(ClientConnection, ServiceClosingBeforeItsGreetingRefusedUs) {
    ScriptedService service(runtime.socketPath(), {[](int) {}});
    auto connection = connect(ourOwnRequirement);
    call(*connection);
    EXPECT_EQ(events.waitFor(1), Log{"invalidated"});
}

TEST_F(ClientConnection, GreetingForAnotherServiceIsRefused) {
    ScriptedService service(runtime.socketPath(), {[](int fd) {
                                greet(fd, "another.service");
                                reply(fd, "data");
                                waitForClientToClose(fd);
                            }});
    auto connection = connect(ourOwnRequirement);
    call(*connection);
    EXPECT_EQ(events.waitFor(1), Log{"invalidated"});
}

TEST_F(ClientConnection, ServiceEndingWithACallOutstandingInterruptsAndALaterCallReconnects) {
    ScriptedService service(runtime.socketPath(), {[](int fd) {
                                                       greet(fd);
                                                       readCall(fd);
                                                   },
                                                   [](int fd) {
                                                       greet(fd);
                                                       readCall(fd);
                                                       reply(fd, "again");
                                                       waitForClientToClose(fd);
                                                   }});
    auto connection = connect(ourOwnRequirement);
    call(*connection);
    EXPECT_EQ(events.waitFor(1), Log{"interrupted"});
    call(*connection);
    EXPECT_EQ(events.waitFor(2), (Log{"interrupted", "reply again"}));
}

TEST_F(ClientConnection, ServiceEndingWhileIdleIsNoInterruption) {
    ScriptedService service(runtime.socketPath(), {[](int fd) {
                                                       greet(fd);
                                                       readCall(fd);
                                                       reply(fd, "first");
                                                   },
                                                   [](int fd) {
                                                       greet(fd);
                                                       readCall(fd);
                                                       reply(fd, "second");
                                                       waitForClientToClose(fd);
                                                   }});
    auto connection = connect(ourOwnRequirement);
    call(*connection);
    EXPECT_EQ(events.waitFor(1), Log{"reply first"});
    std::this_thread::sleep_for(100ms); // the first service is gone by now
    call(*connection);
    EXPECT_EQ(events.waitFor(2), (Log{"reply first", "reply second"}));
}

TEST_F(ClientConnection, FrameBeyondTheLimitIsATransportError) {
    ScriptedService service(runtime.socketPath(), {[](int fd) {
                                greet(fd);
                                readCall(fd);
                                std::string header = frameHeader(frames::frameLimit + 1);
                                send(fd, header.data(), header.size(), MSG_NOSIGNAL);
                                waitForClientToClose(fd);
                            }});
    auto connection = connect(ourOwnRequirement);
    call(*connection);
    EXPECT_EQ(events.waitFor(1), Log{"error " + std::to_string(EMSGSIZE)});
    connection->invalidate();
}

TEST_F(ClientConnection, ReplyAboveTheClientsOwnLimitStillArrivesWhole) {
    std::string large(contract::largestReplyBytes + 1, 'x');
    ScriptedService service(runtime.socketPath(), {[&](int fd) {
                                greet(fd);
                                readCall(fd);
                                reply(fd, large);
                                waitForClientToClose(fd);
                            }});
    auto connection = connect(ourOwnRequirement);
    call(*connection);
    EXPECT_EQ(events.waitFor(1), Log{"reply " + large});
    connection->invalidate();
}

TEST_F(ClientConnection, InvalidationSilencesAnOutstandingCall) {
    ScriptedService service(runtime.socketPath(), {[&](int fd) {
                                greet(fd);
                                readCall(fd);
                                // Answers only once the client has given up.
                                std::this_thread::sleep_for(200ms);
                                reply(fd, "too late");
                                waitForClientToClose(fd);
                            }});
    auto connection = connect(ourOwnRequirement);
    call(*connection);
    std::this_thread::sleep_for(50ms);
    connection->invalidate();
    EXPECT_EQ(events.waitFor(2, 500ms), Log{"invalidated"});
}
