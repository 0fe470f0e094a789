#include "Platform/ProcessIdentity.h"
#include "Shared/ServiceContract.h"

#include <gtest/gtest.h>

#include <cstring>
#include <elf.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_view_literals;

namespace {

std::string contentsOf(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A scratch folder for altered copies of programs, removed afterwards.
class AlteredCopies : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "identity-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        probe_ = contentsOf(PROBE_PLUGIN_APP_PATH);
        ASSERT_GT(probe_.size(), sizeof(Elf64_Ehdr));
        note_ = probe_.find("Corvane\0identifier\0"sv);
        ASSERT_NE(note_, std::string::npos);
        note_ -= 12; // the note's header comes before its owner
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::optional<CodeIdentity> identityOf(const std::string& bytes) {
        fs::path path = folder_ / ("copy" + std::to_string(copies_++));
        std::ofstream(path, std::ios::binary) << bytes;
        return codeIdentityOfExecutable(path);
    }

    template <typename Value> std::string patched(std::size_t offset, Value value) const {
        std::string bytes = probe_;
        std::memcpy(bytes.data() + offset, &value, sizeof value);
        return bytes;
    }

    Elf64_Ehdr header() const {
        Elf64_Ehdr header;
        std::memcpy(&header, probe_.data(), sizeof header);
        return header;
    }

    // The file offset of the first program header of `type`.
    std::size_t segmentOffset(std::uint32_t type) const {
        Elf64_Ehdr elf = header();
        for (std::size_t i = 0; i < elf.e_phnum; ++i) {
            Elf64_Phdr segment;
            std::size_t at = elf.e_phoff + i * sizeof segment;
            std::memcpy(&segment, probe_.data() + at, sizeof segment);
            if (segment.p_type == type)
                return at;
        }
        return 0;
    }

    fs::path folder_;
    std::string probe_;
    std::size_t note_ = 0;
    int copies_ = 0;
};

} // namespace

TEST(ExecutableIdentity, TheAgentCarriesItsOwnIdentity) {
    auto identity = codeIdentityOfExecutable(AGENT_PATH);
    ASSERT_TRUE(identity);
    EXPECT_EQ(*identity, (CodeIdentity{"CorvanePluginAgent", "R8QZK2MX4T", true, {}, {}}));
    EXPECT_TRUE(satisfies(*identity, contract::clientRequirement()));
    EXPECT_FALSE(satisfies(*identity, contract::agentRequirement()));
}

TEST(ExecutableIdentity, EachProbeCarriesTheIdentityItWasBuiltWith) {
    EXPECT_EQ(codeIdentityOfExecutable(PROBE_PLUGIN_APP_PATH),
              (CodeIdentity{"com.quillmarsh.CorvanePlugin", "R8QZK2MX4T", true, {}, {}}));
    EXPECT_EQ(codeIdentityOfExecutable(PROBE_OTHER_APP_PATH),
              (CodeIdentity{"com.quillmarsh.Other", "R8QZK2MX4T", true, {}, {}}));
    EXPECT_EQ(codeIdentityOfExecutable(PROBE_OTHER_TEAM_PATH),
              (CodeIdentity{"com.quillmarsh.CorvanePlugin", "Q7WN4PLX2C", true, {}, {}}));
    EXPECT_EQ(codeIdentityOfExecutable(PROBE_STORE_HOST_APP_PATH),
              (CodeIdentity{
                  "com.quillmarsh.Corvane",
                  "",
                  true,
                  {{"field.1.2.840.113635.100.6.1.9", ""}},
                  {{"com.apple.application-identifier", "R8QZK2MX4T.com.quillmarsh.Corvane"}}}));
    EXPECT_EQ(codeIdentityOfExecutable(PROBE_WITHOUT_IDENTITY_PATH), std::nullopt);
}

TEST(ExecutableIdentity, OnlyTheHostAndPluginAppsMeetTheAgentsRequirement) {
    auto admitted = [](const char* path) {
        auto identity = codeIdentityOfExecutable(path);
        return identity && satisfies(*identity, contract::agentRequirement());
    };
    EXPECT_TRUE(admitted(PROBE_PLUGIN_APP_PATH));
    EXPECT_TRUE(admitted(PROBE_STORE_HOST_APP_PATH));
    EXPECT_FALSE(admitted(PROBE_OTHER_APP_PATH));
    EXPECT_FALSE(admitted(PROBE_OTHER_TEAM_PATH));
    EXPECT_FALSE(admitted(PROBE_WITHOUT_IDENTITY_PATH));
}

TEST(ExecutableIdentity, WhatIsNotAProgramHasNoIdentity) {
    EXPECT_EQ(codeIdentityOfExecutable("/nonexistent/program"), std::nullopt);
    EXPECT_EQ(codeIdentityOfExecutable(fs::temp_directory_path()), std::nullopt);
    EXPECT_EQ(codeIdentityOfExecutable("/dev/null"), std::nullopt);
    EXPECT_EQ(codeIdentityOfExecutable("/proc/self/status"), std::nullopt);
}

TEST_F(AlteredCopies, AFaithfulCopyKeepsTheIdentity) {
    EXPECT_EQ(identityOf(probe_), codeIdentityOfExecutable(PROBE_PLUGIN_APP_PATH));
    EXPECT_TRUE(identityOf(probe_));
}

TEST_F(AlteredCopies, AFifoInPlaceOfAProgramDoesNotBlock) {
    fs::path fifo = folder_ / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(codeIdentityOfExecutable(fifo), std::nullopt);
}

TEST_F(AlteredCopies, EveryTruncationGivesNothing) {
    std::vector<std::size_t> lengths = {
        0, 1, 4, 63, 64, note_, note_ + 12, note_ + 30, probe_.size() - 1};
    for (std::size_t length = 0; length < probe_.size(); length += 211)
        lengths.push_back(length);
    for (std::size_t length : lengths)
        EXPECT_EQ(identityOf(probe_.substr(0, length)), std::nullopt) << length;
}

TEST_F(AlteredCopies, ACorruptHeaderGivesNothing) {
    EXPECT_EQ(identityOf(patched(0, '\x7e')), std::nullopt);                  // magic
    EXPECT_EQ(identityOf(patched(EI_CLASS, char(ELFCLASS32))), std::nullopt); // class
    EXPECT_EQ(identityOf(patched(EI_DATA, char(ELFDATA2MSB))), std::nullopt); // order
    EXPECT_EQ(identityOf(patched(offsetof(Elf64_Ehdr, e_phoff), std::uint64_t(1) << 40)),
              std::nullopt);
    EXPECT_EQ(identityOf(patched(offsetof(Elf64_Ehdr, e_phentsize), std::uint16_t(32))),
              std::nullopt);
    EXPECT_EQ(identityOf(patched(offsetof(Elf64_Ehdr, e_shoff), std::uint64_t(-8))), std::nullopt);
}

TEST_F(AlteredCopies, ACorruptNoteSegmentGivesNothing) {
    std::size_t notes = segmentOffset(PT_NOTE);
    ASSERT_NE(notes, 0u);
    EXPECT_EQ(identityOf(patched(notes + offsetof(Elf64_Phdr, p_offset), std::uint64_t(-4))),
              std::nullopt);
    EXPECT_EQ(identityOf(patched(notes + offsetof(Elf64_Phdr, p_filesz), std::uint64_t(-1))),
              std::nullopt);
    EXPECT_EQ(identityOf(patched(notes + offsetof(Elf64_Phdr, p_align), std::uint64_t(16))),
              std::nullopt);
}

TEST_F(AlteredCopies, ACorruptNoteGivesNothing) {
    EXPECT_EQ(identityOf(patched(note_, std::uint32_t(0xffffffff))), std::nullopt);     // owner
    EXPECT_EQ(identityOf(patched(note_ + 4, std::uint32_t(0x7ffffff0))), std::nullopt); // size
    EXPECT_EQ(identityOf(patched(note_ + 12 + 7, 'X')), std::nullopt);  // owner not ended
    EXPECT_EQ(identityOf(patched(note_ + 20 + 10, 'X')), std::nullopt); // payload key run-on
}

TEST_F(AlteredCopies, AnotherOwnerOrTypeIsNotOurIdentity) {
    EXPECT_EQ(identityOf(patched(note_ + 8, std::uint32_t(2))), std::nullopt);
    EXPECT_EQ(identityOf(patched(note_ + 12, 'c')), std::nullopt);
}

TEST_F(AlteredCopies, TwoIdentitiesInOneProgramGiveNothing) {
    // Make the stack's program header a second note segment over our note.
    std::size_t stack = segmentOffset(PT_GNU_STACK);
    ASSERT_NE(stack, 0u);
    std::uint32_t payloadSize;
    std::memcpy(&payloadSize, probe_.data() + note_ + 4, sizeof payloadSize);
    Elf64_Phdr second{};
    second.p_type = PT_NOTE;
    second.p_offset = note_;
    second.p_filesz = 12 + 8 + (payloadSize + 3) / 4 * 4;
    second.p_align = 4;
    EXPECT_EQ(identityOf(patched(stack, second)), std::nullopt);
    second.p_type = PT_NULL;
    EXPECT_TRUE(identityOf(patched(stack, second)));
}

TEST_F(AlteredCopies, WithoutProgramHeadersTheSectionsAreRead) {
    std::string bytes = patched(offsetof(Elf64_Ehdr, e_phnum), std::uint16_t(0));
    EXPECT_EQ(identityOf(bytes), codeIdentityOfExecutable(PROBE_PLUGIN_APP_PATH));
    bytes.replace(note_ + 4, 4, "\xff\xff\xff\x7f"sv);
    EXPECT_EQ(identityOf(bytes), std::nullopt);
}
