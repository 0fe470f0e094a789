#include "Platform/ProcessIdentity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::string_view_literals;

namespace {

const std::string probe = [] {
    std::ifstream file(PROBE_PLUGIN_APP_PATH, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}();
// Where the identity note's header lies: just before its owner.
const std::size_t note = probe.find("Corvane\0identifier\0"sv) - 12;

// The identity of a program file holding `bytes`.
std::optional<CodeIdentity> identityOf(std::string_view bytes) {
    int file = memfd_create("program", MFD_CLOEXEC);
    if (file < 0 || write(file, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        ADD_FAILURE() << "cannot write the copy";
    auto identity = codeIdentityOfExecutable("/proc/self/fd/" + std::to_string(file));
    close(file);
    return identity;
}

std::string patched(std::size_t at, const auto& value) {
    std::string bytes = probe;
    std::memcpy(bytes.data() + at, &value, sizeof value);
    return bytes;
}

// The file offset of the first program header of `type`.
std::size_t segment(std::uint32_t type) {
    Elf64_Ehdr header;
    std::memcpy(&header, probe.data(), sizeof header);
    for (std::size_t i = 0, at = header.e_phoff; i < header.e_phnum; ++i, at += sizeof(Elf64_Phdr))
        if (std::memcmp(probe.data() + at, &type, sizeof type) == 0)
            return at;
    return 0;
}

} // namespace

TEST(ExecutableIdentity, EachProgramCarriesTheIdentityItWasBuiltWith) {
    const std::string team = "R8QZK2MX4T", plugin = "com.quillmarsh.CorvanePlugin",
                      host = "com.quillmarsh.Corvane", marker = "field.1.2.840.113635.100.6.1.9",
                      app = "com.apple.application-identifier",
                      fifo = testing::TempDir() + "fifo-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0); // must not block the reader
    const std::pair<const char*, std::optional<CodeIdentity>> programs[] = {
        {AGENT_PATH, CodeIdentity{"CorvanePluginAgent", team, true, {}, {}}},
        {PROBE_PLUGIN_APP_PATH, CodeIdentity{plugin, team, true, {}, {}}},
        {PROBE_OTHER_APP_PATH, CodeIdentity{"com.quillmarsh.Other", team, true, {}, {}}},
        {PROBE_OTHER_TEAM_PATH, CodeIdentity{plugin, "Q7WN4PLX2C", true, {}, {}}},
        {PROBE_STORE_HOST_APP_PATH,
         CodeIdentity{host, "", true, {{marker, ""}}, {{app, team + "." + host}}}},
        {PROBE_WITHOUT_IDENTITY_PATH, std::nullopt},
        {"/nonexistent/program", std::nullopt},
        {"/dev/null", std::nullopt},
        {fifo.c_str(), std::nullopt},
    };
    for (const auto& [path, identity] : programs)
        EXPECT_EQ(codeIdentityOfExecutable(path), identity) << path;
    unlink(fifo.c_str());
}

TEST(ExecutableIdentity, AnAlteredCopyIsReadFaithfullyOrNotAtAll) {
    const std::size_t notes = segment(PT_NOTE), stack = segment(PT_GNU_STACK);
    ASSERT_TRUE(notes && stack && note < probe.size());
    std::uint32_t payloadSize;
    std::memcpy(&payloadSize, probe.data() + note + 4, sizeof payloadSize);
    // The stack's program header made a second note segment over our note, or nothing.
    Elf64_Phdr second{PT_NULL, 0, note, 0, 0, 12 + 8 + (payloadSize + 3) / 4 * 4, 0, 4};
    std::string sectionsOnly = patched(offsetof(Elf64_Ehdr, e_phnum), std::uint16_t(0));
    const auto own = codeIdentityOfExecutable(PROBE_PLUGIN_APP_PATH);
    ASSERT_TRUE(own);
    EXPECT_EQ(identityOf(probe), own);
    EXPECT_EQ(identityOf(patched(stack, second)), own);
    second.p_type = PT_NOTE;
    EXPECT_EQ(identityOf(sectionsOnly), own);
    sectionsOnly.replace(note + 4, 4, "\xff\xff\xff\x7f"sv);
    std::vector<std::string> altered = {
        patched(0, '\x7e'),                                                 // magic
        patched(EI_CLASS, char(ELFCLASS32)),                                // 32 bits
        patched(offsetof(Elf64_Ehdr, e_phoff), std::uint64_t(1) << 40),     // segments beyond
        patched(offsetof(Elf64_Ehdr, e_shoff), std::uint64_t(-8)),          // sections beyond
        patched(notes + offsetof(Elf64_Phdr, p_filesz), std::uint64_t(-1)), // notes beyond
        patched(segment(PT_LOAD) + offsetof(Elf64_Phdr, p_offset), std::uint64_t(1) << 40),
        patched(notes + offsetof(Elf64_Phdr, p_align), std::uint64_t(16)), // odd alignment
        patched(note, std::uint32_t(0xffffffff)),                          // owner size
        patched(note + 4, std::uint32_t(0x7ffffff0)),                      // payload size
        patched(note + 8, std::uint32_t(2)),                               // another type
        patched(note + 12, 'c'),                                           // another owner
        patched(note + 12 + 7, 'X'),                                       // owner not ended
        patched(stack, second),                                            // two identities
        sectionsOnly,                                                      // with a bad note
    };
    for (std::size_t length : {std::size_t(63), note + 12, note + 30, probe.size() - 1})
        altered.push_back(probe.substr(0, length));
    for (std::size_t length = 0; length < probe.size(); length += 211)
        altered.push_back(probe.substr(0, length));
    for (std::size_t i = 0; i < altered.size(); ++i)
        EXPECT_EQ(identityOf(altered[i]), std::nullopt)
            << i << ", " << altered[i].size() << " bytes";
}
