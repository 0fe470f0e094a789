// The agent in service mode, started by hand, with real clients.
// This test program carries the plugin app's identity, so its own connections are
// admitted and can speak the frames directly.
#include "Shared/ServiceContract.h"
#include "Shared/SnapshotJSON.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string agentPath = AGENT_PATH;
const std::string request = *frames::encodeFrame(frames::fetchSnapshotMethod);

std::string calls(int count) {
    std::string all;
    while (count-- > 0)
        all += request;
    return all;
}

ChildResult fetch(const std::string& client = FETCH_CLIENT_PATH) {
    return runChild(client, {client});
}

struct stat statOf(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info;
}

// What the agent may take at most; a sanitizer's own bookkeeping would dwarf it. About
// 5 MiB of it is libcrypto's code, shared with every other user of it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long memoryCeilingKiB = 1024 * 1024;
#else
constexpr long memoryCeilingKiB = 12 * 1024;
#endif

// The agent's memory at its peak so far, in KiB.
long peakKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    while (status >> word && word != "VmHWM:") {
    }
    return status >> word ? std::stol(word) : -1;
}

class HandStartedAgent : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(startAgent()); }
    // With `files` as its hard limit on open files, when given.
    bool startAgent(rlim_t files = 0) {
        agent.emplace(BackgroundProcess::fork([&] {
            rlimit limit{files, files};
            if (files && setrlimit(RLIMIT_NOFILE, &limit) != 0)
                return 126;
            execl(agentPath.c_str(), agentPath.c_str(), nullptr);
            return 127;
        }));
        return waitForListener(path, 5s);
    }
    // An admitted client is greeted with the service's name before anything else.
    std::unique_ptr<RawClient> greetedClient() {
        auto client = std::make_unique<RawClient>(path);
        EXPECT_EQ(client->readFrame(), contract::sensorMachServiceName);
        return client;
    }
    // Snapshots, oldest first, each taken after the one before.
    void expectSnapshots(RawClient& client, int count) {
        for (double previous = 0; count-- > 0;) {
            auto reply = client.readFrame();
            auto snapshot = reply ? decodeSnapshot(*reply) : std::nullopt;
            ASSERT_TRUE(snapshot && snapshot->timestamp > previous) << count << " left";
            previous = snapshot->timestamp;
        }
    }

    RuntimeDirectory runtime;
    const std::string path = runtime.socketPath();
    std::optional<BackgroundProcess> agent;
};

} // namespace

// Calls sent faster than they are answered, the last with the client's writing side
// already shut, all get their replies, in call order, before the agent closes.
TEST_F(HandStartedAgent, EveryCallIsAnsweredInOrderEvenAfterTheClientStopsWriting) {
    auto client = greetedClient();
    std::jthread writer([&] {
        client->send(calls(3000));
        shutdown(client->descriptor(), SHUT_WR);
    });
    expectSnapshots(*client, 3000);
    EXPECT_FALSE(client->readFrame());
    EXPECT_TRUE(client->peerClosed());
}

// With few descriptors, clients beyond what it can hold open wait in the backlog.
TEST_F(HandStartedAgent, ClientsBeyondItsDescriptorsWaitTheirTurn) {
    agent->kill();
    ASSERT_TRUE(startAgent(40));
    std::vector<std::unique_ptr<RawClient>> clients(100);
    for (auto& client : clients) {
        client = std::make_unique<RawClient>(path);
        client->send(request);
    }
    for (auto& client : clients) {
        EXPECT_EQ(client->readFrame(), contract::sensorMachServiceName);
        expectSnapshots(*client, 1);
        client->close();
    }
}

// However many calls they queue, clients that never read cost the agent little memory,
// and a flood of connections that close at once does not hold up a waiting call.
TEST_F(HandStartedAgent, GreedyClientsAndConnectFloodsDoNotStarveOthers) {
    std::string many = calls(10000);
    std::vector<std::unique_ptr<RawClient>> greedy(24);
    for (auto& client : greedy) {
        client = std::make_unique<RawClient>(path);
        send(client->descriptor(), many.data(), many.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    auto client = greetedClient();
    std::atomic<bool> flooding = true;
    std::jthread flood([&] {
        while (flooding)
            RawClient{path}; // connects, and closes at once
    });
    Clock::duration slowest{};
    for (auto end = Clock::now() + 3s; Clock::now() < end;) {
        auto start = Clock::now();
        client->send(request);
        expectSnapshots(*client, 1);
        slowest = std::max(slowest, Clock::now() - start);
    }
    flooding = false;
    EXPECT_LT(slowest, 300ms);
    EXPECT_LT(peakKiB(agent->pid()), memoryCeilingKiB);
}

// Refused before the service sees them, which would greet them: they get no byte.
TEST_F(HandStartedAgent, IntrudersAreRefusedWithoutAByte) {
    for (const char* intruder :
         {FETCH_WITHOUT_IDENTITY_PATH, FETCH_AS_OTHER_APP_PATH, FETCH_OF_OTHER_TEAM_PATH}) {
        ChildResult run = fetch(intruder);
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

// Each call counts as its writer's: a connection this admitted program made, shared with
// a program that is not admitted and writes a call on it, is closed without a reply.
TEST_F(HandStartedAgent, ACallWrittenByAnotherProgramIsRefused) {
    auto client = greetedClient();
    BackgroundProcess writer = BackgroundProcess::fork([&] {
        if (dup2(client->descriptor(), 1) != 1)
            return 90;
        // The shell, still running when its call is read, writes the call itself.
        execl("/bin/sh", "sh", "-c", R"(printf '\027\0\0\0fetchSnapshotWithReply:'; exec sleep 60)",
              nullptr);
        return 91;
    });
    EXPECT_EQ(client->readFrame(), std::nullopt);
    EXPECT_TRUE(client->peerClosed());
}

TEST_F(HandStartedAgent, MisbehavingClientsDoNotDisturbOthers) {
    for (const std::string& bytes :
         {*frames::encodeFrame("rm -rf /"), frameHeader(1000) + "longer than any call",
          frameHeader(0xFFFFFFFF) + "xyz"}) {
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
