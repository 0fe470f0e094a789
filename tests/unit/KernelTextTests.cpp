#include "Agent/KernelText.h"
#include "Agent/Utf8.h"
#include "Platform/KernelSetting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

// A kernel setting holding exactly `value`, answering in the two-call manner.
struct FakeSetting {
    explicit FakeSetting(std::string value, int failOnCall = 0)
        : value(std::move(value)), failOnCall(failOnCall) {}

    std::string value;
    int failOnCall; // 1 or 2 makes that call fail
    int calls = 0;
    std::vector<std::string> buffersSeen;

    int operator()(const char*, void* buffer, std::size_t* size) {
        ++calls;
        if (calls == failOnCall)
            return -1;
        if (!buffer) {
            *size = value.size();
            return 0;
        }
        buffersSeen.emplace_back(static_cast<char*>(buffer), *size);
        std::memcpy(buffer, value.data(), std::min(*size, value.size()));
        return 0;
    }
};

std::optional<std::string> read(FakeSetting& setting) {
    return sysctlString("machdep.cpu.brand_string", std::ref(setting));
}

} // namespace

TEST(KernelText, ReadsUpToTheFirstZeroAndKeepsSpaces) {
    FakeSetting setting{std::string("Intel(R) Xeon(R)  \0junk", 24)};
    EXPECT_EQ(read(setting), "Intel(R) Xeon(R)  ");
    EXPECT_EQ(setting.calls, 2);
    // The second call gets a zeroed buffer of exactly the announced size.
    ASSERT_EQ(setting.buffersSeen.size(), 1u);
    EXPECT_EQ(setting.buffersSeen[0], std::string(24, '\0'));
}

TEST(KernelText, TooShortOrFailingSettingsAreAbsent) {
    FakeSetting oneByte{std::string(1, '\0')};
    EXPECT_EQ(read(oneByte), std::nullopt);
    EXPECT_EQ(oneByte.calls, 1);
    FakeSetting empty{""};
    EXPECT_EQ(read(empty), std::nullopt);
    FakeSetting firstFails{std::string("Apple M1\0", 9), 1};
    EXPECT_EQ(read(firstFails), std::nullopt);
    FakeSetting secondFails{std::string("Apple M1\0", 9), 2};
    EXPECT_EQ(read(secondFails), std::nullopt);
    FakeSetting twoBytes{std::string("A\0", 2)};
    EXPECT_EQ(read(twoBytes), "A");
}

TEST(KernelText, BufferWithoutZeroEndsAtItsOwnEnd) {
    FakeSetting setting{"Apple M4"};
    EXPECT_EQ(read(setting), "Apple M4");
}

TEST(KernelText, IllFormedUtf8IsReplaced) {
    FakeSetting setting{std::string("A\xFF" "B\xE2\x82\0", 6)};
    EXPECT_EQ(read(setting), "A\xEF\xBF\xBD" "B\xEF\xBF\xBD");
}

TEST(Utf8, ReplacesEachMaximalIllFormedPart) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(decodeUtf8Lossy("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(decodeUtf8Lossy("\xF0\x9F\x98"), r);                 // truncated sequence
    EXPECT_EQ(decodeUtf8Lossy("\xC0\xAF"), r + r);                 // overlong form
    EXPECT_EQ(decodeUtf8Lossy("\xED\xA0\x80"), r + r + r);         // surrogate
    EXPECT_EQ(decodeUtf8Lossy("\xE0\x80x"), r + r + "x");
    EXPECT_EQ(decodeUtf8Lossy("\xF4\x90\x80\x80"), r + r + r + r); // beyond U+10FFFF
    EXPECT_EQ(decodeUtf8Lossy("\xE2\x82z"), r + "z");
}

TEST(LinuxKernelSetting, BrandStringIsTheKernelsModelName) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, expected;
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0) {
            expected = line.substr(line.find(':') + 2);
            break;
        }
    auto name = sysctlString("machdep.cpu.brand_string");
    if (expected.empty()) {
        EXPECT_EQ(name, std::nullopt);
    } else {
        EXPECT_EQ(name, expected);
    }

    std::size_t size = 0;
    EXPECT_NE(readKernelSetting("kern.ostype", nullptr, &size), 0);
    char tooSmall[1];
    size = sizeof tooSmall;
    if (!expected.empty()) {
        EXPECT_NE(readKernelSetting("machdep.cpu.brand_string", tooSmall, &size), 0);
    }
}
