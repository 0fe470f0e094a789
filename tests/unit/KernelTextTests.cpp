#include "Agent/Utf8.h"
#include "Platform/KernelSetting.h"

#include <gtest/gtest.h>

// The kernel writes "model name\t: " and the name as it is, leading spaces and all.
TEST(LinuxKernelSetting, BrandStringIsTheFirstModelNameAsTheKernelWroteIt) {
    EXPECT_EQ(cpuModelName("processor\t: 0\nmodel name\t:   Padded  \nmodel name\t: B\n"),
              "  Padded  ");
}

TEST(Utf8, ReplacesEachMaximalIllFormedPart) {
    EXPECT_EQ(decodeUtf8Lossy("caf\u00E9|\300\257|\342\202z|\360\237\230"),
              "caf\u00E9|\uFFFD\uFFFD|\uFFFDz|\uFFFD");
}
