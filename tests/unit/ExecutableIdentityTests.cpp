#include "Platform/ProcessIdentity.h"
#include "Shared/ProgramSignature.h"
#include "Shared/ServiceContract.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::string_view_literals;

namespace {

std::string contentsOf(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The identity of a program file holding `bytes`.
std::optional<CodeIdentity> identityOf(std::string_view bytes) {
    int file = memfd_create("program", MFD_CLOEXEC);
    if (file < 0 || write(file, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        ADD_FAILURE() << "cannot write the copy";
    auto identity = codeIdentityOfExecutable("/proc/self/fd/" + std::to_string(file));
    close(file);
    return identity;
}

} // namespace

TEST(ExecutableIdentity, IsWhatTheVerifiedSignatureAndItsNoteSay) {
    const std::string fifo = testing::TempDir() + "fifo-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0); // must not block the reader
    struct Case {
        const char* path;
        std::optional<std::string> team; // nothing: no identity at all
        bool admitted = false;
    };
    const Case cases[] = {
        {PROBE_PLUGIN_APP_PATH, "R8QZK2MX4T", true},
        {PROBE_STORE_HOST_APP_PATH, "", true}, // by the store's marker and entitlement
        {PROBE_UNMARKED_HOST_APP_PATH, "", false},
        {PROBE_OTHER_APP_PATH, "R8QZK2MX4T", false},
        {PROBE_OTHER_TEAM_PATH, "Q7WN4PLX2C", false},
        {PROBE_OTHER_ANCHOR_PATH, std::nullopt},
        {PROBE_UNSIGNED_PATH, std::nullopt}, // the plugin app's note, without a signature
        {PROBE_WITHOUT_IDENTITY_PATH, std::nullopt},
        {"/nonexistent/program", std::nullopt},
        {"/dev/null", std::nullopt},
        {fifo.c_str(), std::nullopt},
    };
    for (const Case& c : cases) {
        auto identity = codeIdentityOfExecutable(c.path);
        ASSERT_EQ(identity.has_value(), c.team.has_value()) << c.path;
        if (identity) {
            EXPECT_EQ(identity->team, *c.team) << c.path;
            EXPECT_EQ(satisfies(*identity, contract::agentRequirement()), c.admitted) << c.path;
        }
    }
    unlink(fifo.c_str());
    auto agent = codeIdentityOfExecutable(AGENT_PATH);
    ASSERT_TRUE(agent);
    EXPECT_TRUE(satisfies(*agent, contract::clientRequirement()));
}

TEST(ExecutableIdentity, AnyByteChangedAddedOrCutLosesIt) {
    const std::string program = contentsOf(PROBE_PLUGIN_APP_PATH);
    const std::size_t trailer = program.size() - programsignature::trailerBytes;
    const auto length = programsignature::signatureLength(program.substr(trailer));
    ASSERT_TRUE(length && identityOf(program));
    const std::size_t signature = trailer - *length;
    std::vector<std::string> altered;
    for (std::size_t at :
         {std::size_t(0), program.find("identifier\0"sv) + 12, signature / 2, signature - 1,
          signature, signature + 60, trailer - 1, trailer, trailer + 9, program.size() - 2}) {
        altered.push_back(program);
        altered.back()[at] ^= 1;
    }
    for (std::size_t length : {signature, trailer, program.size() - 1})
        altered.push_back(program.substr(0, length));
    altered.push_back(program + '\n');
    for (std::size_t i = 0; i < altered.size(); ++i)
        EXPECT_EQ(identityOf(altered[i]), std::nullopt) << i;
}
