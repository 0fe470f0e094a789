#include "Agent/KernelText.h"
#include "Platform/KernelSetting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace std::string_literals;

// Asks for the size, then the text into a buffer of that size; ends at the first zero
// byte or the buffer's end, and replaces what is not UTF-8.
TEST(KernelText, ReadsTheTextUpToTheFirstZeroInTwoCalls) {
    // The value, which call fails (0: none), the text.
    const std::tuple<std::string, int, std::optional<std::string>> cases[] = {
        {"Intel(R) Xeon(R)  \0junk"s, 0, "Intel(R) Xeon(R)  "},
        {"A\377B\342\202", 0, "A\uFFFDB\uFFFD"},
        {"\0"s, 0, std::nullopt},
        {"Apple M1\0"s, 1, std::nullopt},
        {"Apple M1\0"s, 2, std::nullopt},
    };
    for (const auto& [value, failingCall, expected] : cases) {
        int calls = 0;
        auto setting = [&](const char*, void* buffer, std::size_t* size) {
            if (++calls == failingCall)
                return -1;
            if (buffer)
                std::memcpy(buffer, value.data(), std::min(*size, value.size()));
            *size = value.size();
            return 0;
        };
        EXPECT_EQ(sysctlString("machdep.cpu.brand_string", setting), expected) << value;
    }
}

// The kernel writes "model name\t: " and the name as it is, leading spaces and all.
TEST(LinuxKernelSetting, BrandStringIsTheFirstModelNameAsTheKernelWroteIt) {
    std::istringstream cpuinfo("processor\t: 0\nmodel name\t:   Padded  \nmodel name\t: B\n");
    EXPECT_EQ(cpuModelName(cpuinfo), "  Padded  ");
}
