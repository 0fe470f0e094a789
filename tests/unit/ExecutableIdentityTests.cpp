#include "Platform/ProcessIdentity.h"
#include "Platform/linux/identity/VerifyInChild.h"
#include "Platform/linux/system/FileDescriptor.h"
#include "Shared/ProgramSignature.h"
#include "Shared/ServiceContract.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <iterator>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace std::string_view_literals;

namespace {

// The identity of a program file holding `bytes`.
std::optional<CodeIdentity> identityOf(const std::string& bytes) {
    const std::string path = testing::TempDir() + "altered-" + std::to_string(getpid());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    auto identity = codeIdentityOfExecutable(path);
    std::remove(path.c_str());
    return identity;
}

} // namespace

// What a signed file yields; the agent's own is proven where a client fetches from it.
TEST(ExecutableIdentity, IsWhatTheVerifiedSignatureAndItsNoteSay) {
    const std::tuple<const char*, std::optional<std::string>, bool> cases[] = {
        {PROBE_PLUGIN_APP_PATH, "R8QZK2MX4T", true},
        {PROBE_STORE_HOST_APP_PATH, "", true}, // by the store's marker and entitlement
        {PROBE_UNMARKED_HOST_APP_PATH, "", false},
        {PROBE_OTHER_TEAM_PATH, "Q7WN4PLX2C", false},
        {PROBE_OTHER_ANCHOR_PATH, std::nullopt, false},
        {PROBE_UNSIGNED_PATH, std::nullopt, false}, // the plugin app's note, unsigned
        {PROBE_WITHOUT_IDENTITY_PATH, std::nullopt, false},
    };
    for (const auto& [path, team, admitted] : cases) {
        auto identity = codeIdentityOfExecutable(path);
        EXPECT_EQ(identity ? std::optional(identity->team) : std::nullopt, team) << path;
        EXPECT_EQ(identity && satisfies(*identity, contract::agentRequirement()), admitted) << path;
    }
}

TEST(ExecutableIdentity, AnyByteChangedAddedOrCutLosesIt) {
    std::ifstream file(PROBE_PLUGIN_APP_PATH, std::ios::binary);
    const std::string program(std::istreambuf_iterator<char>(file), {});
    const std::size_t trailer = program.size() - programsignature::trailerBytes;
    const auto length = programsignature::signatureLength(program.substr(trailer));
    ASSERT_TRUE(length && identityOf(program));
    const std::size_t signature = trailer - *length;
    for (std::size_t at :
         {std::size_t(0), program.find("identifier\0"sv) + 12, signature / 2, signature - 1,
          signature, signature + 60, trailer - 1, trailer, trailer + 9, program.size() - 2}) {
        std::string copy = program;
        copy[at] ^= 1;
        EXPECT_EQ(identityOf(copy), std::nullopt) << "byte " << at;
    }
    for (std::size_t cut : {signature, trailer, program.size() - 1})
        EXPECT_EQ(identityOf(program.substr(0, cut)), std::nullopt) << "cut to " << cut;
    EXPECT_EQ(identityOf(program + '\n'), std::nullopt);
}

// As the agent verifies: each program in a child of its own. Fresh copies, so that no
// verdict already kept answers.
TEST(ExecutableIdentity, IsTheSameVerifiedInAChild) {
    std::vector<std::pair<std::string, std::optional<CodeIdentity>>> verified;
    for (const char* path : {PROBE_PLUGIN_APP_PATH, PROBE_STORE_HOST_APP_PATH,
                             PROBE_OTHER_TEAM_PATH, PROBE_OTHER_ANCHOR_PATH}) {
        std::ifstream file(path, std::ios::binary);
        verified.emplace_back(std::string(std::istreambuf_iterator<char>(file), {}),
                              codeIdentityOfExecutable(path));
    }
    verifySignaturesInChildProcesses();
    for (const auto& [program, identity] : verified)
        EXPECT_EQ(identityOf(program), identity);
}

// A verifier that kept its parent's listening socket would hold the agent's path after the
// agent was killed, so that the next could not take it over; it keeps only the program,
// and dies with its parent.
TEST(ExecutableIdentity, AChildVerifierHoldsOnlyTheProgram) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    FileDescriptor parentsOwn(ends[0]), parentsOther(ends[1]);
    FileDescriptor program(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(hasOneThread());
    auto answer = verifyInChild(program.get(), [&]() -> Result<programsignature::Signer> {
        int signal = 0;
        if (fcntl(parentsOwn.get(), F_GETFD) != -1 || fcntl(parentsOther.get(), F_GETFD) != -1 ||
            fcntl(program.get(), F_GETFD) == -1 || prctl(PR_GET_PDEATHSIG, &signal) != 0 ||
            signal != SIGKILL)
            return Failure{};
        return programsignature::Signer{"alone", {}};
    });
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->organizationalUnit, "alone");
}

// A child forked beside a second thread could wait forever on a lock that thread held:
// with one, the check runs here. A shortage in the child comes back as one.
TEST(ExecutableIdentity, AChildVerifiesOnlyForASingleThread) {
    const pid_t self = getpid();
    auto whereItRan = [self]() -> Result<programsignature::Signer> {
        return programsignature::Signer{getpid() == self ? "here" : "child", {}};
    };
    FileDescriptor program(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(verifyInChild(program.get(), whereItRan)->organizationalUnit, "child");
    auto shortOfMemory = verifyInChild(
        program.get(), [] { return Result<programsignature::Signer>(Failure{ENOMEM}); });
    ASSERT_FALSE(shortOfMemory);
    EXPECT_TRUE(shortOfMemory.failure().isShortage());

    std::promise<void> stop;
    std::thread second([ended = stop.get_future()] { ended.wait(); });
    EXPECT_FALSE(hasOneThread());
    EXPECT_EQ(verifyInChild(program.get(), whereItRan)->organizationalUnit, "here");
    stop.set_value();
    second.join();
}
