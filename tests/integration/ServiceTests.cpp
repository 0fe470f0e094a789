// The agent in service mode, started by hand, with real clients, and the process identity
// its admission rests on. This program carries the plugin app's identity, so its own
// connections are admitted.
#include "Platform/ProcessIdentity.h"
#include "Shared/ServiceContract.h"
#include "Shared/SnapshotJSON.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string request = *frames::encodeFrame(frames::fetchSnapshotMethod);

// What the agent may take at most; a sanitizer's own bookkeeping would dwarf it. About
// 5 MiB of it is libcrypto's code, shared with every other user of it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long memoryCeilingKiB = 1024 * 1024;
#else
constexpr long memoryCeilingKiB = 12L * 1024;
#endif

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
            execl(AGENT_PATH, AGENT_PATH, nullptr);
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
    // Snapshots, each taken after the one before.
    void expectSnapshots(RawClient& client, int count) {
        for (double previous = 0; count-- > 0;) {
            auto reply = client.readFrame();
            auto snapshot = reply ? decodeSnapshot(*reply) : std::nullopt;
            ASSERT_TRUE(snapshot && snapshot->timestamp > previous) << count << " left";
            previous = snapshot->timestamp;
        }
    }
    // Closed by the agent without a byte more.
    void expectClosed(RawClient& client) {
        EXPECT_EQ(client.readFrame(), std::nullopt);
        EXPECT_TRUE(client.peerClosed());
    }

    RuntimeDirectory runtime;
    const std::string path = runtime.socketPath();
    std::optional<BackgroundProcess> agent;
};

} // namespace

// Without its signature module the agent can verify no one, so it admits no one; like
// every failure, that goes unsaid.
TEST_F(HandStartedAgent, WithoutItsSignatureModuleNoOneIsAdmittedAndNothingIsWritten) {
    agent->kill();
    auto copy = runtime.path() / "Bare.app/Contents/MacOS/CorvanePluginAgent";
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(AGENT_PATH, copy);
    auto errors = runtime.path() / "errors";
    agent.emplace(BackgroundProcess::fork([&] {
        FileDescriptor file(open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!file || dup2(file.get(), STDERR_FILENO) != STDERR_FILENO)
            return 126;
        execl(copy.c_str(), copy.c_str(), nullptr);
        return 127;
    }));
    ASSERT_TRUE(waitForListener(path, 5s));
    RawClient client(path);
    expectClosed(client);
    agent->terminate(2s);
    std::ifstream written(errors);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "");
}

// Calls sent faster than they are answered, the last with the client's writing side
// already shut, all get their replies, in call order, before the agent closes. The count
// is no multiple of the calls read at a time, so the end is read with calls unanswered.
TEST_F(HandStartedAgent, EveryCallIsAnsweredInOrderEvenAfterTheClientStopsWriting) {
    auto client = greetedClient();
    std::jthread writer([&] {
        for (int i = 0; i < 2999; ++i)
            client->send(request);
        shutdown(client->descriptor(), SHUT_WR);
    });
    expectSnapshots(*client, 2999);
    expectClosed(*client);
}

// With few descriptors, clients beyond what it can hold open wait in the backlog.
TEST_F(HandStartedAgent, ClientsBeyondItsDescriptorsWaitTheirTurn) {
    agent->kill(); // leaves its socket file behind, for the next to replace
    ASSERT_TRUE(startAgent(40));
    std::vector<std::unique_ptr<RawClient>> clients(100);
    for (auto& client : clients) {
        client = std::make_unique<RawClient>(path);
        client->send(request);
    }
    for (auto& client : clients) {
        EXPECT_EQ(client->readFrame(), contract::sensorMachServiceName);
        expectSnapshots(*client, 1);
        client.reset();
    }
}

// However many calls they queue, clients that never read cost the agent little memory,
// and a flood of connections that close at once does not hold up a waiting call. A program
// changed in the last seconds is hashed again at each connection, which is not what this
// measures: it waits until the build has left this one alone long enough.
TEST_F(HandStartedAgent, GreedyClientsAndConnectFloodsDoNotStarveOthers) {
    struct stat self {};
    ASSERT_EQ(stat("/proc/self/exe", &self), 0);
    std::this_thread::sleep_until(std::chrono::system_clock::from_time_t(self.st_ctim.tv_sec) + 4s);
    std::string many;
    for (int i = 0; i < 10000; ++i)
        many += request;
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

// Refused before the service sees them, which would greet them: they get no byte. Which
// identities pass is proven on the files and processes; here, that the agent checks each
// connection as it comes.
TEST_F(HandStartedAgent, IntrudersAreRefusedWithoutAByte) {
    // A copy of this program as another user, let through the folder's and the socket's
    // permissions so that only the agent stands in its way.
    ASSERT_EQ(geteuid(), 0u) << "running a process as another user needs root";
    ASSERT_EQ(chmod(runtime.path().c_str(), 0711), 0);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    BackgroundProcess client = BackgroundProcess::fork([&] {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            return 3;
        RawClient raw(path); // connected (or 2 below), then greeted (1) or closed (0)
        return raw.readFrame() ? 1 : raw.peerClosed() ? 0 : 2;
    });
    EXPECT_EQ(client.waitForExit(10s), 0);
}

// An unknown call, a frame longer than any call, and a call written by a program that is
// not admitted (each call counts as its writer's, whoever made the connection) end their
// connection without a reply, and only theirs. A second agent leaves the live socket alone.
TEST_F(HandStartedAgent, BadCallsEndOnlyTheirConnection) {
    for (const std::string& bytes :
         {*frames::encodeFrame("rm -rf /"), frameHeader(0xFFFFFFFF) + "xyz"}) {
        auto client = greetedClient();
        client->send(bytes);
        expectClosed(*client);
    }
    auto client = greetedClient();
    BackgroundProcess writer = BackgroundProcess::fork([&] {
        if (dup2(client->descriptor(), 1) != 1)
            return 90;
        // The shell, still running when its call is read, writes the call itself.
        execl("/bin/sh", "sh", "-c", R"(printf '\027\0\0\0fetchSnapshotWithReply:'; exec sleep 60)",
              nullptr);
        return 91;
    });
    expectClosed(*client);
    EXPECT_EQ(BackgroundProcess::spawn(AGENT_PATH).waitForExit(5s), 0);
    greetedClient();
}

// Which identities pass is proven on the files; here, that a process has its file's, only
// while it lives, and only for this user.
TEST(ProcessIdentity, IsThatOfTheFileRunAndOnlyThisUsersLiveProcessesPassTheCheck) {
    const std::string& requirement = contract::agentRequirement();
    // A copy removed once running: the identity is read from the file run, not its path.
    const std::string copy = testing::TempDir() + "removed-" + std::to_string(getpid());
    std::filesystem::copy_file(PROBE_PLUGIN_APP_PATH, copy);
    for (auto [path, admitted] :
         {std::pair(copy.c_str(), true), std::pair(PROBE_WITHOUT_IDENTITY_PATH, false)}) {
        auto program = BackgroundProcess::spawn(path); // returns once the program runs
        std::filesystem::remove(copy);
        const pid_t pid = program.pid();
        auto file = admitted ? codeIdentityOfExecutable(PROBE_PLUGIN_APP_PATH) : std::nullopt;
        EXPECT_EQ(codeIdentityOfProcess(pid), file) << path;
        EXPECT_EQ(checkPeer(pid, geteuid(), requirement) == PeerCheck::satisfied, admitted) << path;
        EXPECT_EQ(checkPeer(pid, geteuid() + 1, requirement), PeerCheck::refused) << path;
        program.kill();
        EXPECT_EQ(checkPeer(pid, geteuid(), requirement), PeerCheck::refused) << path;
    }
}
