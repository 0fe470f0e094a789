#include "Agent/KernelText.h"
#include "Agent/Utf8.h"
#include "Platform/KernelSetting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

using namespace std::string_literals;

TEST(KernelText, ReadsTheTextUpToTheFirstZeroInTwoCalls) {
    // The value, which call fails (0: none), the text.
    std::tuple<std::string, int, std::optional<std::string>> cases[] = {
        {"Intel(R) Xeon(R)  \0junk"s, 0, "Intel(R) Xeon(R)  "},
        {"Apple M4", 0, "Apple M4"}, // no zero byte: ends at the buffer's end
        {"A\377B\342\202\0"s, 0, "A\uFFFDB\uFFFD"},
        {"A\0"s, 0, "A"},
        {"\0"s, 0, std::nullopt},
        {"Apple M1\0"s, 1, std::nullopt},
        {"Apple M1\0"s, 2, std::nullopt},
    };
    for (const auto& [value, failingCall, expected] : cases) {
        int calls = 0;
        auto setting = [&](const char*, void* buffer, std::size_t* size) {
            if (++calls == failingCall)
                return -1;
            if (buffer) { // the second call: a zeroed buffer of exactly the announced size
                EXPECT_EQ(std::string(static_cast<char*>(buffer), *size),
                          std::string(value.size(), '\0'));
                std::memcpy(buffer, value.data(), std::min(*size, value.size()));
            }
            *size = value.size();
            return 0;
        };
        EXPECT_EQ(sysctlString("machdep.cpu.brand_string", setting), expected) << value;
    }
}

TEST(Utf8, ReplacesEachMaximalIllFormedPart) {
    // Well-formed; overlong; surrogate; overlong three-byte; beyond U+10FFFF; cut short by a
    // byte, and by the end.
    EXPECT_EQ(decodeUtf8Lossy("caf\u00E9\U0001F600|\300\257|\355\240\200|\340\200x|"
                              "\364\220\200\200|\342\202z|\360\237\230"),
              "caf\u00E9\U0001F600|\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFDx|"
              "\uFFFD\uFFFD\uFFFD\uFFFD|\uFFFDz|\uFFFD");
}

TEST(LinuxKernelSetting, BrandStringIsTheFirstModelNameAsTheKernelWroteIt) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"processor\t: 0\nmodel name\t: Intel(R) Xeon(R)\nmodel name\t: B\n", "Intel(R) Xeon(R)"},
        {"model name\t:   Padded  \n", "  Padded  "},
        {"model name\t:\n", ""},
        {"cpu family\t: 6\n", std::nullopt},
    };
    for (const auto& [cpuinfo, expected] : cases)
        EXPECT_EQ(cpuModelName(cpuinfo), expected) << cpuinfo;
    // Other names, and a buffer too small for the value, fail rather than truncate.
    char tooSmall[1];
    std::size_t size = sizeof tooSmall;
    EXPECT_NE(readKernelSetting("kern.ostype", nullptr, &size), 0);
    EXPECT_NE(readKernelSetting("machdep.cpu.brand_string", tooSmall, &size), 0);
}
