#include "Platform/ProcessIdentity.h"
#include "Shared/ServiceContract.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const std::string& requirement = contract::agentRequirement();

} // namespace

TEST(ProcessIdentity, IsThatOfTheFileRunAndOnlyThisUsersLiveProcessesPassTheCheck) {
    const std::pair<const char*, bool> probes[] = {{PROBE_PLUGIN_APP_PATH, true},
                                                   {PROBE_STORE_HOST_APP_PATH, true},
                                                   {PROBE_OTHER_TEAM_PATH, false},
                                                   {PROBE_WITHOUT_IDENTITY_PATH, false}};
    for (auto [path, admitted] : probes) {
        // Spawning returns once the program runs.
        auto program = BackgroundProcess::spawn(path);
        const pid_t pid = program.pid();
        EXPECT_EQ(codeIdentityOfProcess(pid), codeIdentityOfExecutable(path)) << path;
        EXPECT_EQ(checkPeer(pid, geteuid(), requirement) == PeerCheck::satisfied, admitted) << path;
        EXPECT_EQ(checkPeer(pid, geteuid() + 1, requirement), PeerCheck::refused) << path;
        program.kill();
        EXPECT_EQ(codeIdentityOfProcess(pid), std::nullopt) << path;
        EXPECT_EQ(checkPeer(pid, geteuid(), requirement), PeerCheck::refused) << path;
    }
}

// As the agent verifies: each program in a child of its own. Fresh copies, so that no
// verdict already kept answers.
TEST(ProcessIdentity, IsTheSameVerifiedInAChild) {
    std::vector<std::pair<std::string, std::optional<CodeIdentity>>> verified;
    for (const char* path : {PROBE_PLUGIN_APP_PATH, PROBE_STORE_HOST_APP_PATH,
                             PROBE_OTHER_TEAM_PATH, PROBE_OTHER_ANCHOR_PATH})
        verified.emplace_back(path, codeIdentityOfExecutable(path));
    verifySignaturesInChildProcesses();
    for (const auto& [path, identity] : verified) {
        const std::string copy = testing::TempDir() + "child-" + std::to_string(getpid());
        std::filesystem::copy_file(path, copy);
        EXPECT_EQ(codeIdentityOfExecutable(copy), identity) << path;
        std::filesystem::remove(copy);
    }
}

TEST(ProcessIdentity, IsReadFromTheFileRunEvenAfterItsPathIsGone) {
    const std::string copy = testing::TempDir() + "removed-" + std::to_string(getpid());
    std::filesystem::copy_file(PROBE_PLUGIN_APP_PATH, copy);
    auto program = BackgroundProcess::spawn(copy);
    std::filesystem::remove(copy);
    EXPECT_EQ(codeIdentityOfProcess(program.pid()),
              codeIdentityOfExecutable(PROBE_PLUGIN_APP_PATH));
}

TEST(PeerCheck, ChecksTheProgramAtTheOtherEndOfASocket) {
    sockaddr_un address{AF_UNIX, {}};
    const std::string path = testing::TempDir() + "peer-" + std::to_string(getpid());
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    auto admitted = [&](const char* program, bool endFirst) {
        auto peer = BackgroundProcess::spawn(program, {path});
        pollfd ready{listener, POLLIN, 0};
        int connection = poll(&ready, 1, 5000) == 1 ? accept4(listener, nullptr, nullptr, 0) : -1;
        EXPECT_GE(connection, 0) << program;
        if (endFirst)
            peer.kill();
        bool result = checkSocketPeer(connection, requirement) == PeerCheck::satisfied;
        close(connection);
        return result;
    };
    EXPECT_TRUE(admitted(PROBE_PLUGIN_APP_PATH, false));
    EXPECT_FALSE(admitted(PROBE_PLUGIN_APP_PATH, true));
    EXPECT_FALSE(admitted(PROBE_WITHOUT_IDENTITY_PATH, false));
    close(listener);
    unlink(path.c_str());
}
