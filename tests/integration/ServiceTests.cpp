// The agent in service mode, started by hand or handed a socket, with real clients.
// This test program carries the plugin app's identity, so its own connections are
// admitted and can speak the frames directly.
#include "Shared/ServiceContract.h"
#include "Shared/ServiceFrames.h"
#include "Shared/SnapshotJSON.h"
#include "support/ChildProcess.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string agentPath = AGENT_PATH;
const std::string request = *frames::encodeFrame(frames::fetchSnapshotMethod);

ChildResult fetch(const std::string& client = FETCH_CLIENT_PATH) {
    return runChild(client, {client});
}

ino_t inodeOf(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class HandStartedAgent : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(startAgent()); }

    bool startAgent() {
        agent.emplace(BackgroundProcess::spawn(agentPath));
        return waitForListener(runtime.socketPath(), 5s);
    }

    RuntimeDirectory runtime;
    std::optional<BackgroundProcess> agent;
};

// An admitted client is greeted with the service's name before anything else.
void expectGreeting(RawClient& client) {
    ASSERT_TRUE(client.isConnected());
    EXPECT_EQ(client.readFrame(), contract::sensorMachServiceName);
}

} // namespace

TEST_F(HandStartedAgent, AppClientGetsAFreshSnapshot) {
    ChildResult run = fetch();
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    auto snapshot = decodeSnapshot(run.out);
    ASSERT_TRUE(snapshot) << run.out;
    EXPECT_EQ(snapshot->protocolVersion, 1);
    EXPECT_EQ(snapshot->pluginVersion, PLUGIN_VERSION);
    EXPECT_EQ(snapshot->pluginBuild, PLUGIN_BUILD);
    EXPECT_EQ(snapshot->processorName, decodeSnapshot(fetch().out)->processorName);
}

TEST_F(HandStartedAgent, TwoClientsAtOnceEachGetTheirOwnSnapshot) {
    auto first = std::async(std::launch::async, [] { return fetch(); });
    auto second = std::async(std::launch::async, [] { return fetch(); });
    ChildResult a = first.get(), b = second.get();
    ASSERT_EQ(a.exitStatus, 0) << a.err;
    ASSERT_EQ(b.exitStatus, 0) << b.err;
    auto snapshotA = decodeSnapshot(a.out), snapshotB = decodeSnapshot(b.out);
    ASSERT_TRUE(snapshotA && snapshotB);
    EXPECT_NE(snapshotA->timestamp, snapshotB->timestamp);
}

TEST_F(HandStartedAgent, CallsOnOneConnectionAreAnsweredInOrder) {
    RawClient client(runtime.socketPath());
    expectGreeting(client);
    ASSERT_TRUE(client.send(request + request + request));
    double previous = 0;
    for (int i = 0; i < 3; ++i) {
        auto reply = client.readFrame();
        ASSERT_TRUE(reply) << i;
        auto snapshot = decodeSnapshot(*reply);
        ASSERT_TRUE(snapshot) << *reply;
        EXPECT_GT(snapshot->timestamp, previous);
        previous = snapshot->timestamp;
    }
}

TEST_F(HandStartedAgent, IntrudersAreRefusedAndOthersStillServed) {
    for (const char* intruder : {FETCH_WITHOUT_IDENTITY_PATH, FETCH_AS_OTHER_APP_PATH}) {
        ChildResult run = fetch(intruder);
        EXPECT_EQ(run.exitStatus, 1) << intruder;
        EXPECT_EQ(run.out, "") << intruder;
        EXPECT_EQ(run.err, "invalidated\n") << intruder;
    }
    EXPECT_EQ(fetch().exitStatus, 0);
}

TEST_F(HandStartedAgent, MisbehavingClientsDoNotDisturbOthers) {
    RawClient garbage(runtime.socketPath());
    expectGreeting(garbage);
    garbage.send(*frames::encodeFrame("rm -rf /"));
    EXPECT_TRUE(garbage.waitForClose(5s));

    for (std::uint32_t length : {std::uint32_t(frames::frameLimit + 1), 0xFFFFFFFFu}) {
        RawClient oversized(runtime.socketPath());
        expectGreeting(oversized);
        oversized.send(frameHeader(length) + "xyz");
        EXPECT_TRUE(oversized.waitForClose(5s)) << length;
    }

    RawClient halfway(runtime.socketPath());
    halfway.send(request.substr(0, 7));
    halfway.close();
    RawClient gone(runtime.socketPath());
    gone.send(request);
    gone.close();
    RawClient silent(runtime.socketPath());
    expectGreeting(silent);

    ChildResult run = fetch();
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    RawClient polite(runtime.socketPath());
    expectGreeting(polite);
    polite.send(request);
    auto reply = polite.readFrame();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(decodeSnapshot(*reply));
    EXPECT_EQ(agent->waitForExit(0ms), std::nullopt) << "the agent ended";
}

// Replies pile up for a client that asks and never reads; past a bound the agent stops
// reading its calls, so the pile cannot grow further.
TEST_F(HandStartedAgent, ClientThatNeverReadsIsNoLongerRead) {
    RawClient greedy(runtime.socketPath());
    // One call per write: each call the agent takes frees room for another at once.
    auto sendUntilFull = [&] {
        std::size_t calls = 0;
        while (greedy.sendWhatFits(request) == request.size())
            ++calls;
        return calls;
    };
    std::size_t accepted = sendUntilFull();
    auto deadline = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        std::this_thread::sleep_for(300ms); // time for the agent to read on, if it would
        std::size_t more = sendUntilFull();
        if (more == 0)
            break;
        accepted += more;
        ASSERT_TRUE(std::chrono::steady_clock::now() < deadline)
            << "the agent kept reading: " << accepted << " calls";
    }
    EXPECT_LT(accepted, 20000u);

    ChildResult run = fetch();
    EXPECT_EQ(run.exitStatus, 0) << run.err;
}

// Calls sent faster than they are answered all get their replies once the client reads.
TEST_F(HandStartedAgent, ManyPipelinedCallsAreAllAnswered) {
    RawClient client(runtime.socketPath());
    expectGreeting(client);
    constexpr int calls = 3000;
    std::string all;
    for (int i = 0; i < calls; ++i)
        all += request;
    auto writer = std::async(std::launch::async, [&] { return client.send(all); });
    int answered = 0;
    while (answered < calls) {
        auto reply = client.readFrame();
        if (!reply || !decodeSnapshot(*reply))
            break;
        ++answered;
    }
    EXPECT_TRUE(writer.get());
    EXPECT_EQ(answered, calls);
}

TEST(PassedSocket, AgentServesOnTheSocketItIsHanded) {
    RuntimeDirectory runtime;
    // We create and own the listening socket, as the service manager would: our own
    // identity then stands behind the socket's peer credentials, and a client that
    // trusted those instead of the agent's own would refuse.
    int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    runtime.socketPath().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listening, 16), 0);
    ino_t before = inodeOf(runtime.socketPath());

    BackgroundProcess agent = BackgroundProcess::fork([&] {
        if (dup2(listening, 3) != 3)
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
    EXPECT_EQ(inodeOf(runtime.socketPath()), before);
    EXPECT_EQ(agent.waitForExit(0ms), std::nullopt);
}

TEST_F(HandStartedAgent, SecondAgentLeavesTheLiveSocketAlone) {
    ino_t before = inodeOf(runtime.socketPath());
    BackgroundProcess second = BackgroundProcess::spawn(agentPath);
    // With nothing to listen on, its run loop has nothing to wait for.
    EXPECT_EQ(second.waitForExit(5s), 0);
    EXPECT_EQ(inodeOf(runtime.socketPath()), before);
    EXPECT_EQ(fetch().exitStatus, 0);

    // The socket was the first agent's all along: without it nobody answers.
    agent->kill();
    ChildResult run = fetch();
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err, "invalidated\n");
}

TEST_F(HandStartedAgent, NewAgentReplacesAStaleSocket) {
    agent->kill(); // leaves its socket file behind
    ASSERT_NE(inodeOf(runtime.socketPath()), 0u);
    EXPECT_EQ(fetch().exitStatus, 1);

    ASSERT_TRUE(startAgent());
    struct stat info {};
    ASSERT_EQ(lstat(runtime.socketPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(fetch().exitStatus, 0);
}

TEST(HandStartedAgentAlone, LeavesAFileOfAnotherKindAlone) {
    RuntimeDirectory runtime;
    std::ofstream(runtime.socketPath()) << "not a socket";
    BackgroundProcess agent = BackgroundProcess::spawn(agentPath);
    EXPECT_EQ(agent.waitForExit(5s), 0);
    std::ifstream file(runtime.socketPath());
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "not a socket");
}

TEST(HandStartedAgentAlone, WithoutARuntimeDirectoryThereIsNothingToServe) {
    RuntimeDirectory runtime;
    unsetenv("XDG_RUNTIME_DIR");
    BackgroundProcess agent = BackgroundProcess::spawn(agentPath);
    EXPECT_EQ(agent.waitForExit(5s), 0);
}

TEST(ImpostorAgent, ClientRefusesAnAgentWithoutTheRightIdentity) {
    for (const char* impostor : {IMPOSTOR_WITHOUT_IDENTITY_PATH, IMPOSTOR_OF_OTHER_TEAM_PATH}) {
        RuntimeDirectory runtime;
        BackgroundProcess agent = BackgroundProcess::spawn(impostor);
        ASSERT_TRUE(waitForListener(runtime.socketPath(), 5s)) << impostor;
        ChildResult run = fetch();
        EXPECT_EQ(run.exitStatus, 1) << impostor;
        EXPECT_EQ(run.out, "") << impostor;
        EXPECT_EQ(run.err, "invalidated\n") << impostor;
    }
}
