#include "Agent/Utf8.h"
#include "Platform/KernelSetting.h"

#include <gtest/gtest.h>

// The kernel writes "model name\t: " and the name as it is, leading spaces and all.
TEST(LinuxKernelSetting, BrandStringIsTheFirstModelNameAsTheKernelWroteIt) {
    EXPECT_EQ(cpuModelName("processor\t: 0\nmodel name\t:   Padded  \nmodel name\t: B\n"),
              "  Padded  ");
}

// arm64 writes no name: one is made from the first processor's implementer and part.
TEST(LinuxKernelSetting, Arm64NamesTheFirstProcessorByItsIdentificationCodes) {
    auto arm64 = [](const char* implementer, const char* part) {
        return std::string("processor\t: 0\nBogoMIPS\t: 108.00\nCPU implementer\t: ") +
               implementer + "\nCPU architecture: 8\nCPU variant\t: 0x0\nCPU part\t: " + part +
               "\nCPU revision\t: 3\n\nprocessor\t: 1\nmodel name\t: not the first\n";
    };
    EXPECT_EQ(cpuModelName(arm64("0x41", "0xd08")), "ARM Cortex-A72");
    EXPECT_EQ(cpuModelName(arm64("0x41", "0xd8f")), "ARM part 0xd8f");
    EXPECT_EQ(cpuModelName(arm64("0x6d", "0x12")), "implementer 0x6d part 0x012");
    EXPECT_EQ(cpuModelName(arm64("0x41", "d08")), std::nullopt);
    EXPECT_EQ(cpuModelName(arm64("0x41", "0xd08z")), std::nullopt);
    EXPECT_EQ(cpuModelName("processor\t: 0\ncpu\t\t: POWER9\n"), std::nullopt);
}

TEST(Utf8, ReplacesEachMaximalIllFormedPart) {
    EXPECT_EQ(decodeUtf8Lossy("caf\u00E9|\300\257|\342\202z|\360\237\230"),
              "caf\u00E9|\uFFFD\uFFFD|\uFFFDz|\uFFFD");
}
