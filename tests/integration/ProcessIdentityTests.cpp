#include "Platform/ProcessIdentity.h"
#include "Shared/ServiceContract.h"
#include "support/RunningProgram.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string& agentRequirement = contract::agentRequirement();

// A listening Unix socket in a folder of its own, removed afterwards.
class ListeningSocket : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "peer-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        path_ = (folder_ / "socket").string();
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(path_.size(), sizeof address.sun_path);
        path_.copy(address.sun_path, path_.size());
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener_, 4), 0);
    }
    void TearDown() override {
        for (int fd : accepted_)
            close(fd);
        close(listener_);
        fs::remove_all(folder_);
    }

    // The accepted end of a connection from `program`, which is left running.
    int connectionFrom(RunningProgram& program) {
        if (program.firstLine().empty())
            return -1;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        accepted_.push_back(fd);
        return fd;
    }

    fs::path folder_;
    std::string path_;
    int listener_ = -1;
    std::vector<int> accepted_;
};

} // namespace

TEST(ProcessIdentity, ARunningProgramHasTheIdentityOfItsExecutable) {
    for (const char* path : {PROBE_PLUGIN_APP_PATH, PROBE_STORE_HOST_APP_PATH, PROBE_OTHER_APP_PATH,
                             PROBE_OTHER_TEAM_PATH}) {
        RunningProgram program(path);
        ASSERT_EQ(program.firstLine(), std::to_string(program.pid()));
        EXPECT_EQ(codeIdentityOfProcess(program.pid()), codeIdentityOfExecutable(path)) << path;
        EXPECT_TRUE(codeIdentityOfProcess(program.pid())) << path;
        EXPECT_EQ(program.finish(), 0);
    }
}

TEST(ProcessIdentity, AProgramWithoutNoteHasNoIdentity) {
    RunningProgram program(PROBE_WITHOUT_IDENTITY_PATH);
    ASSERT_FALSE(program.firstLine().empty());
    EXPECT_EQ(codeIdentityOfProcess(program.pid()), std::nullopt);
}

TEST(ProcessIdentity, TheFileRunIsReadEvenAfterItsPathIsReplaced) {
    fs::path folder = fs::temp_directory_path() / ("replaced-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::path copy = folder / "program";
    fs::copy_file(PROBE_PLUGIN_APP_PATH, copy);
    RunningProgram program(copy.string());
    ASSERT_FALSE(program.firstLine().empty());
    fs::remove(copy);
    fs::copy_file(PROBE_OTHER_APP_PATH, copy);
    auto identity = codeIdentityOfProcess(program.pid());
    program.finish();
    fs::remove_all(folder);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->identifier, "com.quillmarsh.CorvanePlugin");
}

TEST(ProcessIdentity, NoProcessNoIdentity) {
    RunningProgram program(PROBE_PLUGIN_APP_PATH);
    pid_t pid = program.pid();
    ASSERT_EQ(program.finish(), 0);
    EXPECT_EQ(codeIdentityOfProcess(pid), std::nullopt);
    EXPECT_EQ(codeIdentityOfProcess(0), std::nullopt);
    EXPECT_EQ(codeIdentityOfProcess(-1), std::nullopt);
}

TEST(PeerCheck, AdmitsARunningProcessOfThisUserThatMeetsTheRequirement) {
    RunningProgram plugin(PROBE_PLUGIN_APP_PATH);
    ASSERT_FALSE(plugin.firstLine().empty());
    EXPECT_TRUE(peerSatisfies(plugin.pid(), geteuid(), agentRequirement));
    EXPECT_FALSE(peerSatisfies(plugin.pid(), geteuid(), contract::clientRequirement()));
}

TEST(PeerCheck, RefusesAnotherUser) {
    RunningProgram plugin(PROBE_PLUGIN_APP_PATH);
    ASSERT_FALSE(plugin.firstLine().empty());
    EXPECT_FALSE(peerSatisfies(plugin.pid(), geteuid() + 1, agentRequirement));
}

TEST(PeerCheck, RefusesProgramsThatDoNotMeetTheRequirement) {
    for (const char* path :
         {PROBE_OTHER_APP_PATH, PROBE_OTHER_TEAM_PATH, PROBE_WITHOUT_IDENTITY_PATH}) {
        RunningProgram program(path);
        ASSERT_FALSE(program.firstLine().empty());
        EXPECT_FALSE(peerSatisfies(program.pid(), geteuid(), agentRequirement)) << path;
    }
}

TEST(PeerCheck, RefusesAProcessThatHasEnded) {
    RunningProgram plugin(PROBE_PLUGIN_APP_PATH);
    pid_t pid = plugin.pid();
    ASSERT_EQ(plugin.finish(), 0);
    EXPECT_FALSE(peerSatisfies(pid, geteuid(), agentRequirement));
    EXPECT_FALSE(peerSatisfies(0, geteuid(), agentRequirement));
}

TEST_F(ListeningSocket, AdmitsAConnectingPluginAndStoreHostApp) {
    RunningProgram plugin(PROBE_PLUGIN_APP_PATH, {path_});
    RunningProgram host(PROBE_STORE_HOST_APP_PATH, {path_});
    int fromPlugin = connectionFrom(plugin);
    int fromHost = connectionFrom(host);
    ASSERT_GE(fromPlugin, 0);
    ASSERT_GE(fromHost, 0);
    EXPECT_TRUE(socketPeerSatisfies(fromPlugin, agentRequirement));
    EXPECT_TRUE(socketPeerSatisfies(fromHost, agentRequirement));
}

TEST_F(ListeningSocket, RefusesConnectingIntruders) {
    for (const char* path :
         {PROBE_OTHER_APP_PATH, PROBE_OTHER_TEAM_PATH, PROBE_WITHOUT_IDENTITY_PATH}) {
        RunningProgram intruder(path, {path_});
        int connection = connectionFrom(intruder);
        ASSERT_GE(connection, 0) << path;
        EXPECT_FALSE(socketPeerSatisfies(connection, agentRequirement)) << path;
    }
}

TEST_F(ListeningSocket, RefusesAPeerThatHasEndedSinceItConnected) {
    RunningProgram plugin(PROBE_PLUGIN_APP_PATH, {path_});
    int connection = connectionFrom(plugin);
    ASSERT_GE(connection, 0);
    ASSERT_EQ(plugin.finish(), 0);
    EXPECT_FALSE(socketPeerSatisfies(connection, agentRequirement));
}

TEST(PeerCheck, ASocketWithoutPeerIsRefused) {
    int unconnected = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_FALSE(socketPeerSatisfies(unconnected, agentRequirement));
    close(unconnected);
    EXPECT_FALSE(socketPeerSatisfies(-1, agentRequirement));
}
