// The agent under a private systemd user manager, installed from the bundle's launch
// agent: started by the socket on the first connection, gone 30 s after its last reply,
// started again by the next connection.
#include "Shared/SnapshotJSON.h"
#include "support/PrivateUserManager.h"

#include <gtest/gtest.h>

#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

ChildResult fetch() {
    return runChild(FETCH_CLIENT_PATH, {FETCH_CLIENT_PATH});
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

TEST(PrivateUserManager, SocketStartsTheAgentWhichEndsThirtySecondsAfterItsLastReply) {
    std::string failure;
    auto manager =
        PrivateUserManager::start(APP_BUNDLE, "com.quillmarsh.CorvanePlugin.Agent.plist", failure);
    ASSERT_TRUE(manager) << failure;
    const std::string& socket = manager->socketUnit();
    const std::string& service = manager->serviceUnit();
    EXPECT_EQ(manager->property(socket, "ActiveState"), "active");
    EXPECT_EQ(manager->property(service, "ActiveState"), "inactive");

    ChildResult first = fetch();
    ASSERT_EQ(first.exitStatus, 0) << first.err;
    EXPECT_TRUE(decodeSnapshot(first.out));
    std::string agent = manager->property(service, "MainPID");
    ASSERT_NE(agent, "0");
    EXPECT_EQ(fs::read_symlink("/proc/" + agent + "/exe"), fs::path(AGENT_PATH));

    // A second use a little later moves the end; the same agent serves it.
    std::this_thread::sleep_for(5s);
    auto beforeLast = Clock::now();
    ChildResult second = fetch();
    auto afterLast = Clock::now();
    ASSERT_EQ(second.exitStatus, 0) << second.err;
    EXPECT_EQ(manager->property(service, "MainPID"), agent);

    while (manager->property(service, "ActiveState") != "inactive") {
        ASSERT_LT(secondsSince(afterLast), 45.0) << "the agent did not end";
        std::this_thread::sleep_for(100ms);
    }
    // The last reply left between the two marks: not sooner than 30 s after the first,
    // and, give or take the polling, 30 s after the second.
    EXPECT_GE(secondsSince(beforeLast), 30.0);
    EXPECT_LE(secondsSince(afterLast), 32.0);
    EXPECT_EQ(manager->property(service, "Result"), "success");
    EXPECT_EQ(manager->property(service, "ExecMainStatus"), "0");
    EXPECT_EQ(manager->property(socket, "ActiveState"), "active");

    // Nothing is lost: the next connection starts a new agent.
    ChildResult third = fetch();
    ASSERT_EQ(third.exitStatus, 0) << third.err;
    EXPECT_TRUE(decodeSnapshot(third.out));
    std::string next = manager->property(service, "MainPID");
    EXPECT_NE(next, "0");
    EXPECT_NE(next, agent);
}
