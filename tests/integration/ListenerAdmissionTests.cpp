// The listener in this process, with a delegate that counts what reaches it. This test
// program carries the plugin app's identity; the probes carry others.
#include "Platform/EventLoop.h"
#include "Platform/ServiceListener.h"
#include "Shared/ServiceContract.h"
#include "support/RunningProgram.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <grp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

class CountingService final : public ServiceListenerDelegate, public SensorServiceProtocol {
  public:
    std::atomic<int> accepted{0};
    bool shouldAcceptNewConnection(IncomingConnection& connection) override {
        ++accepted;
        connection.setExportedObject(*this);
        connection.resume();
        return true;
    }
    void fetchSnapshotWithReply(std::function<void(std::string)> reply) override {
        reply("sensor data");
    }
};

class ListenerAdmission : public testing::Test {
  protected:
    void SetUp() override {
        listener.emplace(loop, std::string(contract::sensorMachServiceName));
        listener->setConnectionCodeSigningRequirement(contract::agentRequirement());
        listener->setDelegate(service);
        listener->resume();
        loop.watch(stop, EventLoop::readable, [this](bool) {
            listener.reset();
            loop.unwatch(stop);
        });
        thread = std::thread([this] { loop.run(queue); });
    }
    void TearDown() override {
        std::uint64_t one = 1;
        EXPECT_EQ(write(stop, &one, sizeof one), ssize_t(sizeof one));
        thread.join();
        close(stop);
    }

    // Connections are taken in order, so once this one is counted every earlier one has
    // been decided.
    void expectAcceptedAfterAnAdmittedProbe(int expected) {
        RunningProgram admitted(PROBE_PLUGIN_APP_PATH, {runtime.socketPath()});
        ASSERT_FALSE(admitted.firstLine().empty());
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (service.accepted < expected && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        EXPECT_EQ(service.accepted, expected);
    }

    RuntimeDirectory runtime;
    EventLoop loop;
    SerialQueue queue{"test", monotonicNow};
    CountingService service;
    std::optional<ServiceListener> listener;
    int stop = eventfd(0, EFD_CLOEXEC);
    std::thread thread;
};

// Connects from a forked copy of this process running as `uid`. The copy exits 0 when the
// listener closed on it without sending a byte, 1 when it was sent something, 2 when it
// could not connect, 4 when nothing happened.
int connectAs(uid_t uid, const std::string& path) {
    BackgroundProcess child = BackgroundProcess::fork([&] {
        if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)
            return 3;
        RawClient client(path);
        if (!client.isConnected())
            return 2;
        pollfd ready{client.descriptor(), POLLIN, 0};
        if (poll(&ready, 1, 5000) != 1)
            return 4;
        char byte;
        return recv(client.descriptor(), &byte, 1, 0) > 0 ? 1 : 0;
    });
    return child.waitForExit(10s).value_or(-2);
}

} // namespace

TEST_F(ListenerAdmission, OnlyAdmittedProgramsReachTheService) {
    std::vector<std::unique_ptr<RunningProgram>> intruders;
    for (const char* probe :
         {PROBE_WITHOUT_IDENTITY_PATH, PROBE_OTHER_APP_PATH, PROBE_OTHER_TEAM_PATH}) {
        intruders.push_back(std::make_unique<RunningProgram>(
            probe, std::vector<std::string>{runtime.socketPath()}));
        ASSERT_FALSE(intruders.back()->firstLine().empty()) << probe;
    }
    expectAcceptedAfterAnAdmittedProbe(1);

    RunningProgram hostApp(PROBE_STORE_HOST_APP_PATH, {runtime.socketPath()});
    ASSERT_FALSE(hostApp.firstLine().empty());
    expectAcceptedAfterAnAdmittedProbe(3);
}

TEST_F(ListenerAdmission, ProcessOfAnotherUserIsRefusedWithoutAByte) {
    ASSERT_EQ(geteuid(), 0u) << "running a process as another user needs root";
    // Let the other user reach the socket, so that only the listener stands in its way.
    ASSERT_EQ(chmod(runtime.path().c_str(), 0711), 0);
    ASSERT_EQ(chmod(runtime.socketPath().c_str(), 0666), 0);

    EXPECT_EQ(connectAs(65534, runtime.socketPath()), 0);
    expectAcceptedAfterAnAdmittedProbe(1);
    // The same program as our own user is admitted and greeted.
    EXPECT_EQ(connectAs(geteuid(), runtime.socketPath()), 1);
    EXPECT_EQ(service.accepted, 2);
}

TEST_F(ListenerAdmission, GreetingNamesTheServiceAndCarriesTheListenersCredentials) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int enable = 1;
    ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &enable, sizeof enable), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    runtime.socketPath().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    char buffer[256];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec data{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got = recvmsg(fd, &message, 0);
    close(fd);

    std::string name(contract::sensorMachServiceName);
    ASSERT_EQ(got, ssize_t(4 + name.size()));
    EXPECT_EQ(std::string(buffer, 4), frameHeader(std::uint32_t(name.size())));
    EXPECT_EQ(std::string(buffer + 4, name.size()), name);
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(header->cmsg_type, SCM_CREDENTIALS);
    ucred sender{};
    std::memcpy(&sender, CMSG_DATA(header), sizeof sender);
    EXPECT_EQ(sender.pid, getpid());
    EXPECT_EQ(sender.uid, geteuid());
}
