// The agent in service mode, started by hand or handed a socket, with real clients.
// This test program carries the plugin app's identity, so its own connections are
// admitted and can speak the frames directly.
#include "Platform/linux/UnixSocket.h"
#include "Shared/ServiceContract.h"
#include "Shared/SnapshotJSON.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <future>
#include <grp.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const std::string agentPath = AGENT_PATH;
const std::string request = *frames::encodeFrame(frames::fetchSnapshotMethod);

ChildResult fetch(const std::string& client = FETCH_CLIENT_PATH) {
    return runChild(client, {client});
}

struct stat statOf(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info;
}

class HandStartedAgent : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(startAgent()); }
    bool startAgent() {
        agent.emplace(BackgroundProcess::spawn(agentPath));
        return waitForListener(path, 5s);
    }
    // An admitted client is greeted with the service's name before anything else.
    std::unique_ptr<RawClient> greetedClient() {
        auto client = std::make_unique<RawClient>(path);
        EXPECT_EQ(client->readFrame(), contract::sensorMachServiceName);
        return client;
    }

    RuntimeDirectory runtime;
    const std::string path = runtime.socketPath();
    std::optional<BackgroundProcess> agent;
};

} // namespace

TEST_F(HandStartedAgent, ClientsAtOnceEachGetTheirOwnSnapshot) {
    auto first = std::async(std::launch::async, [] { return fetch(); });
    ChildResult a = fetch(), b = first.get();
    ASSERT_EQ(a.exitStatus, 0) << a.err;
    ASSERT_EQ(b.exitStatus, 0) << b.err;
    auto snapshotA = decodeSnapshot(a.out), snapshotB = decodeSnapshot(b.out);
    ASSERT_TRUE(snapshotA && snapshotB);
    EXPECT_NE(snapshotA->timestamp, snapshotB->timestamp);
}

// Calls sent faster than they are answered all get their replies, in call order.
TEST_F(HandStartedAgent, PipelinedCallsAreAllAnsweredInOrder) {
    auto client = greetedClient();
    constexpr int calls = 3000;
    std::string all;
    for (int i = 0; i < calls; ++i)
        all += request;
    auto writer = std::async(std::launch::async, [&] { return client->send(all); });
    int answered = 0;
    for (double previous = 0; answered < calls; ++answered) {
        auto reply = client->readFrame();
        auto snapshot = reply ? decodeSnapshot(*reply) : std::nullopt;
        if (!snapshot || snapshot->timestamp < previous)
            break;
        previous = snapshot->timestamp;
    }
    EXPECT_TRUE(writer.get());
    EXPECT_EQ(answered, calls);
}

// Replies pile up for a client that asks and never reads; past a bound the agent stops
// reading its calls, so the pile cannot grow further.
TEST_F(HandStartedAgent, ClientThatNeverReadsIsNoLongerRead) {
    RawClient greedy(path);
    std::size_t accepted = 0, more = 0;
    auto deadline = std::chrono::steady_clock::now() + 10s;
    do {
        accepted += more;
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << accepted << " calls read";
        std::this_thread::sleep_for(300ms); // time for the agent to read on, if it would
        // One call per write: each call the agent takes frees room for another at once.
        for (more = 0; send(greedy.descriptor(), request.data(), request.size(),
                            MSG_DONTWAIT | MSG_NOSIGNAL) == ssize_t(request.size());)
            ++more;
    } while (more > 0);
    EXPECT_LT(accepted, 20000u);
    EXPECT_EQ(fetch().exitStatus, 0);
}

// Refused before the service sees them, which would greet them: they get no byte.
TEST_F(HandStartedAgent, IntrudersAreRefusedWithoutAByte) {
    for (const char* intruder :
         {FETCH_WITHOUT_IDENTITY_PATH, FETCH_AS_OTHER_APP_PATH, FETCH_OF_OTHER_TEAM_PATH}) {
        ChildResult run = fetch(intruder);
        EXPECT_EQ(run.exitStatus, 1) << intruder;
        EXPECT_EQ(run.out + run.err, "invalidated\n") << intruder; // "interrupted" once greeted
    }
    // A copy of this program as another user, let through the folder's and the socket's
    // permissions so that only the agent stands in its way.
    ASSERT_EQ(geteuid(), 0u) << "running a process as another user needs root";
    ASSERT_EQ(chmod(runtime.path().c_str(), 0711), 0);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    for (uid_t uid : {65534u, geteuid()}) {
        BackgroundProcess client = BackgroundProcess::fork([&] {
            if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)
                return 3;
            RawClient raw(path);
            return raw.readFrame() ? 1 : raw.peerClosed() ? 0 : 2;
        });
        EXPECT_EQ(client.waitForExit(10s), uid == geteuid() ? 1 : 0) << uid;
    }
}

TEST_F(HandStartedAgent, MisbehavingClientsDoNotDisturbOthers) {
    const std::string misbehaving[] = {*frames::encodeFrame("rm -rf /"),
                                       frameHeader(std::uint32_t(frames::frameLimit + 1)) + "xy",
                                       frameHeader(0xFFFFFFFF) + "xyz"};
    for (const std::string& bytes : misbehaving) {
        auto client = greetedClient();
        client->send(bytes);
        while (client->readFrame()) {
        }
        EXPECT_TRUE(client->peerClosed()) << bytes;
    }
    RawClient halfway(path), gone(path);
    halfway.send(request.substr(0, 7));
    gone.send(request);
    halfway.close();
    gone.close();
    auto silent = greetedClient();

    ChildResult run = fetch();
    EXPECT_EQ(run.exitStatus, 0) << run.err;
}

TEST_F(HandStartedAgent, OnlyAStaleSocketIsReplaced) {
    // A second agent leaves the live socket alone; with nothing to listen on, it ends.
    ino_t live = statOf(path).st_ino;
    EXPECT_EQ(BackgroundProcess::spawn(agentPath).waitForExit(5s), 0);
    EXPECT_EQ(statOf(path).st_ino, live);
    EXPECT_EQ(fetch().exitStatus, 0);

    agent->kill(); // leaves its socket file behind
    EXPECT_EQ(fetch().err, "invalidated\n");
    ASSERT_TRUE(startAgent());
    EXPECT_EQ(statOf(path).st_mode & 0777, 0600u);
    EXPECT_EQ(fetch().exitStatus, 0);

    // Nor is a file of another kind replaced; without a runtime folder there is no path.
    agent->kill();
    unlink(path.c_str());
    std::ofstream(path) << "not a socket";
    EXPECT_EQ(BackgroundProcess::spawn(agentPath).waitForExit(5s), 0);
    EXPECT_TRUE(S_ISREG(statOf(path).st_mode));
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(BackgroundProcess::spawn(agentPath).waitForExit(5s), 0);
}

TEST(PassedSocket, AgentServesOnTheSocketItIsHanded) {
    RuntimeDirectory runtime;
    // We create and own the listening socket, as the service manager would: our own
    // identity then stands behind the socket's peer credentials, and a client that
    // trusted those instead of the agent's own would refuse.
    int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = *unixAddress(runtime.socketPath());
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listening, 16), 0);
    ino_t before = statOf(runtime.socketPath()).st_ino;

    BackgroundProcess agent = BackgroundProcess::fork([&] {
        // The socket may already be descriptor 3, where dup2 keeps close-on-exec.
        if (dup2(listening, 3) != 3 || fcntl(3, F_SETFD, 0) != 0)
            return 90;
        setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
        setenv("LISTEN_FDS", "1", 1);
        execl(agentPath.c_str(), agentPath.c_str(), nullptr);
        return 91;
    });
    close(listening);
    ChildResult run = fetch();
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(decodeSnapshot(run.out));
    EXPECT_EQ(statOf(runtime.socketPath()).st_ino, before);
    EXPECT_EQ(agent.waitForExit(0ms), std::nullopt);
}
